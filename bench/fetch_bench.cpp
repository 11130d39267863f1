// Time of one get-count fetch (session, request, read, Config.ini write) on loopback against
// the real content site: 100 repetitions of one fetch each; read the _median line.
//
//   ninja -C build/linux fetch_bench && build/linux/bench/fetch_bench
#include <windows.h>

#include <benchmark/benchmark.h>

#include <stdio.h>

#include "SiteProcess.h"
#include "TempDir.h"
#include "TestText.h"
#include "settings/Settings.h"
#include "site/Site.h"

namespace {

void BM_FetchEpisodeCount(benchmark::State& state) {
    for (auto _ : state)
        FetchEpisodeCount();
    if (ReadSettingInt(KeyList) != 220)
        state.SkipWithError("the count was not stored");
}

// The fetch alone, without the settings write.
void BM_FetchText(benchmark::State& state) {
    WCHAR text[TEXT_CAPACITY];
    for (auto _ : state) {
        if (!FetchText(CountUrl, text))
            state.SkipWithError("fetch failed");
        benchmark::DoNotOptimize(text);
    }
}

BENCHMARK(BM_FetchEpisodeCount)
    ->Iterations(1)
    ->Repetitions(100)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FetchText)
    ->Iterations(1)
    ->Repetitions(100)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    velmora::test::TempDir dir(false);
    lstrcpyW(IniPath, velmora::test::Wide(dir.File("Config.ini")));
    try {
        velmora::test::SiteProcess site({"--episodes", "220"}, VELMORA_BENCH_SITE_HOST,
                                        VELMORA_BENCH_SITE_PORT);
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& error) {
        fprintf(stderr, "fetch_bench: %s\n", error.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
