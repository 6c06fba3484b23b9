#!/bin/sh
# Runs a test in a desktop session of its own: a private D-Bus session bus,
# on which the accessibility bus starts on demand and nothing else does (no
# keyring daemon: the program keeps its keyring item in its file), and an X
# display with a window manager (run-under-openbox.sh). Where the system lets an ordinary
# user have a network of its own, the test gets one, so that the loopback
# port the program's sync address names is free whatever else runs.
# Usage: run-a11y-session.sh PROGRAM [ARGS...]
# Exits 77, which the test counts as skipped, when a part is missing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "run-a11y-session.sh: $*; skipped" >&2; exit 77; }
command -v dbus-run-session >/dev/null 2>&1 || skip "dbus-run-session is not installed"
"${TOVIK_PYTHON:-/usr/bin/python3}" -c "import pyatspi" 2>/dev/null || skip "pyatspi is not installed"

if [ -z "${TOVIK_OWN_NETWORK:-}" ] && command -v ip >/dev/null 2>&1 \
   && unshare -rn ip link set lo up 2>/dev/null; then
    TOVIK_OWN_NETWORK=1
    export TOVIK_OWN_NETWORK
    exec unshare -rn sh -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
launcher=/usr/share/dbus-1/services/org.a11y.Bus.service
[ -f "$launcher" ] || skip "at-spi2-core is not installed"
conf=$(mktemp -d)
trap 'rm -rf "$conf"' EXIT
trap 'exit 130' INT TERM
mkdir "$conf/services"
# The accessibility bus keeps its socket and address under the runtime
# folder: one of the session's own, so that two sessions never meet there.
mkdir -m 700 "$conf/runtime"
XDG_RUNTIME_DIR="$conf/runtime"
export XDG_RUNTIME_DIR
cp "$launcher" "$conf/services/"
cat >"$conf/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=$conf</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$conf/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-run-session --config-file="$conf/session.conf" -- "$here/run-under-openbox.sh" "$@"
