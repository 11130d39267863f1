#!/usr/bin/env bash
# Sets everything up, builds all three targets and the packages (build/packages), and runs
# every test group (unit, integration, site, gui, windows, packages). Extra arguments go to
# ctest (e.g. -L unit).
#   VELMORA_SANITIZE=1       also builds and runs the unit, integration and site tests
#                            under ASan + UBSan (preset linux-asan)
#   VELMORA_FUZZ_SECONDS=N   also builds the libFuzzer targets (fuzz/) and runs each for N s
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
fuzz_seconds=${VELMORA_FUZZ_SECONDS:-0}
if [[ "${VELMORA_SKIP_SETUP:-}" != 1 ]]; then
    if [[ $fuzz_seconds -gt 0 ]]; then scripts/setup.sh --fuzz; else scripts/setup.sh; fi
fi
# The tests only talk to loopback; a proxy from the environment must not catch that.
export no_proxy="127.0.0.0/8,localhost${no_proxy:+,$no_proxy}"
export NO_PROXY="$no_proxy"

scripts/build.sh linux win32 win64
scripts/package.sh
ctest --test-dir build/linux --output-on-failure -j2 "$@"

if [[ "${VELMORA_SANITIZE:-}" == 1 ]]; then
    scripts/build.sh linux-asan
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/linux-asan --output-on-failure -j2 \
        -L 'unit|integration|site'
fi

if [[ $fuzz_seconds -gt 0 ]]; then
    cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
    cmake --build build/fuzz
    for target in profile_fuzz codepage_fuzz range_fuzz; do
        mkdir -p "build/fuzz/corpus/$target"
        log="build/fuzz/$target.log"
        if ! (cd build/fuzz && "./$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
            "corpus/$target") >"$log" 2>&1; then
            tail -n 40 "$log" >&2
            echo "run-tests.sh: $target failed (log: $log)" >&2
            exit 1
        fi
        echo "$target: $(grep -m1 'stat::number_of_executed_units' "$log")"
    done
fi
