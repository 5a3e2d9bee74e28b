# Driving the native window under Wine, sourced after tools/wine-common.sh
# by tools/test-windows-window and bench/windows_jobs.sh: a virtual display,
# clicks and typing as an operator's (xdotool), and torvela-peek.exe to read
# what the window shows. Expects: $peek_exe.
xvfb_pid=
start_display() {  # a display of our own, a service laptop's 1366x768
    local n
    for n in $(seq 90 120); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        Xvfb ":$n" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
        return
    done
}
peek() { "$wine" "$peek_exe" "$@"; }
click() {  # NAME: a mouse click in the middle of the control
    local x y
    read -r x y < <(peek point "$1")
    xdotool mousemove "$x" "$y" click 1
}
type_into_dialog() {  # TITLE TEXT: typed into the name field of the file dialog TITLE
    for _ in $(seq 100); do xdotool search --name "^$1\$" >/dev/null 2>&1 && break; sleep 0.1; done
    sleep 1
    # The name field has the focus on the first open only: Alt+N takes it
    # there, as the field's label says.
    xdotool key alt+n End shift+Home
    xdotool type --delay 20 "$2"
    xdotool key Return
    for _ in $(seq 100); do xdotool search --name "^$1\$" >/dev/null 2>&1 || break; sleep 0.1; done
}
pick_file() {  # WINDOWS-PATH: chosen in the SELECT FILE dialog
    type_into_dialog "SELECT FILE" "$1"
    peek wait-text Label10 "$1" 30 >/dev/null
}
service_view() {  # Ctrl+Shift+F12 on the window (the status line clicked first, for the focus)
    click Label9
    xdotool key ctrl+shift+F12
    sleep 0.5
}
job_ended() {  # the job ends on the sequencer's next tick, which closes the port
    peek wait-text Combo1 "commimucation stop" 10 >/dev/null
}
