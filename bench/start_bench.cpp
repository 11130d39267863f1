// Start-up and memory of the GTK player against its floors, and its memory over a long
// evening of episodes.
//
//   start_bench [ROUNDS]           (default 5)
//     Rounds of three fresh starts: the player, a bare GTK window (bare_window) and a bare
//     GTK + WebKit window (bare_view) showing the same start page; the order rotates every
//     round so the machine's other load falls on all three alike. Each start is measured
//     from exec to its window mapped (X events, checked every 2 ms), to its controls drawn
//     (the foot of the window shows the theme's background and text: the player's status
//     bar, the bare window's line), to its start page painted, and by the PSS of all its
//     processes 4 s after exec.
//   start_bench evening [EPISODES] (default 20)
//     One player opens the episodes one after another: odd ones by a double-click on their
//     row, even ones by the page running on when the episode before has ended. PSS and web
//     processes after each episode is on screen, and how long the window took at most to
//     answer a _NET_WM_PING sent every 100 ms.
//
// Needs Xvfb, openbox and the GStreamer plugins the demo media needs.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <utility>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchDesktop.h"
#include "SiteProcess.h"
#include "TempDir.h"

namespace {

using namespace velmora::bench;
using velmora::test::SiteProcess;
using velmora::test::TempDir;

// GTK's default theme paints window backgrounds #f6f5f4; the site's pages are #14161c.
const Colour kThemeBackground = {{0xf6, 0xf5, 0xf4}, 8};
const Colour kPageColour = {{0x14, 0x16, 0x1c}, 4};
const int kPollMs = 2;
const int kTimeoutMs = 20000;
const int kMemoryAtMs = 4000;
const int kFootHeight = 20; // the status bar's height and the bare window's line

struct Program {
    const char* name;
    const char* title;
    std::vector<std::string> argv;
    bool controls; // has controls whose drawing is timed
    bool page;     // shows the start page
};

struct Start {
    double mapped = -1, drawn = -1, page = -1;
    std::vector<ProcessMemory> memory;
};

Start RunStart(Desktop& desktop, const Program& program, int round) {
    Display* display = desktop.display();
    TempDir dir(false);
    velmora::test::WriteFileBytes(dir.File("Config.ini"), PlayerConfig(1));
    std::string log = desktop.workDir() + "/" + program.name + "-" + std::to_string(round) + ".log";
    WatchNewWindows(display);
    double t0 = NowMs();
    Child child(program.argv, desktop.Environment(dir.path()), dir.path(), log);
    WindowArea area = WaitForMappedWindow(display, program.title, child, kTimeoutMs);
    Start start;
    start.mapped = NowMs() - t0;

    AreaProbe foot(display, area.window, 0, area.height - kFootHeight, area.width, kFootHeight, 2);
    AreaProbe page(display, area.window, 0, 100, 640, 8, 2);
    const int footSamples = (area.width / 2) * (kFootHeight / 2);
    for (;;) {
        double poll = NowMs();
        if (program.controls && start.drawn < 0) {
            AreaProbe::Counts counts = foot.Count({kThemeBackground});
            if (counts.near[0] > footSamples / 3 && counts.dark >= 5)
                start.drawn = NowMs() - t0;
        }
        if (program.page && start.page < 0 && page.Count({kPageColour}).near[0] >= 300)
            start.page = NowMs() - t0;
        if ((!program.controls || start.drawn >= 0) && (!program.page || start.page >= 0))
            break;
        if (poll - t0 > kTimeoutMs)
            Fail(std::string(program.name) + ": not drawn within 20 s (log: " + log + ")");
        if (!child.Running())
            Fail(std::string(program.name) + " exited (log: " + log + ")");
        SleepMs(std::max(0.0, kPollMs - (NowMs() - poll)));
    }
    SleepMs(std::max(0.0, kMemoryAtMs - (NowMs() - t0)));
    start.memory = TreeMemory(child.pid());
    return start;
}

void PrintMemory(const char* name, const std::vector<ProcessMemory>& memory) {
    printf("  %s, %.1f MB in all:\n", name, TotalPssKb(memory) / 1024.0);
    for (const ProcessMemory& process : memory)
        printf("    %-16s pid %-7d PSS %7.1f MB  (anonymous %6.1f MB)\n", process.name.c_str(),
               process.pid, process.pssKb / 1024.0, process.anonKb / 1024.0);
}

int StartRounds(Desktop& desktop, const std::string& startUrl, int rounds) {
    std::vector<Program> programs = {
        {"player", "VelmoraPlayer " VELMORA_VERSION, {VELMORA_BENCH_PLAYER}, true, true},
        {"gtk", "velmora bare window", {VELMORA_BENCH_BARE_WINDOW}, true, false},
        {"webkit", "velmora bare view", {VELMORA_BENCH_BARE_VIEW, startUrl, startUrl}, false, true},
    };
    printf("Start-up of the player (%s), a bare GTK window and a bare GTK + WebKit window "
           "(same page), display %s.\n"
           "Milliseconds from exec to: the window mapped (X events, checked every %d ms); its "
           "controls drawn (its foot\nshows the theme's background and text); the start page "
           "painted. PSS of all the program's processes %d s after\nexec. Every start is fresh "
           "(empty working and cache folders); the order rotates every round.\n\n",
           startUrl.c_str(), DisplayString(desktop.display()), kPollMs, kMemoryAtMs / 1000);
    printf("round   player mapped/drawn/page ms  PSS MB   gtk mapped/drawn ms   webkit "
           "mapped/page ms  PSS MB\n");
    std::vector<Start> last(programs.size());
    std::vector<std::vector<double>> mapped(3), drawn(3), page(3), pss(3), anon(3);
    for (int round = 1; round <= rounds; ++round) {
        std::vector<Start> starts(programs.size());
        for (size_t i = 0; i < programs.size(); ++i) {
            size_t which = (i + round) % programs.size();
            starts[which] = RunStart(desktop, programs[which], round);
        }
        for (size_t i = 0; i < programs.size(); ++i) {
            mapped[i].push_back(starts[i].mapped);
            drawn[i].push_back(starts[i].drawn);
            page[i].push_back(starts[i].page);
            pss[i].push_back(TotalPssKb(starts[i].memory) / 1024.0);
            double anonKb = 0;
            for (const ProcessMemory& process : starts[i].memory)
                anonKb += std::max(0L, process.anonKb);
            anon[i].push_back(anonKb / 1024.0);
        }
        printf("%5d   %6.1f / %6.1f / %6.1f      %6.1f   %6.1f / %6.1f       %6.1f / %6.1f  "
               "%6.1f\n",
               round, starts[0].mapped, starts[0].drawn, starts[0].page, pss[0].back(),
               starts[1].mapped, starts[1].drawn, starts[2].mapped, starts[2].page, pss[2].back());
        fflush(stdout);
        last = starts;
    }
    printf("\nwindow mapped:\n");
    for (size_t i = 0; i < programs.size(); ++i)
        PrintSummary(programs[i].name, mapped[i], "ms");
    printf("controls drawn:\n");
    PrintSummary("player", drawn[0], "ms");
    PrintSummary("gtk", drawn[1], "ms");
    printf("start page painted:\n");
    PrintSummary("player", page[0], "ms");
    PrintSummary("webkit", page[2], "ms");
    printf("PSS %d s after exec:\n", kMemoryAtMs / 1000);
    PrintSummary("player", pss[0], "MB");
    PrintSummary("webkit", pss[2], "MB");
    // The libraries' pages count in PSS shared with every other process mapping them, so
    // PSS moves with what else runs on the machine; the anonymous part does not.
    printf("of which anonymous (heap, JIT, ...: not shared with other programs):\n");
    PrintSummary("player", anon[0], "MB");
    PrintSummary("webkit", anon[2], "MB");
    printf("memory by process, last round:\n");
    PrintMemory("player", last[0].memory);
    PrintMemory("gtk", last[1].memory);
    PrintMemory("webkit", last[2].memory);

    auto ratio = [](const std::vector<double>& a, const std::vector<double>& b) {
        return Percentile(a, 0.5) / Percentile(b, 0.5);
    };
    printf("\nratios of the medians:\n");
    printf("  window on screen, player drawn / bare GTK drawn:      %.2f  (goal <= 1.5)\n",
           ratio(drawn[0], drawn[1]));
    printf("  window mapped, player / bare GTK:                     %.2f\n",
           ratio(mapped[0], mapped[1]));
    printf("  start page painted, player / bare GTK + WebKit:       %.2f  (goal <= 1.0)\n",
           ratio(page[0], page[2]));
    printf("  PSS after %d s, player / bare GTK + WebKit:            %.2f  (goal <= 0.85)\n",
           kMemoryAtMs / 1000, ratio(pss[0], pss[2]));
    printf("  anonymous memory after %d s, player / bare GTK + WebKit: %.2f\n", kMemoryAtMs / 1000,
           ratio(anon[0], anon[2]));
    return 0;
}

// Sends _NET_WM_PING to the window every 100 ms and keeps the longest time it took GTK's
// main loop to answer (an answer still outstanding counts with its age).
class Pinger {
  public:
    Pinger(Display* display, Window window)
        : display_(display), window_(window),
          protocols_(XInternAtom(display, "WM_PROTOCOLS", False)),
          ping_(XInternAtom(display, "_NET_WM_PING", False)) {}

