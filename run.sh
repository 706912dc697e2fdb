#!/usr/bin/env bash
# Installs what is missing, builds Quillax in release mode and starts it.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLAX_BUILD_TESTS=OFF
cmake --build build/release --parallel
if [ "$(id -u)" -eq 0 ]; then
  # Chromium refuses to start its sandbox as root.
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
exec ./build/release/src/quillax "$@"
