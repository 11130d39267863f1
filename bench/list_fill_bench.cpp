// How long filling the episode list takes at its 9999-row limit, on the headless backend
// and on the GTK backend (the latter needs a display: run under xvfb-run or a desktop).
//   build/linux/bench/list_fill_bench
#include <windows.h>

#include "backends/gtk/GtkBackend.h"
#include "backends/headless/HeadlessBackend.h"
#include "player/Player.h"
#include "settings/Settings.h"
#include "ui/MainWindow.h"
#include "user32/WindowStore.h"

#include "TempDir.h"

#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <memory>

namespace {

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// A main window with the list box and notice label the fill works on, and a Config.ini
// asking for more rows than the list takes.
void MakeWindowAndSettings(const velmora::test::TempDir& dir) {
    velmora::test::WriteFileBytes(dir.File("Config.ini"),
                                  "[VelmoraPlayer]\r\nList=100000\r\nLast=9999\r\n");
    BuildIniPath();
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ParentProc;
    windowClass.lpszClassName = L"BenchMain";
    RegisterClassExW(&windowClass);
    hMainWnd = CreateWindowExW(0, L"BenchMain", L"bench", WS_CAPTION | WS_SYSMENU, 0, 0, 770, 615,
                               nullptr, nullptr, nullptr, nullptr);
    hEpisodeList =
        CreateWindowExW(0x300, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY,
                        642, 0, 120, 500, hMainWnd, (HMENU)1001, nullptr, nullptr);
    hNoticeLabel = CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE, 10, 547, 450, 25,
                                   hMainWnd, nullptr, nullptr, nullptr);
    ShowWindow(hMainWnd, SW_SHOW);
}

void FillAndCheck(benchmark::State& state) {
    for (auto _ : state) {
        FillEpisodeList();
        if (SendMessageW(hEpisodeList, LB_GETCOUNT, 0, 0) != MAX_EPISODE_ROWS)
            state.SkipWithError("the list does not hold 9999 rows");
    }
    state.counters["rows"] = MAX_EPISODE_ROWS;
}

void BM_FillEpisodeListHeadless(benchmark::State& state) {
    velmora::test::TempDir dir;
    velmora::platform::HeadlessBackend backend;
    MakeWindowAndSettings(dir);
    FillAndCheck(state);
}
BENCHMARK(BM_FillEpisodeListHeadless)->Unit(benchmark::kMillisecond);

void BM_FillEpisodeListGtk(benchmark::State& state) {
    static std::unique_ptr<velmora::platform::GtkBackend> backend;
    if (!backend) {
        backend = std::make_unique<velmora::platform::GtkBackend>();
        std::string error;
        if (!backend->Start(nullptr, nullptr, error)) {
            state.SkipWithError(("no display for the GTK backend: " + error).c_str());
            return;
        }
    }
    velmora::test::TempDir dir;
    velmora::platform::SetBackend(backend.get());
    velmora::platform::ResetWindowSystem();
    MakeWindowAndSettings(dir);
    while (gtk_events_pending())
        gtk_main_iteration();
    for (auto _ : state) {
        FillEpisodeList();
        // Count the time until GTK has laid out and drawn the new rows as well.
        while (gtk_events_pending())
            gtk_main_iteration();
        if (SendMessageW(hEpisodeList, LB_GETCOUNT, 0, 0) != MAX_EPISODE_ROWS)
            state.SkipWithError("the list does not hold 9999 rows");
    }
    state.counters["rows"] = MAX_EPISODE_ROWS;
    velmora::platform::ResetWindowSystem();
    velmora::platform::SetBackend(nullptr);
}
BENCHMARK(BM_FillEpisodeListGtk)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
