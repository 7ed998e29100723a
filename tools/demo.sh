#!/usr/bin/env bash
# Installs what is needed, builds Telvane and takes a short capture from the simulated camera.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DTELVANE_TESTS=OFF >/dev/null
cmake --build "$top/build"
out="${TELVANE_DEMO_DIR:-$top/demo-frames}"
mkdir -p "$out"
"$top/build/bin/telvane-cli" cameras --simulate
"$top/build/bin/telvane-cli" capture --simulate --camera 1 --mode 1 --exposure 500 --count 3 \
  --gain 50 --offset 10 --out "$out/m42.FIT"
