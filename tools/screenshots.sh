#!/usr/bin/env bash
# Makes the pictures of docs/guide.md: builds the screenshot program if needed and runs it on
# the offscreen platform against its own demo site. The user's settings are never touched.
#   tools/screenshots.sh [output folder]   (default: docs/images)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${QUILLAX_BUILD_DIR:-build/screenshots}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
out="${1:-docs/images}"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLAX_BUILD_TESTS=OFF
fi
cmake --build "$build" --parallel --target quillax-screenshots
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
exec "$build/tools/screenshots/quillax-screenshots" "$out"