    // Handles events and pings for ms milliseconds.
    void Run(double ms) {
        for (double start = NowMs(); NowMs() - start < ms;) {
            while (XPending(display_)) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == ClientMessage && event.xclient.message_type == protocols_ &&
                    static_cast<Atom>(event.xclient.data.l[0]) == ping_ &&
                    event.xclient.data.l[1] == serial_ && sentAt_ > 0) {
                    longest_ = std::max(longest_, NowMs() - sentAt_);
                    sentAt_ = 0;
                    ++answered_;
                }
            }
            double now = NowMs();
            if (sentAt_ > 0)
                longest_ = std::max(longest_, now - sentAt_);
            else if (now - lastSent_ >= 100)
                Send(now);
            pollfd connection{ConnectionNumber(display_), POLLIN, 0};
            poll(&connection, 1, 2);
        }
    }
    double longest() const { return longest_; }
    int answered() const { return answered_; }

  private:
    void Send(double now) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window_;
        event.xclient.message_type = protocols_;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(ping_);
        event.xclient.data.l[1] = ++serial_;
        event.xclient.data.l[2] = static_cast<long>(window_);
        XSendEvent(display_, window_, False, NoEventMask, &event);
        XFlush(display_);
        sentAt_ = lastSent_ = now;
    }

    Display* display_;
    Window window_;
    Atom protocols_, ping_;
    long serial_ = 0;
    double sentAt_ = 0, lastSent_ = 0, longest_ = 0;
    int answered_ = 0;
};

