// Double-click on an episode row -> first video frame on screen, for the GTK player against a
// bare WebKitWebView (bare_view) loading the same episode page: the bare view is the floor.
// Starts its own Xvfb + openbox, the content site on its own loopback address and demo media,
// then runs the player and the bare view in turn (the order swaps every round), each in a
// fresh working and cache directory. Prints every round, median and spread, and the ratio.
//
//   ninja -C build/linux first_frame_bench && build/linux/bench/first_frame_bench [ROUNDS]
//
// ROUNDS defaults to 10. Needs Xvfb, openbox and the GStreamer plugins the demo media needs.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "SiteProcess.h"
#include "TempDir.h"

extern char** environ;

namespace {

using velmora::test::SiteProcess;
using velmora::test::TempDir;

const char kPlayerTitle[] = "VelmoraPlayer 1.0";
const char kBareTitle[] = "velmora bare view";
const int kEpisode = 1;
// The page's background (#14161c), the video box before its first frame (black) and episode
// 1's background in scripts/make-demo-media.sh, each with how far a channel may stray.
struct Colour {
    int rgb[3];
    int tolerance;
};
const Colour kPageColour = {{0x14, 0x16, 0x1c}, 4};
const Colour kBlack = {{0, 0, 0}, 4};
const Colour kClipColour = {{0x1f, 0x4e, 0x79}, 24};
// Both browser areas are 640x535 at the window's client origin; the video (640x360 scaled to
// the page width) spans about y 56..396, its episode number lies lower. A thin strip keeps
// the capture cheap (the machine that renders the page is the one polling it).
const int kStripX = 0, kStripY = 100, kStripWidth = 640, kStripHeight = 8;
const int kStep = 2;           // every other pixel in both directions: 320x4 samples
const int kEnoughPixels = 300; // samples of one colour that mean it is really there
const int kPollMs = 2;
const int kSettleMs = 2000;
const int kTimeoutMs = 20000;

double NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void SleepMs(double ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(fmod(ms, 1000) * 1e6)};
    nanosleep(&ts, nullptr);
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

// The process groups running now, for the signal handler: Ctrl+C must not leave an Xvfb or a
// player behind.
volatile sig_atomic_t gGroups[8];

void StopGroupsAndExit(int signal) {
    for (sig_atomic_t group : gGroups)
        if (group > 0)
            kill(-group, SIGKILL);
    _exit(128 + signal);
}

// Windows come and go while the tree is walked; a request about one that has gone fails with
// BadWindow, which is not fatal here.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

// A process started in its own process group, so it and everything it starts (WebKit's web
// and network processes) are stopped together.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
          const std::string& dir, const std::string& log, int displayFd = -1) {
        std::vector<std::string> env = extraEnv;
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            std::string name = entry.substr(0, entry.find('=') + 1);
            bool overridden = std::any_of(env.begin(), env.end(), [&](const std::string& x) {
                return x.compare(0, name.size(), name) == 0;
            });
            if (!overridden)
                env.push_back(entry);
        }
        std::vector<char*> args, envp;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!dir.empty())
            posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (displayFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, displayFd, 3);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        int rc = posix_spawnp(&pid_, args[0], &actions, &attr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        if (rc != 0)
            Fail("cannot start " + argv[0] + ": " + strerror(rc));
        for (volatile sig_atomic_t& group : gGroups)
            if (group == 0) {
                group = pid_;
                break;
            }
    }
    ~Child() { Stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

    // SIGTERM to the group, SIGKILL after 3 s; returns once no process of the group is left.
    void Stop() {
        if (pid_ <= 0)
            return;
        kill(-pid_, SIGTERM);
        for (double start = NowMs(); NowMs() - start < 3000;) {
            waitpid(pid_, nullptr, WNOHANG);
            if (kill(-pid_, 0) != 0)
                break;
            SleepMs(10);
        }
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        while (kill(-pid_, 0) == 0)
            SleepMs(10);
        for (volatile sig_atomic_t& group : gGroups)
            if (group == pid_)
                group = 0;
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

std::string WindowName(Display* display, Window window) {
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        name.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return name;
}

Window FindWindow(Display* display, Window parent, const char* title) {
    Window root, up, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) ||
            attributes.map_state != IsViewable)
            continue;
        if (WindowName(display, children[i]).find(title) != std::string::npos)
            found = children[i];
        else
            found = FindWindow(display, children[i], title);
    }
    if (children)
        XFree(children);
    return found;
}

