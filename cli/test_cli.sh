#!/bin/bash
# torvela-cli against the simulated writer on a pseudo-terminal: the
# README's example as written, the round trip of the memories, a ROM image,
# one fault for every exit status, files refused before anything is sent,
# signals, the argument table, and the simulator and ./launch leaving a
# port link that is not theirs alone.
# Usage: test_cli.sh CLI SIMULATOR SOURCE-DIR BUILD-DIR
set -u
cli=$1
sim=$2
src=$3
build=$4
work=$(mktemp -d)
sims=()
trap 'kill "${sims[@]}" $(jobs -p) 2>/dev/null; [ -n "${KEEP:-}" ] || { chmod -R u+rwx "$work"; rm -rf "$work"; }' EXIT
export XDG_CONFIG_HOME=$work/config
export XDG_DATA_HOME=$work/data
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"
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
start_sim() {  # simulator options: returns once COM1 is linked
    sim_pid=$("$sim" --port 1 --background "$@" 2>>"$work/sim.log")
    sims+=("$sim_pid")
}
stop_sim() {  # waits until the simulator has removed its link
    kill -TERM "$sim_pid" 2>/dev/null
    while kill -0 "$sim_pid" 2>/dev/null; do sleep 0.05; done
}
# Nothing a job leaves behind: no hidden save file, no work folder.
no_leftovers() { ! find "$work" "$TMPDIR" -mindepth 1 \( -name '.*.save-*.tmp' -o -name 'torvela-??????' -type d -o -name 'torvela-*.held' \) | grep -q .; }
not() { ! "$@"; }
json_lines() { python3 -c 'import json, sys; [json.loads(l) for l in open(sys.argv[1])]' "$1"; }
json_field() {  # FILE KEY VALUE: some object in FILE has KEY equal to VALUE
    python3 -c 'import json, sys; sys.exit(not any(str(json.loads(l).get(sys.argv[2])) == sys.argv[3] for l in open(sys.argv[1])))' "$@"
}
s2() {  # ADDRESS DATA (hex): an S2 record with its checksum
    local body sum=0 i
    body=$(printf '%02X%s%s' $((${#2} / 2 + 4)) "$1" "$2")
    for ((i = 0; i < ${#body}; i += 2)); do sum=$((sum + 16#${body:i:2})); done
    printf 'S2%s%02X\r\n' "$body" $((~sum & 255))
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

# ---- the README's command-line example, as written, from a fresh folder
mkdir -p "$work/readme/build/ci/writer_sim" "$work/readme/build/ci/cli"
ln -s "$sim" "$work/readme/build/ci/writer_sim/torvela-writer-sim"
ln -s "$cli" "$work/readme/build/ci/cli/torvela-cli"
awk '/^A scripted save and transmit/ {found = 1} found && /^```sh/ {on = 1; next} on && /^```/ {exit} on' \
    "$src/README.md" >"$work/readme/example.sh"
# Twice, as a user would run it again; the second a second later (its file
# name has the time in seconds).
for round in 1 2; do
    (cd "$work/readme" && bash example.sh >out 2>err)
    check "the README example ends with exit status 0 (round $round)" grep -qx "exit status 0" "$work/readme/out"
    check "the README example completes the transmit (round $round)" grep -q "TRANSMIT MEMORIES COMPLETE" "$work/readme/out"
    for _ in $(seq 50); do [ -e "$ports/com2" ] || break; sleep 0.1; done  # the link goes as the process ends
    check "the README example's simulator is gone (round $round)" [ ! -e "$ports/com2" ]
    sleep 1
done
check "the README example saved two files" [ "$(ls "$work"/readme/unit-*.dat | wc -l)" = 2 ]

# ---- round trip: save into a new file, erase, transmit into the cleared writer
start_sim --load "$work/store.bin" --save "$work/after.bin"
run 0 save "$work/unit.dat"
check "the saved file has 642 lines" [ "$(wc -l <"$work/unit.dat")" = 642 ]
check "the save printed its page count" grep -q "PAGES 128/128" "$work/out"
check "a plain progress line names the pass and the time left" grep -q "READ  PAGES 64/128  0:0[0-9] ELAPSED  0:[0-9]* LEFT$" "$work/out"
run 2 save "$work/unit.dat"  # a memories file now: the window would offer TRANSMIT
check "save says why it refuses" grep -q "TRANSMIT MEMORIES" "$work/err"
run 0 erase
run 0 --quiet transmit "$work/unit.dat"
check "--quiet prints the last status only" [ "$(cat "$work/out")" = "TRANSMIT MEMORIES COMPLETE" ]
stop_sim
check "the memories area is back byte for byte" cmp -s -n 32768 -i 65536:65536 "$work/store.bin" "$work/after.bin"
check "the machine version page is back" cmp -s -n 21 -i 2560:2560 "$work/store.bin" "$work/after.bin"
# The history of that round trip: the save with its kept unit, byte for
# byte, private; the unit found again by its file; the erase; the transmit.
run 0 --json history
check "the history lists the save, the erase and the transmit" \
    [ "$(grep -c '"operation":"save memories to file"\|"operation":"erase all flash"\|"operation":"transmit memories"' "$work/out")" -ge 3 ]
kept=$(sed -n 's/.*"operation":"save memories to file".*"outcome":"success".*"kept":"\([^"]*\)".*/\1/p' "$work/out" | tail -n 1)  # the round trip's, after the README example's
check "the save's unit is kept byte for byte" cmp -s "$kept" "$work/unit.dat"
check "the kept unit is the user's alone" [ "$(stat -c %a "$kept")" = 600 ]
check "the data folder is the user's alone" [ "$(stat -c %a "$XDG_DATA_HOME/torvela")" = 700 ]
run 0 history --unit "$work/unit.dat"
check "history --unit finds the save of the unit" grep -q "kept $kept" "$work/out"
run 0 history --outcome "writer refused" --unit "$work/unit.dat"
check "history's filters narrow it" not grep -q "save memories to file" "$work/out"
run 0 --dry-run transmit "$kept"
check "a kept unit can be transmitted as it is" grep -q "DRY RUN of transmit" "$work/out"
# The unit by its digest: a copy with LF line ends under another name.
sed 's/\r$//' "$work/unit.dat" >"$work/lf copy.dat"
run 0 history --unit "$work/lf copy.dat"
check "history --unit finds the unit whatever its file's line ends" grep -q "kept $kept" "$work/out"
check "history --unit lists the transmit of the unit too" grep -q "transmit memories  success" "$work/out"
run 0 --json history --file "$work/unit.dat"
check "a record names the device the job used" grep -q '"device":"/dev/pts/[0-9]*"' "$work/out"
check "a record names the chosen file as the system resolves it" json_field "$work/out" file_resolved "$(readlink -f "$work/unit.dat")"
run 0 history --machine-version "UNIT 1"
check "--machine-version takes the version's first fields as typed" grep -q "save memories to file" "$work/out"
run 0 history --machine-version "UNIT_1/V2.0_A/LINE_3/"
check "--machine-version takes the version as info prints it" grep -q "save memories to file" "$work/out"
run 2 history --outcome nonsense
check "an unknown outcome is a usage error naming the outcomes" grep -q "is no outcome; the outcomes are success, " "$work/err"
"$cli" help history | sed -n '/^--outcome NAME takes one of:/,$p' | tail -n +2 | sed 's/^  //' >"$work/outcomes"
check "help history lists the outcomes" [ "$(wc -l <"$work/outcomes")" = 9 ]
while IFS= read -r name; do
    run 0 history --outcome "$name"
done <"$work/outcomes"
completion=$(PATH=$(dirname "$cli"):$PATH bash -c '. "$1"; COMP_WORDS=(torvela-cli history --outcome ""); COMP_CWORD=3; _torvela_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$src/packaging/torvela-cli.bash-completion")
check "the completion offers exactly the outcomes" [ "$completion" = "$(cat "$work/outcomes")" ]
check "the manual page names every outcome" bash -c 'while IFS= read -r n; do grep -qF "$n" "$1" || exit 1; done <"$2"' _ "$src/packaging/man/torvela-cli.1" "$work/outcomes"
# A kept copy changed after its save is neither offered nor sent.
cp -p "$kept" "$work/kept.was"
printf '0' | dd of="$kept" bs=1 seek=100 conv=notrunc status=none
printf '1' | dd of="$kept" bs=1 seek=101 conv=notrunc status=none
run 0 history --unit "$work/unit.dat"
check "a damaged kept copy is not offered" grep -q "kept $kept  NOT OFFERED, damaged: its SHA-256 is" "$work/out"
run 2 --dry-run transmit "$kept"
check "a damaged kept copy is not sent" grep -q "is a kept copy of a unit, and its SHA-256 is" "$work/err"
cp -p "$work/kept.was" "$kept"
# A history anyone may have written is not read at all.
chmod 0777 "$XDG_DATA_HOME/torvela"
run 2 history
check "a history others may write is refused with the reason" grep -q "the job history is not read: .* others may write to it (mode 0777)" "$work/err"
chmod 0700 "$XDG_DATA_HOME/torvela"

# ---- the service engineer's looks: read commands only, the writer unchanged
python3 - "$work/unit.dat" "$work/changed.dat" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = 23 + 6 + 5 * 530 + 10 + 130 + 30  # page 0500, byte 4F
data[at] = ord("0") if data[at] != ord("0") else ord("1")
open(sys.argv[2], "wb").write(data)
PY
start_sim --load "$work/store.bin" --save "$work/looked.bin"
TORVELA_PORT=COM1 "$cli" --json --trace info >"$work/out" 2>"$work/err"
check "info --json exits 0" [ $? = 0 ]
check "every line of --json is a JSON object" json_lines "$work/out"
check "info names the CPU type" json_field "$work/out" cpu M32R
check "info shows the machine version as a header line" json_field "$work/out" machine_version "UNIT_1/V2.0_A/LINE_3/"
check "info says the writer holds memories" json_field "$work/out" memories held
check "info's last object is the exit status" json_field <(tail -n 1 "$work/out") exit 0
cp "$work/out" "$work/frames"
run 0 --trace compare "$work/unit.dat"
check "compare of the unit's own file says OK" grep -q "COMPARE MEMORIES OK" "$work/out"
cat "$work/out" >>"$work/frames"
run 4 --port=COM1 compare "$work/changed.dat"
check "compare names the differing page and every differing byte" grep -q "DIFFERENT 00000500: 1 byte differs (4F)" "$work/out"
check "compare says nothing was written" grep -q "nothing was written or erased" "$work/err"
# The unit saved earlier as unit.dat is named wherever the writer holds it.
cp "$work/unit.dat" "$work/renamed copy.dat"
run 0 info
check "info names the saved file that holds the writer's unit" grep -q "HELD BY .*save memories to file  $work/unit.dat" "$work/out"
# A backup: the save's file, and the writer keeps its memories.
run 0 backup "$work/before-repair.dat"
check "the backup is the saved file byte for byte" cmp -s "$work/unit.dat" "$work/before-repair.dat"
check "the backup erased nothing" grep -q "BACKUP MEMORIES TO FILE COMPLETE" "$work/out"
run 2 backup "$work/unit.dat"
check "a backup never replaces saved memories" grep -q "holds saved memories" "$work/err"
run 0 --m32r --blocks 3,5 lock-read
check "lock-read names each block it read" grep -qx "ブロック５ ROCK NONBLOCK (not locked)" "$work/out"
run 0 --json --m32r --blocks 3 lock-read
check "lock-read's JSON names the block" json_field "$work/out" block "ブロック３"
run 0 --json history --unit "$work/renamed copy.dat"
check "the backup is recorded with the unit and its kept copy" \
    grep -q '"operation":"backup memories to file".*"unit_sha256":"[0-9a-f]\{64\}".*"kept":"/' "$work/out"
# A job whose record cannot be written ends as it would, and says so.
mkdir -p "$work/taken" && : >"$work/taken/torvela"
XDG_DATA_HOME=$work/taken run 0 info
check "a job not recorded says so, with the reason" grep -q "this job was not recorded in the job history: .*torvela is not a folder" "$work/err"
XDG_DATA_HOME=$work/taken run 0 --json info
check "a job not recorded says so in its last object" json_field <(tail -n 1 "$work/out") exit 0
check "a job not recorded says so to a script" grep -q '"detail":"this job was not recorded in the job history' "$work/out"
stop_sim
check "the looks left the writer as it was" cmp -s "$work/store.bin" "$work/looked.bin"
check "the looks sent no write, erase, lock or switch command" \
    not grep -Eq '> (41 41|20 20|A7 A7|77 77|7A 7A|75 75|25 25|C5 C5)' "$work/frames"
TORVELA_PORT=COM9 "$cli" info >"$work/out" 2>"$work/err"
check "TORVELA_PORT chooses the port" [ $? = 3 ]
check "TORVELA_PORT's port is named" grep -q "COM9" "$work/err"
check "a missing port's error names the ports that are there" grep -q "the ports present here: COM1 (" "$work/err"
run 0 show "$work/unit.dat"
check "show prints the header" grep -q "^HEADER  UNIT_1/V2.0_A/LINE_3/" "$work/out"
check "show prints every page" grep -q "^PAGE 00007F00" "$work/out"
run 4 diff "$work/unit.dat" "$work/changed.dat"
check "diff names the page and the byte" grep -qx "00000500 bytes 4F" "$work/out"
run 0 --json diff "$work/unit.dat" "$work/unit.dat"
check "diff of a file with itself is equal" json_field "$work/out" exit 0
# A header of hostile bytes: an overlong form, a surrogate, ESC and BEL.
python3 - "$work/unit.dat" "$work/hostile.dat" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[0:6] = b"\xc0\xaf\xed\xa0\x80\x1b"
data[7:9] = b"\x07\xff"
open(sys.argv[2], "wb").write(data)
PY
hostile_header() {  # FILE: the header object holds each hostile byte as \uDCXX, ESC and BEL as characters
    python3 -c 'import json, sys; h = [json.loads(l) for l in open(sys.argv[1])][0]["header"]
sys.exit(not h.startswith("\udcc0\udcaf\udced\udca0\udc80\x1b/\x07\udcff"))' "$1"
}
run 0 --json show "$work/hostile.dat"
check "show --json of a hostile header is JSON on every line" json_lines "$work/out"
check "a byte that is no UTF-8 is told from a character" hostile_header "$work/out"
check "show --json ends with its exit object" json_field <(tail -n 1 "$work/out") exit 0
run 4 --json diff "$work/unit.dat" "$work/hostile.dat"
check "diff --json of a hostile header is JSON on every line" json_lines "$work/out"
run 4 --json diff "$work/unit.dat" "$work/changed.dat"
check "diff names a page's first differing byte as a number, as compare does" json_field "$work/out" offset 79
run 0 show "$work/hostile.dat"
check "plain show writes no control byte" not grep -q $'[\x01-\x09\x0b-\x1f]' "$work/out"
check "plain show writes them as \\xXX" grep -q '^HEADER  \\xC0\\xAF\\xED\\xA0\\x80\\x1B/\\x07\\xFF' "$work/out"
# Every exit ends --json with its exit object: a usage error, a file refused.
while read -r want args; do
    # shellcheck disable=SC2086
    run "$want" --json $args
    check "--json $args is JSON on every line" json_lines "$work/out"
    check "--json $args ends with exit $want" json_field <(tail -n 1 "$work/out") exit "$want"
done <<TABLE
2 --blocks x erase
2 transmit $work/no-such.dat
2 show $work/pipe-or-nothing.dat
2 diff $work/unit.dat $work/no-such.dat
2 --dry-run transmit-rom $work/no-such.mot
2 --m32r --blocks 3 erase
3 --port COM9 erase
TABLE
run 0 help compare
ops_in_help=$("$cli" --help | awk '/^operations:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }' | sort)
ops_in_completion=$(sed -n '/local ops="/,/"$/p' "$src/packaging/torvela-cli.bash-completion" |
    sed 's/local ops=//; s/"//g' | tr ' ' '\n' | grep -v '^help$' | grep . | sort)
check "the completion offers every operation --help lists" [ "$ops_in_help" = "$ops_in_completion" ]
check "help OPERATION gives an example" grep -q "torvela-cli compare unit.dat" "$work/out"
# The dry run is built from the tool's own parts: the tests' writer model
# and virtual-time rig are in no shipped program.
if command -v nm >/dev/null; then
    check "torvela-cli carries no part of the tests' writer model" not grep -q "writer_sim" <(nm -C "$cli")
fi

# ---- a small ROM image (S28) into the image area at 020000
if command -v srec_cat >/dev/null; then
    head -c 4096 /dev/urandom >"$work/image.bin"
    srec_cat "$work/image.bin" -binary -o "$work/image.mot" -motorola -address-length=3
    start_sim --save "$work/rom.bin"
    run 0 --trace transmit-rom "$work/image.mot"
    check "--trace shows the frames" grep -q "> 41 41" "$work/out"
    # A dry run sends nothing (no writer on COM9 at all) and names the pages.
    run 0 --port COM9 --dry-run transmit-rom "$work/image.mot"
    check "a dry run counts the pages of the file" grep -qF "write 16 pages of $work/image.mot: 020000-020F00" "$work/out"
    check "a dry run counts the control pages apart" grep -q "write 3 control pages before them: 000000, 000500-000600" "$work/out"
    check "a dry run names the blocks as the window labels them" grep -q "erase blocks ブロック２, ブロック４, " "$work/out"
    run 0 --port COM9 --dry-run --json transmit-rom "$work/image.mot"
    check "a dry run's JSON counts the file's pages" json_field "$work/out" pages_written 16
    check "a dry run's JSON counts the control pages apart" json_field "$work/out" control_pages_written 3
    # On a terminal the progress is one line redrawn in place.
    script -qec "'$cli' transmit-rom '$work/image.mot'" /dev/null >"$work/tty"
    check "on a terminal the progress line is redrawn in place" grep -q $'\r *[0-9.]*  WRITE  PAGES 8/16 .* LEFT *\r' "$work/tty"
    check "on a terminal no progress line of its own per page" not grep -q "PAGES 8/16.*LEFT"$'\r'"*$" "$work/tty"
    # The image read back, from ブロック０ only (64 pages, 16 of them written).
    run 0 --m32r --blocks 0 read-rom "$work/read back.mot"
    check "read-rom names the pages that held data" grep -q "16 of the 64 pages of the M32R image area held data" "$work/err"
    run 2 --m32r read-rom "$work/unit.dat"
    check "read-rom never replaces saved memories" grep -q "holds saved memories" "$work/err"
    stop_sim
    check "the image is stored at 020000" cmp -s -n 4096 -i 0:131072 "$work/image.bin" "$work/rom.bin"
    start_sim --save "$work/rom again.bin"
    run 0 transmit-rom "$work/read back.mot"
    stop_sim
    check "the image read back gives the same image area" cmp -s -n 393216 -i 131072:131072 "$work/rom.bin" "$work/rom again.bin"
    check "and the same control pages" cmp -s -n 8192 "$work/rom.bin" "$work/rom again.bin"
    # Every operation that changes the writer, and verify, rehearsed with -n
    # beside a live writer on COM1: each says what it would send, and not a
    # frame reaches the writer.
    start_sim --log
    frames_before=$(grep -c "tool ->" "$work/sim.log")
    while IFS='|' read -r want args said; do
        # shellcheck disable=SC2086
        run "$want" -n $args
        check "-n $args says: $said" grep -qF "$said" "$work/out" "$work/err"
    done <<TABLE
0|erase|erase all flash
0|save $work/dry.dat|erase blocks ブロック２, ブロック３
0|--m32r --blocks 2,3 block-erase|erase blocks ブロック２, ブロック３
0|--m32r --blocks 4 lock-set|set the lock bits of ブロック４
0|--m32r --blocks 0 block-write $work/image.mot|erase blocks ブロック２, ブロック４, ブロック５, ブロック６, ブロック７, ブロック８
0|lock-enable|make the lock bits effective
0|lock-disable|make the lock bits ineffective
0|switch|set the switch operation
0|target-write|start 1 target write
0|verify $work/image.mot|read 16 pages of $work/image.mot: 020000-020F00 and compare them with
2|info|info changes nothing on the writer
TABLE
    check "no rehearsal sent the live writer a frame" [ "$(grep -c "tool ->" "$work/sim.log")" = "$frames_before" ]
    check "a rehearsed save writes no file" [ ! -e "$work/dry.dat" ]
    # A dry run only reads: the folder of the file, a killed save's leftover
    # in it included, is as it was to the byte.
    mkdir "$work/dry-folder"
    cp "$work/image.mot" "$work/dry-folder/image.mot"
    printf 'half a unit' >"$work/dry-folder/.new.dat.save-killed.tmp"
    folder_now() { (cd "$work/dry-folder" && find . -printf '%p %s %m %T@\n' | sort && cat ./image.mot ./.new* | sha256sum); }
    folder_before=$(folder_now)
    run 0 -n save "$work/dry-folder/new.dat"
    run 0 -n --m32r --blocks 0 block-write "$work/dry-folder/image.mot"
    check "a dry run leaves the folder byte for byte as it was" [ "$(folder_now)" = "$folder_before" ]
    rm "$work/dry-folder/.new.dat.save-killed.tmp"
    stop_sim
fi

# ---- one fault for every exit status
start_sim --fault done:F5:1:ac_ac
run 1 erase
check "the error text is on standard error" grep -q "INSTALLER ERROR" "$work/err"
stop_sim
start_sim --fault echo:F5:1:no_reply
run 1 id-check "$work/unit.dat"
check "a silent writer is a communication error" grep -q "COMMUNICATION ERROR" "$work/err"
check "a silent writer is to be switched off and on" grep -q "switch it off and on" "$work/err"
stop_sim
# A wrong echo leaves the writer inside the frame the tool began; it drops
# that frame after a pause, as a writer does, and the next job completes.
start_sim --load "$work/store.bin" --fault echo:F5:1:wrong_echo
run 1 erase
check "a wrong echo is a communication error" grep -q "COMMUNICATION ERROR" "$work/err"
run 0 info
check "the job after a wrong echo reads the writer" grep -q "WRITER INFORMATION COMPLETE" "$work/out"
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
run 2 transmit "$work/no-such-file.dat"
# A folder that cannot take the save is refused before the port (COM9,
# which would be exit 3) is opened. Root writes anywhere.
mkdir -m 555 "$work/read-only"
if [ "$(id -u)" != 0 ]; then
    run 2 --port COM9 save "$work/read-only/unit.dat"
    check "the refusal says why" grep -q "cannot be saved: its folder takes no new file" "$work/err"
fi
# A link whose adapter is gone is an error, never /dev/ttyS<N-1>.
ln -s "$work/unplugged" "$ports/com5"
run 3 --port COM5 erase
check "the dangling link is named" grep -q "the link com5 points to $work/unplugged, which does not exist" "$work/err"

# ---- a file the tool cannot use is a file problem (2); a job that found
# nothing to do is no success (1)
start_sim
mkfifo "$work/pipe.dat"
run 2 save "$work/pipe.dat"
{ s2 000100 000102030405060708090A0B0C0D0E0F; s2 0C0100 000102030405060708090A0B0C0D0E0F; } >"$work/mixed.mot"
run 2 transmit-rom "$work/mixed.mot"
check "mixed.mot is a ROM DATA FILE ERROR" grep -q "ROM DATA FILE ERROR" "$work/err"
check "the refusal names the line and why" grep -q "line 2 of .*mixed.mot is addressed for the other CPU family" "$work/err"
{ s2 000100 000102030405060708090A0B0C0D0E0F; printf 'S804000000FB\r\n'; } >"$work/block0.mot"
run 1 --m32r --blocks 8 block-write "$work/block0.mot"
check "a block write with no page is no success" grep -q "NO PAGE ERROR" "$work/err"
# Blocks as the window labels them: ブロック２ and ブロック３ are the codes 0
# and 1, listed by their labels before anything goes; erasing the system
# block takes the unit's pages with it, as info then finds.
run 0 --m32r --blocks 2,3 --trace block-erase
check "block-erase lists the blocks by their labels first" grep -q "block-erase: ブロック２, ブロック３$" "$work/err"
check "the trace names the writer's code of each block" grep -q "ブロック３ goes to the writer as its block 1" "$work/out"
check "ブロック２ and ブロック３ are the codes 0 and 1" grep -q "> D8 00 00 00" "$work/out"
check "ブロック３ is code 1" grep -q "> D8 01 00 00" "$work/out"
check "no other block is erased" not grep -q "> D8 0[2-6]" "$work/out"
script -qec "'$cli' --m32r --blocks 4 --trace block-erase" /dev/null </dev/null >"$work/tty"
check "on a terminal block-erase asks; unconfirmed, it sends nothing" grep -q "not confirmed: nothing was sent" "$work/tty"
check "no block erase went unconfirmed" not grep -q "> D8" "$work/tty"
run 0 info
check "info finds the unit's pages gone with the system block" grep -q "^CPU TYPE *FF FF (blank)" "$work/out"
stop_sim

# ---- signals end a job through the abort, and nothing is left behind
for signal in HUP TERM INT; do
    start_sim
    "$cli" save "$work/signal.dat" >"$work/out" 2>"$work/err" &
    cli_pid=$!
    for _ in $(seq 300); do grep -q "PAGES" "$work/out" && break; sleep 0.1; done
    kill -"$signal" "$cli_pid"
    wait "$cli_pid"
    check "SIG$signal ends the save with 1" [ $? = 1 ]
    check "SIG$signal leaves no file" [ ! -e "$work/signal.dat" ]
    check "SIG$signal says what stands" grep -q "nothing was erased: the writer is as it was, and .*signal.dat was not created" "$work/err"
    check "SIG$signal leaves nothing behind" no_leftovers
    stop_sim
done
# A save killed outright (a crash, a logout) can give nothing back: the
# port is free for the next job at once all the same, and the next save to
# the same file takes the unit and the killed save's leftovers away (its
# hidden file, and the work folder the killed program could not remove).
start_sim --load "$work/store.bin"
"$cli" save "$work/killed.dat" >"$work/out" 2>"$work/err" &
cli_pid=$!
for _ in $(seq 300); do grep -q "PAGES" "$work/out" && break; sleep 0.1; done
sleep 1
kill -KILL "$cli_pid"
wait "$cli_pid" 2>/dev/null
run 0 save "$work/killed.dat"
check "after a killed save the port is not in use" not grep -q "in use" "$work/err"
check "the save after a killed one holds the unit" cmp -s "$work/unit.dat" "$work/killed.dat"
check "the killed save's leftover is gone" no_leftovers
stop_sim
start_sim
"$cli" save "$work/signal.dat" 2>"$work/err" | head -n 1 >/dev/null
check "a closed pipe (SIGPIPE) ends the save with 1" [ "${PIPESTATUS[0]}" = 1 ]
check "SIGPIPE leaves nothing behind" no_leftovers
stop_sim

# ---- arguments
# Each operation takes only its own options: any other is refused before a
# port is opened (a live writer would have been erased), naming both.
start_sim --log
frames_before=$(grep -c "tool ->" "$work/sim.log")
while IFS='|' read -r args said; do
    # shellcheck disable=SC2086
    run 2 $args
    check "$args is refused: $said" grep -qF -e "$said" "$work/err"
done <<TABLE
--m32r --blocks 3 erase|--m32r: erase does not take it; it is for block-write, block-erase, lock-read, lock-set
--blocks 3 save $work/options.dat|--blocks: save does not take it
--limit 5 transmit $work/unit.dat|--limit: transmit does not take it; it is for transmit-rom, block-write, target-direct-write
--yes erase|--yes: erase does not take it; it is for block-erase, lock-set
--port COM2 ports|--port: ports does not take it; it is for every operation that talks to a writer
--trace show $work/unit.dat|--trace: show does not take it
TABLE
check "no refused option let a frame go" [ "$(grep -c "tool ->" "$work/sim.log")" = "$frames_before" ]
stop_sim
run 0 help block-write
check "help block-write says which blocks it erases" grep -q "after ブロック２ and ブロック４ to ブロック８ are erased whatever --blocks says" "$work/out"
check "help OPERATION lists the options it takes" grep -q "^options it takes: .*--blocks" "$work/out"
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
--m32r --blocks 1,2 block-erase
--m32r --blocks 0 lock-set
--m16c --blocks 3 block-erase
--m16c --blocks 7 block-write x.mot
--blocks 9 block-erase
--blocks block-erase
--limit 201 erase
--port COM17 erase
--port COM99999999999 erase
--port= erase
--m32r --m16c erase
--unknown erase
block-erase
--blocks=3 lock-read
-- --help
TABLE
check "a usage error is one line and a hint" [ "$(wc -l <"$work/err")" = 2 ]
check "the hint names --help" grep -q "Try 'torvela-cli --help'" "$work/err"
run 3 -p COM9 erase
run 3 --port=COM9 -q erase
run 0 --help
check "--help lists every operation" grep -q "target-direct-write FILE" "$work/out"
check "--help says which operations need the family" grep -q "lock-set.*needs --m32r or --m16c" "$work/out"
run 0 -h
run 0 --version
run 0 -V
run 0 ports
check "ports lists COM1 to COM16" [ "$(grep -c '^COM' "$work/out")" = 16 ]
check "ports names a dangling link" grep -q "the link com5 points to" "$work/out"
run 0 ports
check "ports lists the serial devices present" grep -q "^serial devices present" "$work/out"
# Advice that points the right way.
TORVELA_PORT='' "$cli" info >"$work/out" 2>"$work/err"
check "an empty TORVELA_PORT is no choice of COM1" [ $? = 2 ]
check "an empty TORVELA_PORT says so" grep -q "TORVELA_PORT is set but empty" "$work/err"
run 2 help bogus
check "help of an unknown operation names it" grep -q "unknown operation bogus" "$work/err"
printf 'UNIT_1/V2.0_A/LINE_3/\r\nM32R\r\n00000000\r\nzz\r\n' >"$work/short.dat"
run 2 --port COM9 compare "$work/short.dat"
check "compare refuses a malformed file before the port, as show does" grep -q "line 4" "$work/err"
run 3 --port "$work/no-such-device" erase
check "a device given by path is named as given" grep -q "^torvela-cli: $work/no-such-device cannot be opened" "$work/err"
if [ "$(id -u)" != 0 ]; then
    : >"$work/closed-device" && chmod 000 "$work/closed-device"
    ln -sfn "$work/closed-device" "$ports/com4"
    run 0 ports
    check "ports tells a device this user may not open" grep -q "^COM4 .*present, but you may not open it" "$work/out"
    rm -f "$ports/com4"
fi

# ---- the simulator leaves a link it did not make alone
ln -s /dev/null "$ports/com2"
"$sim" --port 2 2>"$work/err" &
wait $!
check "the simulator refuses a foreign com2" [ $? -ne 0 ]
check "the foreign link is still there" [ "$(readlink "$ports/com2")" = /dev/null ]
# A simulator killed outright leaves its link and pid file: the tool opens
# nothing behind it (its terminal's number may be anyone's by now), and the
# next simulator replaces both. Started as a script would, its output
# captured: the call returns once the link is there.
killed=$(timeout 10 "$sim" --port 6 --background 2>&1 | tail -n 1)
check "--background lets go of the caller's output" [ "${PIPESTATUS[0]}" = 0 ]
kill -KILL "$killed"
while kill -0 "$killed" 2>/dev/null; do sleep 0.05; done
check "a killed simulator leaves its link" [ -L "$ports/com6" ]
run 3 --port COM6 erase
check "the stopped simulator is named" grep -q "the simulated writer behind COM6 has stopped" "$work/err"
next=$("$sim" --port 6 --background 2>>"$work/sim.log")
sims+=("$next")
check "the next simulator takes the stale link over" [ "$(head -n 1 "$ports/com6.sim-pid")" = "$next" ]
kill "$next"
# The link replaced by the user while a simulator ran, which was then
# killed: the pid file is stale, the link is the user's and stays.
killed=$("$sim" --port 7 --background 2>>"$work/sim.log")
ln -sfn /dev/null "$ports/com7"
kill -KILL "$killed"
while kill -0 "$killed" 2>/dev/null; do sleep 0.05; done
"$sim" --port 7 2>"$work/err"
check "a replaced link is not taken over" [ $? = 1 ]
check "the replaced link stays the user's" [ "$(readlink "$ports/com7")" = /dev/null ]
# The pid file is never written through a link planted in its place.
ln -s "$work/victim" "$ports/com8.sim-pid"
planted=$("$sim" --port 8 --background 2>>"$work/sim.log")
sims+=("$planted")
check "the pid file is the simulator's own" test ! -e "$work/victim" -a ! -L "$ports/com8.sim-pid"
kill "$planted"
# ./launch opens no window on a COM1 its simulator did not link (with what
# is built: nothing installed, no window needed).
ln -sfn /dev/null "$ports/com1"
QT_QPA_PLATFORM=offscreen TORVELA_NO_SETUP=1 TORVELA_BUILD_DIR="$build" TORVELA_LAUNCH_LOG="$work/launch.log" timeout 300 "$src/launch" >"$work/out" 2>"$work/err"
check "./launch stops when the simulator did not link COM1" [ $? = 1 ]
check "./launch says why" grep -q "did not link COM1" "$work/err"
check "./launch opened no window" not grep -q "opening the window" "$work/out"
check "./launch left the user's COM1 alone" [ "$(readlink "$ports/com1")" = /dev/null ]

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
