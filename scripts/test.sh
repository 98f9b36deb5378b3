#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole suite under Wine and Xvfb.
# Wine's processes for the build tree's prefix are ended afterwards, whatever the outcome.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TALLY_BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"

export WINEPREFIX=$build/wineprefix
stop_wine() { WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$build" --output-on-failure "$@"