Window WaitForWindow(Display* display, const char* title, Child& child) {
    for (double start = NowMs(); NowMs() - start < kTimeoutMs; SleepMs(20)) {
        if (!child.Running())
            Fail(std::string("the program showing '") + title + "' exited");
        if (Window window = FindWindow(display, DefaultRootWindow(display), title))
            return window;
    }
    Fail(std::string("no window '") + title + "'");
}

// Captures a strip of the window's client area and counts the sampled pixels of each colour.
class StripProbe {
  public:
    StripProbe(Display* display, Window window) : display_(display) {
        Window child;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), kStripX, kStripY,
                              &rootX_, &rootY_, &child);
    }

    std::vector<int> Count(const std::vector<Colour>& colours) {
        XImage* image = XGetImage(display_, DefaultRootWindow(display_), rootX_, rootY_,
                                  kStripWidth, kStripHeight, AllPlanes, ZPixmap);
        if (!image)
            Fail("XGetImage failed");
        int shifts[3] = {__builtin_ctzl(image->red_mask), __builtin_ctzl(image->green_mask),
                         __builtin_ctzl(image->blue_mask)};
        if (image->bits_per_pixel != 32)
            Fail("the display is not 24-bit colour");
        std::vector<int> matches(colours.size());
        for (int y = 0; y < kStripHeight; y += kStep)
            for (int x = 0; x < kStripWidth; x += kStep) {
                uint32_t pixel;
                memcpy(&pixel, image->data + y * image->bytes_per_line + x * 4, sizeof pixel);
                for (size_t i = 0; i < colours.size(); ++i) {
                    bool near = true;
                    for (int c = 0; c < 3 && near; ++c)
                        near = abs(static_cast<int>((pixel >> shifts[c]) & 0xff) -
                                   colours[i].rgb[c]) <= colours[i].tolerance;
                    matches[i] += near;
                }
            }
        XDestroyImage(image);
        return matches;
    }

  private:
    Display* display_;
    int rootX_ = 0, rootY_ = 0;
};

struct Target {
    const char* name;
    const char* title;
    int clickX, clickY; // client coordinates of the double-click
};

// Player: row 1 of the episode list. Bare view: empty page background below everything.
const Target kPlayer = {"player", kPlayerTitle, 700, 10};
const Target kBare = {"bare", kBareTitle, 320, 500};

// Milliseconds from the click until the episode page's empty video box and until the first
// frame were first seen (the box may be skipped when the frame comes with the first paint).
struct Timing {
    double page;
    double frame;
};

// One run: start, wait until the start page is painted and settled, double-click, time it.
Timing RunOnce(Display* display, const Target& target, const std::vector<std::string>& argv,
               const std::string& siteRoot, const std::string& logDir, int round) {
    TempDir dir(false);
    velmora::test::WriteFileBytes(dir.File("Config.ini"),
                                  "[VelmoraPlayer]\r\nOnce=1\r\nList=1\r\nLast=1\r\nTop=1\r\n"
                                  "Version=1.0\r\n");
    std::vector<std::string> env = {
        "DISPLAY=" + std::string(DisplayString(display)),
        "GDK_BACKEND=x11",
        "NO_AT_BRIDGE=1",
        "XDG_CACHE_HOME=" + dir.File("cache"),
        "XDG_DATA_HOME=" + dir.File("data"),
        "XDG_CONFIG_HOME=" + dir.File("config"),
        // GStreamer's plugin registry is built once, as on any desktop that played a video
        // before; without it every run would scan all plugins first.
        "GST_REGISTRY_1_0=" + logDir + "/gst-registry.bin",
    };
    std::string log = logDir + "/" + target.name + "-" + std::to_string(round) + ".log";
    Child child(argv, env, dir.path(), log);

    Window window = WaitForWindow(display, target.title, child);
    StripProbe probe(display, window);
    double start = NowMs();
    while (probe.Count({kPageColour})[0] < kEnoughPixels) {
        if (NowMs() - start > kTimeoutMs)
            Fail(std::string(target.name) + ": the start page " + siteRoot + " was not shown");
        SleepMs(20);
    }
    int rootX, rootY;
    Window unused;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), target.clickX, target.clickY,
                          &rootX, &rootY, &unused);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XSync(display, False);
    SleepMs(kSettleMs);

    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    SleepMs(80);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    double t0 = NowMs();
    Timing timing = {-1, -1};
    for (;;) {
        double poll = NowMs();
        std::vector<int> counts = probe.Count({kBlack, kClipColour});
        if (timing.page < 0 && (counts[0] >= kEnoughPixels || counts[1] >= kEnoughPixels))
            timing.page = NowMs() - t0;
        if (counts[1] >= kEnoughPixels) {
            timing.frame = NowMs() - t0;
            return timing;
        }
        if (poll - t0 > kTimeoutMs)
            Fail(std::string(target.name) + ": no video frame within 20 s (log: " + log + ")");
        if (!child.Running())
            Fail(std::string(target.name) + " exited (log: " + log + ")");
        SleepMs(std::max(0.0, kPollMs - (NowMs() - poll)));
    }
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    double index = p * (values.size() - 1);
    size_t low = static_cast<size_t>(index);
    size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (index - low);
}

