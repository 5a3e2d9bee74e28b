#!/bin/bash
# torvela-cli against the simulated writer on a pseudo-terminal: the round
# trip of the memories, a ROM image, one fault for every exit status, the
# argument table, and the daemon leaving a foreign port link alone.
# Usage: test_cli.sh CLI SIMULATOR
set -u
cli=$1
sim=$2
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
ports=$XDG_CONFIG_HOME/torvela/ports
passed=0
failed=0

check() {  # NAME CONDITION...
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name" >&2
    fi
}

sim_pid=
start_sim() {  # simulator options
    "$sim" --port 1 "$@" 2>>"$work/sim.log" &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$ports/com1" ] && return; sleep 0.1; done
    echo "the simulator did not start" >&2
}
stop_sim() {
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
}
run() {  # expected-status operation...: runs the command line, checks its exit status
    local want=$1
    shift
    "$cli" "$@" >"$work/out" 2>"$work/err"
    local got=$?
    check "torvela-cli $* exits $want (got $got: $(tail -n 1 "$work/err"))" [ "$got" = "$want" ]
}

# A writer holding memories: machine version page, CPU type M32R, 32 KB.
head -c 1048576 /dev/zero | tr '\0' '\377' >"$work/blank.bin"
cp "$work/blank.bin" "$work/store.bin"
head -c 32768 /dev/urandom >"$work/memories.bin"
dd if="$work/memories.bin" of="$work/store.bin" bs=1024 seek=64 conv=notrunc status=none
printf 'UNIT 1\000V2.0 A\000LINE 3\000' | dd of="$work/store.bin" bs=1 seek=2560 conv=notrunc status=none
printf '\003\041' | dd of="$work/store.bin" bs=1 seek=0 conv=notrunc status=none

# ---- round trip: save into a new file, erase, transmit into the cleared writer
start_sim --load "$work/store.bin" --save "$work/after.bin"
run 0 save "$work/unit.dat"
check "the saved file has 642 lines" [ "$(wc -l <"$work/unit.dat")" = 642 ]
check "the save printed its page count" grep -q "PAGES 128/128" "$work/out"
run 2 save "$work/unit.dat"  # a memories file now: the window would offer TRANSMIT
check "save says why it refuses" grep -q "TRANSMIT MEMORIES" "$work/err"
run 0 erase
run 0 --quiet transmit "$work/unit.dat"
check "--quiet prints the last status only" [ "$(cat "$work/out")" = "TRANSMIT MEMORIES COMPLETE" ]
stop_sim
check "the memories area is back byte for byte" cmp -s -n 32768 -i 65536:65536 "$work/store.bin" "$work/after.bin"
check "the machine version page is back" cmp -s -n 21 -i 2560:2560 "$work/store.bin" "$work/after.bin"

# ---- a small ROM image (S28) into the image area at 020000
if command -v srec_cat >/dev/null; then
    head -c 4096 /dev/urandom >"$work/image.bin"
    srec_cat "$work/image.bin" -binary -o "$work/image.mot" -motorola -address-length=3
    start_sim --save "$work/rom.bin"
    run 0 --trace transmit-rom "$work/image.mot"
    check "--trace shows the frames" grep -q "> 41 41" "$work/out"
    stop_sim
    check "the image is stored at 020000" cmp -s -n 4096 -i 0:131072 "$work/image.bin" "$work/rom.bin"
fi

# ---- one fault for every exit status
start_sim --fault done:F5:1:ac_ac
run 1 erase
check "the error text is on standard error" grep -q "INSTALLER ERROR" "$work/err"
stop_sim
start_sim --fault echo:F5:1:no_reply
run 1 id-check "$work/unit.dat"
check "a silent writer is a communication error" grep -q "COMMUNICATION ERROR" "$work/err"
stop_sim
start_sim --target-write-ms 600000
"$cli" target-write >"$work/out" 2>"$work/err" &
cli_pid=$!
sleep 1
kill -INT "$cli_pid"
wait "$cli_pid"
check "Ctrl+C ends a target write that waits for ever with 1" [ $? = 1 ]
stop_sim
run 3 --port COM9 erase
run 3 --port "$work/no-such-device" lock-read
run 2 transmit "$work/no-such-file.dat"

# ---- arguments
while read -r args; do
    # shellcheck disable=SC2086
    run 2 $args
done <<'TABLE'
frobnicate
save
transmit-rom
erase extra
--blocks 3,x block-erase
--blocks 0 block-erase
--blocks block-erase
--limit 201 erase
--port COM17 erase
--m32r --m16c erase
--unknown erase
TABLE
run 0 --help
check "--help lists every operation" grep -q "target-direct-write FILE" "$work/out"
run 0 --version

# ---- the simulator leaves a link it did not make alone
ln -s /dev/null "$ports/com2"
"$sim" --port 2 2>"$work/err" &
wait $!
check "the simulator refuses a foreign com2" [ $? -ne 0 ]
check "the foreign link is still there" [ "$(readlink "$ports/com2")" = /dev/null ]

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
