#include "BenchDesktop.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <dirent.h>
#include <fcntl.h>
#include <math.h>
#include <poll.h>
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
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace velmora::bench {
namespace {

// The process groups running now, for the signal handler: Ctrl+C must not leave an Xvfb or a
// player behind.
volatile sig_atomic_t gGroups[16];

void StopGroupsAndExit(int signal) {
    for (sig_atomic_t group : gGroups)
        if (group > 0)
            kill(-group, SIGKILL);
    _exit(128 + signal);
}

// Windows come and go while they are looked at; a request about one that has gone fails
// with BadWindow, which is not fatal here.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
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

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

long FieldKb(const std::string& rollup, const char* field) {
    size_t at = rollup.find(std::string("\n") + field + ":");
    return at == std::string::npos ? -1 : atol(rollup.c_str() + at + strlen(field) + 2);
}

// The fields of DIR/stat after "pid (comm)", which may hold spaces and parentheses:
// [0] state, [1] ppid, ... [11] utime, [12] stime, in clock ticks.
const size_t kUtime = 11, kStime = 12;
std::vector<std::string> StatFields(const std::string& dir) {
    std::string stat = ReadText(dir + "/stat");
    size_t close = stat.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos)
        return fields;
    std::istringstream in(stat.substr(close + 1));
    for (std::string field; in >> field;)
        fields.push_back(field);
    return fields;
}

long TicksOf(const std::vector<std::string>& fields) {
    return atol(fields[kUtime].c_str()) + atol(fields[kStime].c_str());
}

std::string Comm(const std::string& dir) {
    std::string name = ReadText(dir + "/comm");
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

} // namespace

double NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void SleepMs(double ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(fmod(ms, 1000) * 1e6)};
    nanosleep(&ts, nullptr);
}