void PrintSummary(const char* name, const std::vector<double>& times) {
    printf("  %-7s median %7.1f ms   min %7.1f  p25 %7.1f  p75 %7.1f  max %7.1f   (%zu runs)\n",
           name, Percentile(times, 0.5), Percentile(times, 0), Percentile(times, 0.25),
           Percentile(times, 0.75), Percentile(times, 1), times.size());
}

// Starts Xvfb on a free display (-displayfd) and openbox on it; returns the display name.
std::string StartDesktop(std::vector<Child*>& children, const std::string& logDir) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        Fail("pipe failed");
    // Above 3, so that the dup2 onto Xvfb's fd 3 is a real one that clears close-on-exec.
    int writeEnd = fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
    close(fds[1]);
    children.push_back(
        new Child({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                  {}, "", logDir + "/xvfb.log", writeEnd));
    close(writeEnd);
    // Xvfb writes the number and the newline separately and dies if the second write fails:
    // the pipe stays open until the newline is in.
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        Fail("Xvfb did not report a display");
    std::string name = ":" + number;
    children.push_back(new Child({"openbox"}, {"DISPLAY=" + name}, "", logDir + "/openbox.log"));
    return name;
}

// openbox is ready once it lists _NET_ACTIVE_WINDOW among what it supports.
void WaitForWindowManager(Display* display) {
    Atom supported = XInternAtom(display, "_NET_SUPPORTED", False);
    Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    for (double start = NowMs(); NowMs() - start < 10000; SleepMs(50)) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, DefaultRootWindow(display), supported, 0, 4096, False,
                               XA_ATOM, &type, &format, &count, &after, &data) == Success &&
            data) {
            Atom* atoms = reinterpret_cast<Atom*>(data);
            bool found = std::find(atoms, atoms + count, active) != atoms + count;
            XFree(data);
            if (found)
                return;
        }
    }
    Fail("openbox did not start");
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 10;
    if (rounds < 1) {
        fprintf(stderr, "usage: first_frame_bench [ROUNDS]\n");
        return 2;
    }
    signal(SIGINT, StopGroupsAndExit);
    signal(SIGTERM, StopGroupsAndExit);
    XSetErrorHandler(IgnoreXError);
    std::vector<Child*> desktop;
    int status = 0;
    char workTemplate[] = "/tmp/first-frame-bench-XXXXXX";
    if (!mkdtemp(workTemplate)) {
        perror("first_frame_bench: mkdtemp");
        return 1;
    }
    // Logs of every process stay here when something fails.
    std::string logDir = workTemplate;
    try {
        std::string media = logDir + "/media";
        std::string make = std::string("bash ") + VELMORA_BENCH_DEMO_MEDIA + " '" + media + "' 1";
        if (system(make.c_str()) != 0)
            Fail("making the demo clip failed");

        std::string registry = "GST_REGISTRY_1_0='" + logDir + "/gst-registry.bin' ";
        if (system((registry + "gst-inspect-1.0 >/dev/null").c_str()) != 0)
            Fail("gst-inspect-1.0 could not build the GStreamer registry");
        std::string displayName = StartDesktop(desktop, logDir);
        Display* display = nullptr;
        for (double start = NowMs(); !display && NowMs() - start < 10000; SleepMs(50))
            display = XOpenDisplay(displayName.c_str());
        if (!display)
            Fail("cannot open display " + displayName);
        int event, error, major, minor;
        if (!XTestQueryExtension(display, &event, &error, &major, &minor))
            Fail("the X server has no XTEST");
        WaitForWindowManager(display);

        SiteProcess site({"--media", media}, VELMORA_BENCH_SITE_HOST, VELMORA_BENCH_SITE_PORT);
        std::string startUrl = site.Root() + "video/player/?flv=index";
        std::string episodeUrl = site.Root() + "video/player/?flv=" + std::to_string(kEpisode);
        std::vector<std::string> playerArgv = {VELMORA_BENCH_PLAYER};
        std::vector<std::string> bareArgv = {VELMORA_BENCH_BARE_VIEW, startUrl, episodeUrl};

        printf("Double-click -> first video frame, episode %d (%s), display %s.\n", kEpisode,
               episodeUrl.c_str(), displayName.c_str());
        printf("Measured: from the second press+release of an XTest double-click being flushed "
               "to the X server (XSync)\nuntil a capture of the browser area first shows the "
               "clip's colour (polled every %d ms); 'page' is\nuntil it first shows the episode "
               "page's empty (black) video box. Each run is a fresh process with an\nempty "
               "cache whose web view has shown the start page for %d ms before the click. The "
               "order\nswaps every round.\n\n",
               kPollMs, kSettleMs);
        printf("round   player page/frame ms   bare page/frame ms\n");
        std::vector<double> player, bare, playerPage, barePage;
        for (int round = 1; round <= rounds; ++round) {
            Timing p, b;
            if (round % 2) {
                p = RunOnce(display, kPlayer, playerArgv, startUrl, logDir, round);
                b = RunOnce(display, kBare, bareArgv, startUrl, logDir, round);
            } else {
                b = RunOnce(display, kBare, bareArgv, startUrl, logDir, round);
                p = RunOnce(display, kPlayer, playerArgv, startUrl, logDir, round);
            }
            player.push_back(p.frame);
            bare.push_back(b.frame);
            playerPage.push_back(p.page);
            barePage.push_back(b.page);
            printf("%5d   %8.1f / %7.1f      %8.1f / %7.1f\n", round, p.page, p.frame, b.page,
                   b.frame);
            fflush(stdout);
        }
        double capture = NowMs();
        for (int i = 0; i < 100; ++i)
            StripProbe(display, DefaultRootWindow(display)).Count({kBlack, kClipColour});
        capture = (NowMs() - capture) / 100;

        printf("\nfirst frame:\n");
        PrintSummary("player", player);
        PrintSummary("bare", bare);
        printf("page shown:\n");
        PrintSummary("player", playerPage);
        PrintSummary("bare", barePage);
        std::vector<double> ratios;
        for (size_t i = 0; i < player.size(); ++i)
            ratios.push_back(player[i] / bare[i]);
        printf("ratio player/bare, first frame: %.2f (medians); per round %.2f .. %.2f\n",
               Percentile(player, 0.5) / Percentile(bare, 0.5), Percentile(ratios, 0),
               Percentile(ratios, 1));
        printf("one capture of the polled strip takes %.2f ms\n", capture);
        XCloseDisplay(display);
    } catch (const std::exception& e) {
        fprintf(stderr, "first_frame_bench: %s\nlogs: %s\n", e.what(), logDir.c_str());
        status = 1;
    }
    for (auto it = desktop.rbegin(); it != desktop.rend(); ++it)
        delete *it;
    if (status == 0 && system(("rm -rf '" + logDir + "'").c_str()) != 0)
        fprintf(stderr, "first_frame_bench: could not remove %s\n", logDir.c_str());
    return status;
}
