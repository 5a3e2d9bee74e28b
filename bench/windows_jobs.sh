#!/bin/bash
# How long the jobs take on Windows, under Wine against the simulated writer
# daemon, against the protocol's shortest time (bench_jobs: erase 1.5 s, save
# 19.0 s, transmit 18.0 s):
# - torvela-cli.exe, from the button (its clock starts as it presses it) to
#   the job's COMPLETE;
# - torvela.exe driven on a virtual display, from the job's start to its end
#   as its own saved trace has them.
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
    "$wine" "$cli" "$@" >"$work/out" 2>&1
    awk -v name="$name" -v ideal="$ideal" -v done="$done" '
        index($0, done) { last = $1 }
        END {
            if (last == "") { printf "%-22s did not complete\n", name; exit }
            took = last
            printf "%-22s %8.3f s   ideal %6.3f s   ratio %.3f\n", name, took, ideal, took / ideal
        }' "$work/out"
}
job "command line: save" 19.0 "SAVE MEMORIES TO FILE COMPLETE" save "$(windows_path "$work/unit.dat")"
job "command line: erase" 1.5 "ALL FLASH ERASE COMPLETE" erase
job "command line: transmit" 18.0 "TRANSMIT MEMORIES COMPLETE" transmit "$(windows_path "$work/unit.dat")"

# The window: save into a new file, erase, transmit the file back, then
# SAVE TRACE.
"$wine" "$build/win32/torvela.exe" >/dev/null 2>&1 &
peek wait
run_job() {  # BUTTON COMPLETE-TEXT
    click "$1"
    peek answer yes
    peek wait-text Label9 "$2" 120 >/dev/null
    job_ended
}
click file_select
pick_file "$(windows_path "$work/window.dat")"
run_job ramdata_get "SAVE MEMORIES TO FILE COMPLETE"
run_job allunlock_erase "ALL FLASH ERASE COMPLETE"
click file_select
pick_file "$(windows_path "$work/window.dat")"
run_job ramdata_store "TRANSMIT MEMORIES COMPLETE"
xdotool key ctrl+shift+F12
sleep 0.5
# SAVE TRACE stands in the service view's last row, 380 px right of the
# client area's edge; the status line's centre tells where that edge is.
read -r x y < <(peek point Label9 | tr -d "\r")
xdotool mousemove $((x - 240 - 128 + 380 + 58)) $((y - 16 - 12 + 760 + 12)) click 1
type_into_dialog "SAVE TRACE" "$(windows_path "$work/trace.txt")"
peek close
awk '
    function ms(t) { split(t, p, ":"); return ((p[1] * 60 + p[2]) * 60 + p[3]) * 1000 }
    / # job [0-9]+ begins/ { begun[$5] = ms($1) }
    / # job [0-9]+ ends: / { if ($5 in begun) took[$5] = ms($1) - begun[$5] }
    END {
        split("7 4 6", jobs, " ")
        name[7] = "window: erase"; ideal[7] = 1.5
        name[4] = "window: save"; ideal[4] = 19.0
        name[6] = "window: transmit"; ideal[6] = 18.0
        for (i = 1; i <= 3; ++i) {
            j = jobs[i]
            # The saved trace holds the last job whole; an earlier long one
            # may have lost its start.
            if (!(j in took)) { printf "%-22s its start is no longer in the trace\n", name[j]; continue }
            printf "%-22s %8.3f s   ideal %6.3f s   ratio %.3f\n", name[j], took[j] / 1000, ideal[j], took[j] / 1000 / ideal[j]
        }
    }' "$work/trace.txt"
