#!/bin/bash
# How long the jobs take on Windows: torvela-cli.exe under Wine against the
# simulated writer daemon, from the button (the command line's clock starts
# as it presses it) to the job's COMPLETE,
# against the protocol's shortest time (bench_jobs: erase 1.5 s, save 19.0 s,
# transmit 18.0 s). Prints one line a job with the ratio; measures, asserts
# nothing. Run after tools/test-windows has built build/windows.
# Usage: bench/windows_jobs.sh [WINDOWS-BUILD-DIR [SIMULATOR]]
set -u
build=${1:-build/windows}
sim=${2:-build/ci/writer_sim/torvela-writer-sim}
cli=$build/cli/torvela-cli.exe
. "$(dirname "$0")/../tools/wine-common.sh"
trap end_wine EXIT
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
job "erase all flash" 1.5 "ALL FLASH ERASE COMPLETE" erase
job "save memories" 19.0 "SAVE MEMORIES TO FILE COMPLETE" save "$(windows_path "$work/unit.dat")"
job "transmit memories" 18.0 "TRANSMIT MEMORIES COMPLETE" transmit "$(windows_path "$work/unit.dat")"
