#!/usr/bin/env bash
# Installs what is missing, builds Quillax with its tests and benchmarks, and runs every test
# headless. Ends with CTest's summary; exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLAX_BUILD_TESTS=ON
cmake --build build/test --parallel

export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking"
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
cd build/test
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
