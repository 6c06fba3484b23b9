#!/bin/sh
# Runs a test program against a private Secret Service: a throw-away home and a
# gnome-keyring-daemon whose login keyring is unlocked with a throw-away
# password, on the session bus that dbus-run-session made for this run alone.
# Usage: dbus-run-session -- run-with-keyring.sh PROGRAM [ARGS...]
set -eu
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    echo "run-with-keyring.sh: no session bus; start it through dbus-run-session" >&2
    exit 2
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME=$home
XDG_RUNTIME_DIR=$home/run
export HOME XDG_RUNTIME_DIR
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The daemon goes away with the bus when dbus-run-session ends.
printf %s throwaway | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null
"$@"
