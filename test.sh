#!/usr/bin/env bash
# Installs what is missing, builds Quillax with its tests and benchmarks, and runs every test
# headless. Ends with CTest's summary; exits non-zero when anything fails.
#
#   ./test.sh              the optimised build in build/test
#   ./test.sh --sanitize   a Debug -O1 build with AddressSanitizer and UndefinedBehaviorSanitizer
#                          in build/sanitize; any finding fails its test
set -euo pipefail
cd "$(dirname "$0")"

sanitize=0
case "${1:-}" in
  "") ;;
  --sanitize) sanitize=1 ;;
  *) echo "usage: $0 [--sanitize]" >&2; exit 2 ;;
esac

./scripts/install-deps.sh

if [ "$sanitize" -eq 1 ]; then
  build=build/sanitize
  # The browser engine inside Qt WebEngine frees with a size other than the one it allocated
  # (operator delete with a size); that is its own and nothing we can mend, so this one check
  # is off. The leak check is off too: at exit the browser engine, fontconfig and Qt's network
  # thread leave memory they keep for the whole process, and without their symbols no
  # suppression can tell it from ours. Every other check stays on; UBSan stops at its first
  # finding, so a finding fails its test.
  export ASAN_OPTIONS="new_delete_type_mismatch=0:detect_leaks=0"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
  # The test programs run once while building, to list their tests, so the options are set
  # before the build.
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLAX_SANITIZE=ON \
    -DQUILLAX_BUILD_TESTS=ON
else
  build=build/test
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLAX_BUILD_TESTS=ON
fi
cmake --build "$build" --parallel

export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking"
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