void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
             const std::string& dir, const std::string& log, int displayFd) {
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
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
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

bool Child::Running() {
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

void Child::Stop() {
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

Desktop::Desktop(const char* name) {
    signal(SIGINT, StopGroupsAndExit);
    signal(SIGTERM, StopGroupsAndExit);
    XSetErrorHandler(IgnoreXError);
    std::string workTemplate = std::string("/tmp/") + name + "-XXXXXX";
    if (!mkdtemp(workTemplate.data()))
        Fail("mkdtemp failed");
    workDir_ = workTemplate;
    // GStreamer's plugin registry is built once, as on any desktop that played a video
    // before; without it every run would scan all plugins first.
    if (system(("GST_REGISTRY_1_0='" + workDir_ + "/gst-registry.bin' gst-inspect-1.0 >/dev/null")
                   .c_str()) != 0)
        Fail("gst-inspect-1.0 could not build the GStreamer registry");

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        Fail("pipe failed");
    // Above 3, so that the dup2 onto Xvfb's fd 3 is a real one that clears close-on-exec.
    int writeEnd = fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
    close(fds[1]);
    children_.push_back(
        new Child({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                  {}, "", workDir_ + "/xvfb.log", writeEnd));
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
    std::string displayName = ":" + number;
    children_.push_back(
        new Child({"openbox"}, {"DISPLAY=" + displayName}, "", workDir_ + "/openbox.log"));
    for (double start = NowMs(); !display_ && NowMs() - start < 10000; SleepMs(50))
        display_ = XOpenDisplay(displayName.c_str());
    if (!display_)
        Fail("cannot open display " + displayName);
    int event, error, major, minor;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor))
        Fail("the X server has no XTEST");
    WaitForWindowManager(display_);
    // A colour no window paints, so a window that has not drawn yet cannot pass for drawn
    // with what an earlier one left on the screen.
    Window root = DefaultRootWindow(display_);
    XSetWindowBackground(display_, root, 0xff00ff);
    XClearWindow(display_, root);
    XSync(display_, False);
}

Desktop::~Desktop() {
    if (display_)
        XCloseDisplay(display_);
    for (auto it = children_.rbegin(); it != children_.rend(); ++it)
        delete *it;
    if (keepWorkDir_)
        fprintf(stderr, "logs: %s\n", workDir_.c_str());
    else if (system(("rm -rf '" + workDir_ + "'").c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", workDir_.c_str());
}

std::string Desktop::MakeMedia(const std::string& makeScript, int episodes) {
    std::string media = workDir_ + "/media";
    std::string make =
        "bash " + makeScript + " '" + media + "' " + std::to_string(episodes) + " >/dev/null";
    if (system(make.c_str()) != 0)
        Fail("making the demo clips failed");
    return media;
}

std::vector<std::string> Desktop::Environment(const std::string& dir) const {
    return {
        "DISPLAY=" + std::string(DisplayString(display_)),
        "GDK_BACKEND=x11",
        "NO_AT_BRIDGE=1",
        "XDG_CACHE_HOME=" + dir + "/cache",
        "XDG_DATA_HOME=" + dir + "/data",
        "XDG_CONFIG_HOME=" + dir + "/config",
        "GST_REGISTRY_1_0=" + workDir_ + "/gst-registry.bin",
    };
}

void WatchNewWindows(Display* display) {
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, True); // what happened before is of no interest
}

std::string WindowTitle(Display* display, Window window) {
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

// Every new top-level window is created as a child of the root (CreateNotify there) and
// watched from then on for its own MapNotify, which comes after the window manager has
// reparented it.
WindowArea WaitForMappedWindow(Display* display, const char* title, Child& child,
                               double timeoutMs) {
    std::set<Window> mapped;
    for (double start = NowMs();;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == CreateNotify &&
                event.xcreatewindow.parent == DefaultRootWindow(display)) {
                Window window = event.xcreatewindow.window;
                XSelectInput(display, window, StructureNotifyMask);
                XWindowAttributes attributes;
                if (XGetWindowAttributes(display, window, &attributes) &&
                    attributes.map_state != IsUnmapped)
                    mapped.insert(window);
            } else if (event.type == MapNotify) {
                mapped.insert(event.xmap.window);
            }
        }
        for (Window window : mapped) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, window, &attributes) &&
                attributes.map_state == IsViewable &&
                WindowTitle(display, window).find(title) != std::string::npos)
                return {window, attributes.width, attributes.height};
        }
        if (!child.Running())
            Fail(std::string("the program showing '") + title + "' exited");
        if (NowMs() - start > timeoutMs)
            Fail(std::string("no window '") + title + "'");
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, 2);
    }
}

AreaProbe::AreaProbe(Display* display, Window window, int x, int y, int width, int height, int step)
    : display_(display), width_(width), height_(height), step_(step) {
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX_, &rootY_,
                          &child);
}

AreaProbe::Counts AreaProbe::Count(const std::vector<Colour>& colours) {
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), rootX_, rootY_, width_,
                              height_, AllPlanes, ZPixmap);
    if (!image)
        Fail("XGetImage failed");
    if (image->bits_per_pixel != 32)
        Fail("the display is not 24-bit colour");
    int shifts[3] = {__builtin_ctzl(image->red_mask), __builtin_ctzl(image->green_mask),
                     __builtin_ctzl(image->blue_mask)};
    Counts counts;
    counts.near.resize(colours.size());
    for (int y = 0; y < height_; y += step_)
        for (int x = 0; x < width_; x += step_) {
            uint32_t pixel;
            memcpy(&pixel, image->data + y * image->bytes_per_line + x * 4, sizeof pixel);
            int channel[3];
            for (int c = 0; c < 3; ++c)
                channel[c] = static_cast<int>((pixel >> shifts[c]) & 0xff);
            counts.dark += channel[0] < 0x60 && channel[1] < 0x60 && channel[2] < 0x60;
            for (size_t i = 0; i < colours.size(); ++i) {
                bool near = true;
                for (int c = 0; c < 3 && near; ++c)
                    near = abs(channel[c] - colours[i].rgb[c]) <= colours[i].tolerance;
                counts.near[i] += near;
            }
        }
    XDestroyImage(image);
    return counts;
}

