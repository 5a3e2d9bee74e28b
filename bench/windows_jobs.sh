#!/bin/bash
# How long the jobs take on Windows, under Wine against the simulated writer
# daemon, against the protocol's shortest time (bench_jobs: erase 1.5 s, save
# 19.0 s, transmit 18.0 s):
# - torvela-cli.exe, from the button (its clock starts as it presses it) to
#   the job's end (its trace's end note);
# - torvela.exe driven on a virtual display, one window a job, from the
#   job's start to its end as its own saved trace has them.
# Prints one line a job with the ratio; measures, asserts nothing. Run after
# tools/test-windows has built build/windows.
# Usage: bench/windows_jobs.sh [WINDOWS-BUILD-DIR [SIMULATOR]]
set -u
build=${1:-build/windows}
sim=${2:-build/ci/writer_sim/torvela-writer-sim}
cli=$build/cli/torvela-cli.exe
peek_exe=$build/win32/torvela-peek.exe
. "$(dirname "$0")/../tools/wine-common.sh"
. "$(dirname "$0")/../tools/wine-window.sh"
trap 'kill $xvfb_pid 2>/dev/null; end_wine' EXIT
start_display
start_wine
start_sim

job() {  # NAME IDEAL-SECONDS COMPLETE-TEXT ARGUMENTS...
    local name=$1 ideal=$2 done=$3
    shift 3
    "$wine" "$cli" --trace "$@" >"$work/out" 2>&1
    awk -v name="$name" -v ideal="$ideal" -v done="$done" '
        index($0, done) { completed = 1 }
        / # job [0-9]+ ends: / { last = $1 }
        END {
            if (!completed || last == "") { printf "%-22s did not complete\n", name; exit }
            took = last
            printf "%-22s %8.3f s   ideal %6.3f s   ratio %.3f\n", name, took, ideal, took / ideal
        }' "$work/out"
}
job "command line: save" 19.0 "SAVE MEMORIES TO FILE COMPLETE" save "$(windows_path "$work/unit.dat")"
job "command line: erase" 1.5 "ALL FLASH ERASE COMPLETE" erase
job "command line: transmit" 18.0 "TRANSMIT MEMORIES COMPLETE" transmit "$(windows_path "$work/unit.dat")"

# The window: one window a job (save into a new file, erase, transmit the
# file back), each followed by SAVE TRACE, so that the saved trace holds the
# job whole.
window_job() {  # NAME IDEAL BUTTON COMPLETE-TEXT [FILE [VIEW]]: VIEW "open" opens the service view first
    local name=$1 ideal=$2 button=$3 done=$4 file=${5:-} view=${6:-closed}
    "$wine" "$build/win32/torvela.exe" >/dev/null 2>&1 &
    local window=$!
    peek wait
    if [ -n "$file" ]; then click file_select; pick_file "$(windows_path "$file")"; fi
    [ "$view" = open ] && service_view
    # The window's own CPU time over the job (its process's user and system time).
    local ticks_before ticks_after
    ticks_before=$(awk '{print $14 + $15}' "/proc/$window/stat")
    click "$button"
    peek answer yes
    peek wait-text Label9 "$done" 120 >/dev/null
    job_ended
    ticks_after=$(awk '{print $14 + $15}' "/proc/$window/stat")
    local cpu
    cpu=$(awk -v t=$((ticks_after - ticks_before)) -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }')
    [ "$view" = open ] || service_view
    click save_trace
    rm -f "$work/trace.txt"
    type_into_dialog "SAVE TRACE" "$(windows_path "$work/trace.txt")"
    peek close
    wait "$window"  # gone before the next one starts, or peek finds this one
    awk -v name="$name" -v ideal="$ideal" -v cpu="$cpu" '
        function ms(t) { split(t, p, ":"); return ((p[1] * 60 + p[2]) * 60 + p[3]) * 1000 }
        / # job [0-9]+ begins/ { begun = ms($1) }
        / # job [0-9]+ ends: / { if (begun != "") took = ms($1) - begun }
        END {
            if (took == "") { printf "%-30s no whole job in the saved trace\n", name; exit }
            printf "%-30s %8.3f s   ideal %6.3f s   ratio %.3f   window CPU %s s\n", name, took / 1000, ideal, took / 1000 / ideal, cpu
        }' "$work/trace.txt" 2>/dev/null || printf '%-30s no trace saved\n' "$name"
}
window_job "window: save" 19.0 ramdata_get "SAVE MEMORIES TO FILE COMPLETE" "$work/window.dat"
window_job "window: erase" 1.5 allunlock_erase "ALL FLASH ERASE COMPLETE"
window_job "window: transmit" 18.0 ramdata_store "TRANSMIT MEMORIES COMPLETE" "$work/window.dat"

# The service view's cost: the same save with the view closed and open, on
# an idle machine and beside a load of one busy process a core. The
# sequencer's phase is 0.5 s: the open view's save should stay within one of
# the closed view's, its CPU within 1.5 times.
# Each save takes the unit out of the writer; the command line puts it back.
restore() { "$wine" "$cli" -q transmit "$(windows_path "$work/window.dat")" >/dev/null 2>&1; }
window_job "window: save, view closed" 19.0 ramdata_get "SAVE MEMORIES TO FILE COMPLETE" "$work/closed.dat"
restore
window_job "window: save, view open" 19.0 ramdata_get "SAVE MEMORIES TO FILE COMPLETE" "$work/open.dat" open
restore
busy=()
for _ in $(seq "$(nproc)"); do (while :; do :; done) & busy+=($!); done
window_job "loaded: save, view closed" 19.0 ramdata_get "SAVE MEMORIES TO FILE COMPLETE" "$work/closed2.dat"
restore
window_job "loaded: save, view open" 19.0 ramdata_get "SAVE MEMORIES TO FILE COMPLETE" "$work/open2.dat" open
kill "${busy[@]}"
