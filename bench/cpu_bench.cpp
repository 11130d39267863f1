// CPU while an episode plays: the GTK player against a bare GTK + WebKit window and
// gst-play-1.0, all on the same 1080p clip.
//
//   cpu_bench [ROUNDS]   (default 3)
//     Makes a 40 s clip with GStreamer (1920x1080, 30 frames/s, H.264 high aimed at
//     5 Mbit/s, AAC) as episode 1 of the benchmark's own site copy, then runs rounds of
//     three programs in turn, the order rotating every round so the machine's other load
//     falls on all three alike: the player, where the episode is opened by a double-click on
//     its row; a bare WebKitWebView (bare_view, the size of the player's browser area)
//     loading the same episode page; and gst-play-1.0 playing the file with its default
//     sinks. Each program starts fresh; once the video plays (the page's first report of
//     decoded frames, gst-play's window mapped) it has 5 s to warm up, then the CPU time
//     (user + system) of its whole process tree, WebKit's web and network processes
//     included, is taken over 15 s (100 % = one core), and beside it that of the private X
//     server, which draws for that program alone. Frames decoded and dropped over the same
//     15 s are what the page reports (getVideoPlaybackQuality): the site is reached through
//     a relay in this benchmark that adds, to episode pages only, a script reporting them
//     once a second to the relay; the player and the bare view get the same page. Prints
//     every round, the medians, their ratios, and the last round by process and by thread.
//
// Needs Xvfb, openbox, gst-play-1.0 (gstreamer1.0-plugins-base-apps), x264enc
// (gstreamer1.0-plugins-ugly) and avenc_aac (gstreamer1.0-libav).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchDesktop.h"
#include "SiteProcess.h"
#include "TempDir.h"

namespace {

using namespace velmora::bench;
using velmora::test::SiteProcess;
using velmora::test::TempDir;

const int kClipSeconds = 40;
const int kWarmUpMs = 5000;
const int kMeasureMs = 15000;
const int kTimeoutMs = 30000;
const char kQualityPath[] = "/velmora-bench/quality";
const Colour kPageColour = {{0x14, 0x16, 0x1c}, 4};
// Row 1 of the player's episode list, in client coordinates.
const int kFirstRowX = 700, kFirstRowY = 10;

// Episode 1 of `media`: made with the elements scripts/make-demo-media.sh checks for. The
// moving zone plate keeps the encoder near its bit rate, as filmed video would.
void MakeClip(const std::string& media) {
    std::string command =
        "mkdir -p '" + media +
        "' && gst-launch-1.0 -q -e videotestsrc num-buffers=" + std::to_string(kClipSeconds * 30) +
        " pattern=zone-plate kx2=20 ky2=20 kt=1 kt2=2"
        " ! video/x-raw,format=I420,width=1920,height=1080,framerate=30/1"
        " ! timeoverlay font-desc='Sans 48'"
        " ! x264enc bitrate=5000 pass=cbr speed-preset=superfast key-int-max=60"
        " ! video/x-h264,profile=high ! mp4mux faststart=true name=m"
        " ! filesink location='" +
        media +
        "/001.mp4' audiotestsrc num-buffers=" + std::to_string(kClipSeconds * 44100 / 1024) +
        " samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=2 ! audioconvert"
        " ! avenc_aac bitrate=128000 ! m. >/dev/null";
    if (system(command.c_str()) != 0)
        Fail("making the clip failed (gst-launch-1.0 with x264enc and avenc_aac: run "
             "scripts/setup.sh)");
}

// What an episode page last reported, and when it arrived.
struct Quality {
    long total = -1, dropped = -1;
    double at = -1;
};

// Reports the episode page's frames once a second to the relay; the image is never shown.
const char kQualityScript[] = R"js(<script>
(function () {
    var video = document.getElementById('video');
    if (!video || !video.getVideoPlaybackQuality) return;
    setInterval(function () {
        var q = video.getVideoPlaybackQuality();
        new Image().src = '/velmora-bench/quality?total=' + q.totalVideoFrames + '&dropped=' +
            q.droppedVideoFrames;
    }, 1000);
})();
</script>
)js";

