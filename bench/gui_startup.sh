#!/bin/sh
# Time from start to the window's first paint (target: below 300 ms), best of 5.
set -eu
bin="${1:-build/ci/gui/torvela}"
for _ in 1 2 3 4 5; do
  TORVELA_FIRST_PAINT_EXIT=1 QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$bin" 2>/dev/null
done
