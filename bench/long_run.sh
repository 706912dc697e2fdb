#!/usr/bin/env bash
# The long run's figures: 200 records against the demo site with a one-a-second throttle per
# server, a login that lapses every minute, 3 % flaky answers and a restart of the download
# window halfway. Prints requests per PDF, requests inside a wait, and the wall time against the
# throttle's minimum. About six minutes. Uses the test build (./test.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."
binary=build/test/tests/test_long_run
if [ ! -x "$binary" ]; then
  cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLAX_BUILD_TESTS=ON
  cmake --build build/test --parallel --target test_long_run
fi
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking"
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
"$binary" 2>&1 | grep -E '^long run:|^\[  (PASSED|FAILED)'
