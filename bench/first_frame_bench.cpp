// Double-click on an episode row -> first video frame on screen, for the GTK player against a
// bare WebKitWebView (bare_view) loading the same episode page: the bare view is the floor.
// Starts its own Xvfb + openbox, the content site on its own loopback address and demo media,
// then runs the player and the bare view in turn (the order swaps every round), each in a
// fresh working and cache directory. Prints every round, median and spread, and the ratio.
//
//   ninja -C build/linux first_frame_bench && build/linux/bench/first_frame_bench [ROUNDS]
//
// ROUNDS defaults to 10. Needs Xvfb, openbox and the GStreamer plugins the demo media needs.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
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

const char kPlayerTitle[] = "VelmoraPlayer " VELMORA_VERSION;
const char kBareTitle[] = "velmora bare view";
const int kEpisode = 1;
// The page's background (#14161c), the video box before its first frame (black) and episode
// 1's background in scripts/make-demo-media.sh, each with how far a channel may stray.
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

AreaProbe StripProbe(Display* display, Window window) {
    return AreaProbe(display, window, kStripX, kStripY, kStripWidth, kStripHeight, kStep);
}

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
Timing RunOnce(Desktop& desktop, const Target& target, const std::vector<std::string>& argv,
               const std::string& siteRoot, int round) {
    Display* display = desktop.display();
    TempDir dir(false);
    velmora::test::WriteFileBytes(dir.File("Config.ini"), PlayerConfig(1, true));
    std::string log = desktop.workDir() + "/" + target.name + "-" + std::to_string(round) + ".log";
    WatchNewWindows(display);
    Child child(argv, desktop.Environment(dir.path()), dir.path(), log);

    Window window = WaitForMappedWindow(display, target.title, child, kTimeoutMs).window;
    AreaProbe probe = StripProbe(display, window);
    double start = NowMs();
    while (probe.Count({kPageColour}).near[0] < kEnoughPixels) {
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
        std::vector<int> counts = probe.Count({kBlack, kClipColour}).near;
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

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 10;
    if (rounds < 1) {
        fprintf(stderr, "usage: first_frame_bench [ROUNDS]\n");
        return 2;
    }
    std::unique_ptr<Desktop> desktop;
    try {
        desktop = std::make_unique<Desktop>("first-frame-bench");
        Display* display = desktop->display();
        std::string media = desktop->MakeMedia(VELMORA_BENCH_DEMO_MEDIA, 1);
        SiteProcess site({"--media", media}, VELMORA_BENCH_SITE_HOST, VELMORA_BENCH_SITE_PORT);
        std::string startUrl = site.Root() + "video/player/?flv=index";
        std::string episodeUrl = site.Root() + "video/player/?flv=" + std::to_string(kEpisode);
        std::vector<std::string> playerArgv = {VELMORA_BENCH_PLAYER};
        std::vector<std::string> bareArgv = {VELMORA_BENCH_BARE_VIEW, startUrl, episodeUrl};

        printf("Double-click -> first video frame, episode %d (%s), display %s.\n", kEpisode,
               episodeUrl.c_str(), DisplayString(display));
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
                p = RunOnce(*desktop, kPlayer, playerArgv, startUrl, round);
                b = RunOnce(*desktop, kBare, bareArgv, startUrl, round);
            } else {
                b = RunOnce(*desktop, kBare, bareArgv, startUrl, round);
                p = RunOnce(*desktop, kPlayer, playerArgv, startUrl, round);
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
        PrintSummary("player", player, "ms");
        PrintSummary("bare", bare, "ms");
        printf("page shown:\n");
        PrintSummary("player", playerPage, "ms");
        PrintSummary("bare", barePage, "ms");
        std::vector<double> ratios;
        for (size_t i = 0; i < player.size(); ++i)
            ratios.push_back(player[i] / bare[i]);
        printf("ratio player/bare, first frame: %.2f (medians); per round %.2f .. %.2f\n",
               Percentile(player, 0.5) / Percentile(bare, 0.5), Percentile(ratios, 0),
               Percentile(ratios, 1));
        printf("one capture of the polled strip takes %.2f ms\n", capture);
    } catch (const std::exception& e) {
        fprintf(stderr, "first_frame_bench: %s\n", e.what());
        if (desktop)
            desktop->KeepWorkDir();
        return 1;
    }
    return 0;
}
