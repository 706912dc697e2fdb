#!/usr/bin/env bash
# Builds the benchmarks and prints their figures.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLAX_BUILD_TESTS=ON
cmake --build build/bench --parallel
export QT_QPA_PLATFORM=offscreen
for b in build/bench/bench/bench_download_list build/bench/bench/bench_type_recognition \
         build/bench/bench/bench_download_engines build/bench/bench/bench_search \
         build/bench/bench/bench_windows build/bench/bench/bench_queue_store \
         build/bench/bench/bench_small_files build/bench/bench/bench_window_memory \
         build/bench/bench/bench_pdf_check build/bench/bench/bench_record_page; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
# The window benchmark that needs a real X display, composed through (software) OpenGL.
if [ -x build/bench/bench/bench_analysis_window ]; then
  echo "== bench_analysis_window"
  QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS="--disable-background-networking" \
    xvfb-run -a -s "-screen 0 1600x1000x24" build/bench/bench/bench_analysis_window
fi
