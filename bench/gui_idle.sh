#!/bin/sh
# CPU of the running window, port closed, over 10 s (target: below 1% of a core).
set -eu
bin="${1:-build/ci/gui/torvela}"
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$bin" &
pid=$!
sleep 2
ticks=$(getconf CLK_TCK)
before=$(awk '{print $14 + $15}' /proc/$pid/stat)
sleep 10
after=$(awk '{print $14 + $15}' /proc/$pid/stat)
kill $pid
awk -v a="$after" -v b="$before" -v t="$ticks" 'BEGIN { printf "idle window: %.2f%% of one core (%.0f ms CPU in 10 s)\n", (a-b)/t/10*100, (a-b)/t*1000 }'
