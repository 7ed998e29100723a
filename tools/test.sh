#!/usr/bin/env bash
# Installs what is needed, builds Telvane with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test, then runs the threaded tests again under ThreadSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
jobs=$(nproc)

cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVANE_SANITIZE=ON >/dev/null
cmake --build "$top/build-asan" -j "$jobs"
ctest --test-dir "$top/build-asan" --output-on-failure -j "$jobs"

cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVANE_TSAN=ON >/dev/null
cmake --build "$top/build-tsan" -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir "$top/build-tsan" --output-on-failure -j "$jobs" -L threaded
