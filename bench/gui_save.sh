#!/bin/sh
# A save in the Qt window with the service view closed and open, on an idle
# machine and beside a CPU hog of four busy loops a core: time and CPU of
# each, and the ratios. Measures, asserts nothing.
# Usage: bench/gui_save.sh [BUILD-DIR]
set -eu
build="${1:-build/ci}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
echo "idle machine:"
"$build/bench/bench_gui_save" "$build/writer_sim/torvela-writer-sim"
echo "beside a CPU hog (load $(( $(nproc) * 4 )) on $(nproc) cores):"
hogs=""
for _ in $(seq $(( $(nproc) * 4 ))); do
    sh -c 'while :; do :; done' &
    hogs="$hogs $!"
done
trap 'kill $hogs 2>/dev/null' EXIT
"$build/bench/bench_gui_save" "$build/writer_sim/torvela-writer-sim"