std::string PlayerConfig(int episodes, bool onTop) {
    return "[VelmoraPlayer]\r\nOnce=1\r\nList=" + std::to_string(episodes) +
           "\r\nLast=1\r\nTop=" + (onTop ? "1" : "0") + "\r\nVersion=" VELMORA_VERSION "\r\n";
}

void DoubleClick(Display* display, Window window, int x, int y) {
    int rootX, rootY;
    Window unused;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY,
                          &unused);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    for (int press = 0; press < 2; ++press) {
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XSync(display, False);
        SleepMs(80);
    }
}

std::vector<pid_t> TreePids(pid_t root) {
    std::multimap<pid_t, pid_t> children;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            pid_t pid = atoi(entry->d_name);
            if (pid <= 0)
                continue;
            std::vector<std::string> fields = StatFields("/proc/" + std::string(entry->d_name));
            if (fields.size() > 1)
                children.emplace(atoi(fields[1].c_str()), pid);
        }
        closedir(proc);
    }
    std::vector<pid_t> tree;
    std::vector<pid_t> pending = {root};
    while (!pending.empty()) {
        pid_t pid = pending.back();
        pending.pop_back();
        tree.push_back(pid);
        auto range = children.equal_range(pid);
        for (auto it = range.first; it != range.second; ++it)
            pending.push_back(it->second);
    }
    return tree;
}

std::vector<ProcessMemory> TreeMemory(pid_t root) {
    std::vector<ProcessMemory> tree;
    for (pid_t pid : TreePids(root)) {
        std::string dir = "/proc/" + std::to_string(pid);
        std::string rollup = ReadText(dir + "/smaps_rollup");
        std::string name = Comm(dir);
        if (!name.empty())
            tree.push_back({pid, name, FieldKb(rollup, "Pss"), FieldKb(rollup, "Pss_Anon")});
    }
    return tree;
}

std::vector<CpuTicks> TreeCpuTicks(pid_t root) {
    std::vector<CpuTicks> ticks;
    for (pid_t pid : TreePids(root)) {
        std::string dir = "/proc/" + std::to_string(pid);
        std::string process = Comm(dir);
        std::vector<std::string> fields = StatFields(dir);
        if (process.empty() || fields.size() <= kStime)
            continue; // gone meanwhile
        ticks.push_back({pid, 0, process, "", TicksOf(fields)});
        if (DIR* tasks = opendir((dir + "/task").c_str())) {
            while (dirent* entry = readdir(tasks)) {
                pid_t tid = atoi(entry->d_name);
                std::string taskDir = dir + "/task/" + entry->d_name;
                std::vector<std::string> task = StatFields(taskDir);
                if (tid > 0 && task.size() > kStime)
                    ticks.push_back({pid, tid, process, Comm(taskDir), TicksOf(task)});
            }
            closedir(tasks);
        }
    }
    return ticks;
}

double TicksPerSecond() {
    return static_cast<double>(sysconf(_SC_CLK_TCK));
}

long TotalPssKb(const std::vector<ProcessMemory>& processes) {
    long total = 0;
    for (const ProcessMemory& process : processes)
        total += std::max(0L, process.pssKb);
    return total;
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    double index = p * (values.size() - 1);
    size_t low = static_cast<size_t>(index);
    size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (index - low);
}

void PrintSummary(const char* name, const std::vector<double>& values, const char* unit) {
    printf("  %-12s median %7.1f %s   min %7.1f  p25 %7.1f  p75 %7.1f  max %7.1f   (%zu runs)\n",
           name, Percentile(values, 0.5), unit, Percentile(values, 0), Percentile(values, 0.25),
           Percentile(values, 0.75), Percentile(values, 1), values.size());
}

} // namespace velmora::bench
