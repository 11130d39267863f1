#!/usr/bin/env bash
# Sets everything up, builds all three targets, and runs every test group (unit,
# integration, site, gui, windows). Extra arguments go to ctest (e.g. -L unit).
#   VELMORA_SANITIZE=1 also builds and runs unit and integration tests under ASan + UBSan.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [[ "${VELMORA_SKIP_SETUP:-}" != 1 ]]; then
    scripts/setup.sh
fi
# The tests only talk to loopback; a proxy from the environment must not catch that.
export no_proxy="127.0.0.0/8,localhost${no_proxy:+,$no_proxy}"
export NO_PROXY="$no_proxy"

scripts/build.sh linux win32 win64
ctest --test-dir build/linux --output-on-failure -j2 "$@"

if [[ "${VELMORA_SANITIZE:-}" == 1 ]]; then
    scripts/build.sh linux-asan
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/linux-asan --output-on-failure -j2 \
        -L 'unit|integration|site'
fi