// The rows of the list box at client x 642..762, y 0..500: where the selected one (the
// theme's selection blue) is, as top and bottom.
const Colour kSelection = {{0x35, 0x84, 0xe4}, 24};

std::pair<int, int> SelectedRow(Display* display, Window window) {
    int top = -1, bottom = -1;
    for (int y = 0; y < 500; ++y) {
        if (AreaProbe(display, window, 660, y, 1, 1, 1).Count({kSelection}).near[0]) {
            if (top < 0)
                top = y;
            bottom = y;
        }
    }
    if (top < 0)
        Fail("no row of the episode list is selected");
    return {top, bottom};
}

std::string EpisodeTitle(int episode) {
    return "Tessavo第" + std::to_string(episode) + "集";
}

int Evening(Desktop& desktop, int episodes) {
    Display* display = desktop.display();
    TempDir dir(false);
    velmora::test::WriteFileBytes(dir.File("Config.ini"), PlayerConfig(episodes));
    std::string log = desktop.workDir() + "/evening.log";
    WatchNewWindows(display);
    Child child({VELMORA_BENCH_PLAYER}, desktop.Environment(dir.path()), dir.path(), log);
    const char* title = "VelmoraPlayer " VELMORA_VERSION;
    Window window = WaitForMappedWindow(display, title, child, kTimeoutMs).window;
    AreaProbe page(display, window, 0, 100, 640, 8, 2);
    for (double start = NowMs(); page.Count({kPageColour}).near[0] < 300; SleepMs(20))
        if (NowMs() - start > kTimeoutMs)
            Fail("the start page was not shown (log: " + log + ")");
    Pinger pinger(display, window);
    pinger.Run(2000);

    printf("A long evening: %d episodes, odd ones opened by a double-click on their row, even "
           "ones by the page\nrunning on from the one before (its clip ends, 5 s later the "
           "next page). Memory 2 s after each\nepisode's title shows; the window is pinged "
           "(_NET_WM_PING) every 100 ms throughout.\n\n",
           episodes);
    printf("episode  opened by     PSS MB (anonymous)   web processes   UI / web / network PSS MB"
           "   longest ping ms\n");
    std::vector<double> pss, anon;
    for (int episode = 1; episode <= episodes; ++episode) {
        bool click = episode % 2 == 1;
        if (click) {
            std::pair<int, int> row = SelectedRow(display, window);
            int height = row.second - row.first + 1;
            int y = (row.first + row.second) / 2 + (episode == 1 ? 0 : height);
            DoubleClick(display, window, 700, y);
        }
        std::string wanted = EpisodeTitle(episode);
        for (double start = NowMs(); WindowTitle(display, window).find(wanted) == std::string::npos;
             pinger.Run(20)) {
            if (NowMs() - start > 30000)
                Fail("episode " + std::to_string(episode) + " was not opened (title '" +
                     WindowTitle(display, window) + "', log: " + log + ")");
            if (!child.Running())
                Fail("the player exited (log: " + log + ")");
        }
        pinger.Run(2000);
        std::vector<ProcessMemory> memory = TreeMemory(child.pid());
        double ui = 0, web = 0, network = 0, anonKb = 0;
        int webProcesses = 0;
        for (const ProcessMemory& process : memory) {
            double mb = process.pssKb / 1024.0;
            anonKb += std::max(0L, process.anonKb);
            if (process.name.find("WebProces") != std::string::npos) {
                web += mb;
                ++webProcesses;
            } else if (process.name.find("NetworkPr") != std::string::npos) {
                network += mb;
            } else {
                ui += mb;
            }
        }
        pss.push_back(TotalPssKb(memory) / 1024.0);
        anon.push_back(anonKb / 1024.0);
        printf("%7d  %-12s %7.1f (%6.1f)   %13d   %5.1f / %5.1f / %5.1f         %7.1f\n", episode,
               click ? "double-click" : "run-on", pss.back(), anon.back(), webProcesses, ui, web,
               network, pinger.longest());
        fflush(stdout);
        if (episode == episodes) {
            printf("\nPSS after episode %d / after episode 1: %.2f  (goal within 10 %%: 0.90 .. "
                   "1.10)\n",
                   episodes, pss.back() / pss.front());
            printf("anonymous memory after episode %d / after episode 1: %.2f\n", episodes,
                   anon.back() / anon.front());
            printf("web processes left at the end: %d; the window answered %d pings, the "
                   "longest after %.1f ms\n",
                   webProcesses, pinger.answered(), pinger.longest());
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    bool evening = argc > 1 && strcmp(argv[1], "evening") == 0;
    int count = argc > 1 + evening ? atoi(argv[1 + evening]) : (evening ? 20 : 5);
    if (count < 1 || argc > 2 + evening) {
        fprintf(stderr, "usage: start_bench [ROUNDS] | start_bench evening [EPISODES]\n");
        return 2;
    }
    std::unique_ptr<Desktop> desktop;
    try {
        desktop = std::make_unique<Desktop>("start-bench");
        std::string media = desktop->MakeMedia(VELMORA_BENCH_DEMO_MEDIA, evening ? count : 1);
        SiteProcess site({"--media", media}, VELMORA_BENCH_SITE_HOST, VELMORA_BENCH_SITE_PORT);
        std::string startUrl = site.Root() + "video/player/?flv=index";
        return evening ? Evening(*desktop, count) : StartRounds(*desktop, startUrl, count);
    } catch (const std::exception& e) {
        fprintf(stderr, "start_bench: %s\n", e.what());
        if (desktop)
            desktop->KeepWorkDir();
        return 1;
    }
}