// An HTTP relay on the player's site address in front of the site copy: every request goes
// through unchanged but for "Connection: close" (one request a connection keeps it simple),
// episode pages come back with kQualityScript before </body>, and the script's reports are
// answered here.
class QualityRelay {
  public:
    QualityRelay(const std::string& host, int port, const std::string& siteHost, int sitePort)
        : site_(Address(siteHost, sitePort)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = Address(host, port);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 64) != 0)
            Fail("the relay cannot listen on " + host + ":" + std::to_string(port) + ": " +
                 strerror(errno));
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~QualityRelay() {
        stop_ = true;
        acceptor_.join();
        for (std::thread& connection : connections_)
            connection.join();
        close(listener_);
    }
    QualityRelay(const QualityRelay&) = delete;
    QualityRelay& operator=(const QualityRelay&) = delete;

    Quality Last() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(mutex_);
        last_ = Quality();
    }

  private:
    static sockaddr_in Address(const std::string& host, int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
            Fail("not an IPv4 address: " + host);
        return address;
    }

    // Waits at most 100 ms for fd; false once the relay stops.
    bool Ready(int fd, short events) {
        for (;;) {
            pollfd wait{fd, events, 0};
            if (poll(&wait, 1, 100) > 0)
                return true;
            if (stop_)
                return false;
        }
    }

    void Accept() {
        while (Ready(listener_, POLLIN)) {
            int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                connections_.emplace_back([this, client] {
                    Serve(client);
                    close(client);
                });
        }
    }

    bool Send(int fd, const std::string& bytes) {
        for (size_t sent = 0; sent < bytes.size();) {
            if (!Ready(fd, POLLOUT))
                return false;
            ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    // Appends what fd has to `into`; false at the end of the stream or on an error.
    bool Receive(int fd, std::string& into) {
        char buffer[65536];
        if (!Ready(fd, POLLIN))
            return false;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        into.append(buffer, static_cast<size_t>(n));
        return true;
    }

    static long NumberAfter(const std::string& text, const std::string& name) {
        size_t at = text.find(name + "=");
        return at == std::string::npos ? -1 : atol(text.c_str() + at + name.size() + 1);
    }

    void Serve(int client) {
        std::string request;
        while (request.find("\r\n\r\n") == std::string::npos)
            if (request.size() > 65536 || !Receive(client, request))
                return;
        std::string target = request.substr(0, request.find("\r\n"));
        target = target.substr(target.find(' ') + 1);
        target = target.substr(0, target.find(' '));
        if (target.compare(0, strlen(kQualityPath), kQualityPath) == 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            last_ = {NumberAfter(target, "total"), NumberAfter(target, "dropped"), NowMs()};
            Send(client, "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
            return;
        }
        bool episodePage = target.compare(0, 19, "/video/player/?flv=") == 0 &&
                           target.size() > 19 &&
                           target.find_first_not_of("0123456789", 19) == std::string::npos;
        std::string head = request.substr(0, request.find("\r\n") + 2);
        for (size_t line = head.size(); line < request.size();) {
            size_t end = request.find("\r\n", line);
            std::string field = request.substr(line, end - line);
            std::string name = field.substr(0, field.find(':'));
            if (!field.empty() && strcasecmp(name.c_str(), "Connection") != 0 &&
                strcasecmp(name.c_str(), "Keep-Alive") != 0 &&
                strcasecmp(name.c_str(), "Accept-Encoding") != 0)
                head += field + "\r\n";
            line = end + 2;
        }
        head += "Connection: close\r\n\r\n";

        int site = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(site, reinterpret_cast<const sockaddr*>(&site_), sizeof site_) == 0 &&
            Send(site, head)) {
            std::string answer;
            if (episodePage) {
                while (Receive(site, answer)) {
                }
                Send(client, WithQualityScript(answer));
            } else {
                while (Receive(site, answer)) {
                    if (!Send(client, answer))
                        break;
                    answer.clear();
                }
            }
        }
        close(site);
    }

    static std::string WithQualityScript(std::string answer) {
        size_t body = answer.find("\r\n\r\n");
        size_t end = answer.rfind("</body>");
        size_t length = answer.find("\r\nContent-Length: ");
        if (body == std::string::npos || end == std::string::npos || end < body ||
            length == std::string::npos || length > body)
            return answer;
        answer.insert(end, kQualityScript);
        size_t from = length + 18;
        size_t to = answer.find("\r\n", from);
        return answer.substr(0, from) + std::to_string(answer.size() - body - 4) +
               answer.substr(to);
    }

    sockaddr_in site_;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> connections_; // only the acceptor adds, only ~QualityRelay joins
    std::mutex mutex_;
    Quality last_;
};

enum class Kind { Player, BareView, GstPlay };

struct Program {
    const char* name;
    Kind kind;
    std::vector<std::string> argv;
};

// CPU time of one thread or process over the measured 15 s, as cores.
struct Use {
    std::string process, thread;
    pid_t pid;
    double cores;
};

struct Run {
    double cores = 0, xServer = 0;
    long frames = -1, dropped = -1;
    std::vector<Use> processes, threads;
};

void WaitForPage(Display* display, Window window, Child& child, const std::string& log) {
    AreaProbe page(display, window, 0, 100, 640, 8, 2);
    for (double start = NowMs(); page.Count({kPageColour}).near[0] < 300; SleepMs(20)) {
        if (NowMs() - start > kTimeoutMs)
            Fail("the start page was not shown (log: " + log + ")");
        if (!child.Running())
            Fail("the player exited (log: " + log + ")");
    }
}

// Waits until the page reports decoded frames.
void WaitForFrames(QualityRelay& relay, Child& child, const char* name, const std::string& log) {
    for (double start = NowMs(); relay.Last().total <= 0; SleepMs(20)) {
        if (NowMs() - start > kTimeoutMs)
            Fail(std::string(name) + ": the episode page reported no frames (log: " + log + ")");
        if (!child.Running())
            Fail(std::string(name) + " exited (log: " + log + ")");
    }
}

Run RunOnce(Desktop& desktop, QualityRelay& relay, const Program& program, int round) {
    Display* display = desktop.display();
    TempDir dir(false);
    velmora::test::WriteFileBytes(dir.File("Config.ini"), PlayerConfig(1));
    std::string log = desktop.workDir() + "/" + program.name + "-" + std::to_string(round) + ".log";
    relay.Forget();
    WatchNewWindows(display);
    Child child(program.argv, desktop.Environment(dir.path()), dir.path(), log);
    if (program.kind == Kind::Player) {
        Window window =
            WaitForMappedWindow(display, "VelmoraPlayer " VELMORA_VERSION, child, kTimeoutMs)
                .window;
        WaitForPage(display, window, child, log);
        DoubleClick(display, window, kFirstRowX, kFirstRowY);
    }
    if (program.kind == Kind::GstPlay)
        WaitForMappedWindow(display, "", child, kTimeoutMs);
    else
        WaitForFrames(relay, child, program.name, log);

    SleepMs(kWarmUpMs);
    Quality before = relay.Last();
    std::vector<CpuTicks> first = TreeCpuTicks(child.pid());
    std::vector<CpuTicks> xFirst = TreeCpuTicks(desktop.xServerPid());
    double t0 = NowMs();
    SleepMs(kMeasureMs);
    std::vector<CpuTicks> last = TreeCpuTicks(child.pid());
    std::vector<CpuTicks> xLast = TreeCpuTicks(desktop.xServerPid());
    double seconds = (NowMs() - t0) / 1000;
    Quality after = relay.Last();
    if (!child.Running())
        Fail(std::string(program.name) + " exited while measured (log: " + log + ")");
    // A web process that ended (or a page that went away) would pass for a cheap one.
    if (program.kind != Kind::GstPlay && after.at < NowMs() - 3000)
        Fail(std::string(program.name) + ": the page stopped reporting frames (log: " + log + ")");

    std::map<std::pair<pid_t, pid_t>, long> earlier;
    for (const CpuTicks& t : first)
        earlier[{t.pid, t.tid}] = t.ticks;
    Run run;
    run.xServer = (xLast.front().ticks - xFirst.front().ticks) / TicksPerSecond() / seconds;
    for (const CpuTicks& t : last) {
        auto found = earlier.find({t.pid, t.tid});
        double cores =
            (t.ticks - (found == earlier.end() ? 0 : found->second)) / TicksPerSecond() / seconds;
        (t.tid == 0 ? run.processes : run.threads).push_back({t.process, t.thread, t.pid, cores});
        if (t.tid == 0)
            run.cores += cores;
    }
    if (program.kind != Kind::GstPlay) {
        run.frames = after.total - before.total;
        run.dropped = after.dropped - before.dropped;
    }
    return run;
}

// Each process with its busiest threads (same-named threads summed), down to 1 % of a core.
void PrintBreakdown(const char* name, const Run& run) {
    printf("  %s, %.2f cores in all:\n", name, run.cores);
    for (const Use& process : run.processes) {
        printf("    %-16s pid %-7d %.3f cores:", process.process.c_str(), process.pid,
               process.cores);
        std::map<std::string, std::pair<double, int>> byName;
        for (const Use& thread : run.threads)
            if (thread.pid == process.pid) {
                byName[thread.thread].first += thread.cores;
                ++byName[thread.thread].second;
            }
        std::vector<std::pair<double, std::string>> busiest;
        for (const auto& [thread, use] : byName)
            if (use.first >= 0.01)
                busiest.push_back(
                    {use.first,
                     thread + (use.second > 1 ? " x" + std::to_string(use.second) : "")});
        std::sort(busiest.rbegin(), busiest.rend());
        for (const auto& [cores, thread] : busiest)
            printf("  %s %.3f", thread.c_str(), cores);
        printf("\n");
    }
}

// The machine's other work shows in the figures: "1-min 5-min 15-min running/threads ...".
std::string LoadAverage() {
    char text[128] = "";
    if (FILE* file = fopen("/proc/loadavg", "r")) {
        if (!fgets(text, sizeof text, file))
            text[0] = 0;
        fclose(file);
    }
    return text;
}

std::string Frames(const Run& run) {
    if (run.frames < 0)
        return "      -";
    return std::to_string(run.dropped) + "/" + std::to_string(run.frames);
}

int Rounds(Desktop& desktop, QualityRelay& relay, const std::vector<Program>& programs, int rounds,
           const std::string& episodeUrl, double megabitsPerSecond) {
    printf("An episode playing: a %d s 1920x1080 H.264 + AAC clip, %.1f Mbit/s, 30 frames/s "
           "(%s),\ndisplay %s. CPU (user + system) of the program's whole process tree over "
           "%d s, after %d s of\nplayback to warm up, in %% of one core; beside it the X "
           "server's. Frames dropped/decoded over the\nsame time as the page reports them "
           "(%d shown at full rate). The order rotates every round.\nLoad average at the "
           "start: %s\n",
           kClipSeconds, megabitsPerSecond, episodeUrl.c_str(), DisplayString(desktop.display()),
           kMeasureMs / 1000, kWarmUpMs / 1000, kMeasureMs / 1000 * 30, LoadAverage().c_str());
    printf("round   player %%  X %%  dropped/frames   bare view %%  X %%  dropped/frames   "
           "gst-play %%  X %%\n");
    const size_t count = programs.size();
    std::vector<std::vector<double>> cores(count), withX(count), dropped(count), frames(count);
    std::vector<Run> lastRound(count);
    for (int round = 1; round <= rounds; ++round) {
        std::vector<Run> runs(count);
        for (size_t i = 0; i < count; ++i) {
            size_t which = (i + round) % count;
            runs[which] = RunOnce(desktop, relay, programs[which], round);
        }
        for (size_t i = 0; i < count; ++i) {
            cores[i].push_back(100 * runs[i].cores);
            withX[i].push_back(100 * (runs[i].cores + runs[i].xServer));
            dropped[i].push_back(static_cast<double>(runs[i].dropped));
            frames[i].push_back(static_cast<double>(runs[i].frames));
        }
        printf("%5d   %8.1f %5.1f  %14s   %11.1f %5.1f  %14s   %10.1f %5.1f\n", round,
               cores[0].back(), 100 * runs[0].xServer, Frames(runs[0]).c_str(), cores[1].back(),
               100 * runs[1].xServer, Frames(runs[1]).c_str(), cores[2].back(),
               100 * runs[2].xServer);
        fflush(stdout);
        lastRound = runs;
    }
    printf("\nCPU, the program's processes:\n");
    for (size_t i = 0; i < count; ++i)
        PrintSummary(programs[i].name, cores[i], "% core");
    printf("CPU, the program's processes and the X server:\n");
    for (size_t i = 0; i < count; ++i)
        PrintSummary(programs[i].name, withX[i], "% core");
    printf("frames in %d s, dropped and decoded, as the page reports them:\n", kMeasureMs / 1000);
    for (size_t i = 0; i < count; ++i)
        if (programs[i].kind != Kind::GstPlay) {
            PrintSummary(programs[i].name, dropped[i], "dropped");
            PrintSummary(programs[i].name, frames[i], "decoded");
        }
    printf("by process and thread (cores), last round:\n");
    for (size_t i = 0; i < count; ++i)
        PrintBreakdown(programs[i].name, lastRound[i]);
    auto ratio = [](const std::vector<double>& a, const std::vector<double>& b) {
        return Percentile(a, 0.5) / Percentile(b, 0.5);
    };
    printf("\nload average at the end: %s", LoadAverage().c_str());
    printf("ratios of the medians:\n");
    printf("  CPU, player / gst-play-1.0:              %.2f  (goal <= 1.15)\n",
           ratio(cores[0], cores[2]));
    printf("  CPU, player / bare view:                 %.2f\n", ratio(cores[0], cores[1]));
    printf("  CPU, bare view / gst-play-1.0:           %.2f\n", ratio(cores[1], cores[2]));
    printf("  CPU with the X server, player / gst-play-1.0: %.2f\n", ratio(withX[0], withX[2]));
    printf("  CPU with the X server, player / bare view:    %.2f\n", ratio(withX[0], withX[1]));
    printf("  frames dropped, player - bare view:      %+.0f  (goal <= 0)\n",
           Percentile(dropped[0], 0.5) - Percentile(dropped[1], 0.5));
    printf("  frames decoded, player / bare view:      %.2f\n", ratio(frames[0], frames[1]));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 3;
    if (rounds < 1 || argc > 2) {
        fprintf(stderr, "usage: cpu_bench [ROUNDS]\n");
        return 2;
    }
    std::unique_ptr<Desktop> desktop;
    try {
        desktop = std::make_unique<Desktop>("cpu-bench");
        std::string media = desktop->workDir() + "/media";
        MakeClip(media);
        SiteProcess site({"--media", media}, VELMORA_BENCH_SITE_HOST, 0);
        QualityRelay relay(VELMORA_BENCH_SITE_HOST, VELMORA_BENCH_SITE_PORT, site.Host(),
                           site.Port());
        std::string root =
            "http://" VELMORA_BENCH_SITE_HOST ":" + std::to_string(VELMORA_BENCH_SITE_PORT) + "/";
        std::string episodeUrl = root + "video/player/?flv=1";
        std::vector<Program> programs = {
            {"player", Kind::Player, {VELMORA_BENCH_PLAYER}},
            {"bare view", Kind::BareView, {VELMORA_BENCH_BARE_VIEW, episodeUrl, episodeUrl}},
            {"gst-play-1.0",
             Kind::GstPlay,
             {"gst-play-1.0", "--no-interactive", "-q", media + "/001.mp4"}},
        };
        FILE* clip = fopen((media + "/001.mp4").c_str(), "rb");
        if (!clip || fseek(clip, 0, SEEK_END) != 0)
            Fail("the clip was not made");
        double megabitsPerSecond = ftell(clip) * 8.0 / 1e6 / kClipSeconds;
        fclose(clip);
        return Rounds(*desktop, relay, programs, rounds, episodeUrl, megabitsPerSecond);
    } catch (const std::exception& e) {
        fprintf(stderr, "cpu_bench: %s\n", e.what());
        if (desktop)
            desktop->KeepWorkDir();
        return 1;
    }
}
