#!/usr/bin/env bash
# Builds the two deliverables into build/release (Tallyglass.exe and Tallyhook.dll).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TALLY_BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target Tallyglass Tallyhook
echo "Deliverables:"
ls -l "$build/release"
