# The Wine tests' shared part, sourced by tools/test-windows-cli and
# tools/test-windows-window: a scratch prefix whose COM1 is the simulated
# writer's pseudo-terminal, as a USB adapter would be COM1 on an operator's
# PC, and the checks' counting.
# Expects: $build (the Windows build folder), $sim (the simulator daemon).
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all
# A fresh prefix on a display would otherwise stop to offer Mono and Gecko.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine reads the arguments' bytes in the locale's character set: UTF-8, so a
# name in Japanese arrives whole.
export LC_ALL=C.UTF-8
export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix}
work=$(mktemp -d)
sim_pid=
passed=0
failed=0
skipped=0
check() {  # NAME CONDITION...
    local name=$1
    shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name" >&2; fi
}
start_sim() {  # simulator options; COM1 of the prefix is its terminal
    sim_pid=$("$sim" --ports-dir "$work/ports" --port 1 --background "$@" 2>>"$work/sim.log")
    local pts
    pts=$(readlink "$work/ports/com1")
    # Wine's device manager may still be linking COM1 to /dev/ttyS0: the
    # mapping counts once it has held for a second.
    for _ in $(seq 20); do
        ln -sfn "$pts" "$WINEPREFIX/dosdevices/com1"
        sleep 1
        [ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$pts" ] && return
    done
    echo "COM1 of the Wine prefix does not stay mapped to $pts" >&2
}
stop_sim() {
    kill -TERM "$sim_pid" 2>/dev/null
    while kill -0 "$sim_pid" 2>/dev/null; do sleep 0.05; done
}
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
# Wine's device manager links COMn to /dev/ttyS<n-1> when its server starts:
# start the server for the whole run first, then map COM1 to the simulator.
start_wine() {
    mkdir -p "$WINEPREFIX/dosdevices"
    /usr/lib/wine/wineserver -k 2>/dev/null
    # The server lists every object it holds on its error output when it is
    # killed: that goes to a file of its own, not into the checks' output.
    /usr/lib/wine/wineserver -p 2>"$work/wineserver.log"
    "$wine" cmd /c exit >/dev/null 2>&1 || true
    # The device manager links COMn once it has started; wait for that.
    for _ in $(seq 100); do [ -L "$WINEPREFIX/dosdevices/com1" ] && break; sleep 0.1; done
}
end_wine() {
    kill $sim_pid 2>/dev/null
    rm -rf "$work"
    rm -f "$WINEPREFIX/dosdevices/com1"
    /usr/lib/wine/wineserver -k 2>/dev/null
}
summary() {
    echo "$passed passed, $failed failed, $skipped skipped"
    [ "$failed" = 0 ]
}
