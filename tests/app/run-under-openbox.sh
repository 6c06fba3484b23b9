#!/bin/sh
# Runs a test program on an X display of its own, managed by openbox, as on a
# desktop: a private Xvfb server, a window manager on it and nothing else.
# Usage: run-under-openbox.sh PROGRAM [ARGS...]
# Exits 77, which the test counts as skipped, when the display or the window
# manager cannot be started.
set -u
skip() { echo "run-under-openbox.sh: $*; skipped" >&2; exit 77; }
for tool in Xvfb openbox xdotool; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done

work=$(mktemp -d)
xvfb=""
wm=""
cleanup() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Polls for a condition while the process it depends on still runs, for at
# most 30 seconds.
wait_for() {
    pid=$1; shift
    tries=0
    while ! "$@"; do
        kill -0 "$pid" 2>/dev/null || return 1
        tries=$((tries + 1))
        [ "$tries" -gt 300 ] && return 1
        sleep 0.1
    done
}

# The server writes its display number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
wait_for "$xvfb" test -s "$work/display" || { cat "$work/xvfb.log" >&2; skip "Xvfb did not start"; }
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

# Its own configuration folder, so a user's openbox settings play no part;
# the start-up command tells that the manager is running.
XDG_CONFIG_HOME="$work/config"
export XDG_CONFIG_HOME
openbox --sm-disable --startup "touch $work/wm-ready" 2>"$work/openbox.log" &
wm=$!
wait_for "$wm" test -e "$work/wm-ready" || { cat "$work/openbox.log" >&2; skip "openbox did not start"; }

QT_QPA_PLATFORM=xcb
export QT_QPA_PLATFORM
"$@"
