#!/bin/sh
# verify-systemd-unit.sh PROGRAM UNIT: systemd's own check of the shipped
# unit, with the built PROGRAM in place of the installed one. A line it
# ignores is only a warning to systemd, so any output at all fails.
set -eu
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s|/usr/local/bin/tovik-sync-server|$1|" "$2" > "$dir/tovik-sync-server.service"
cd "$dir"
output=$(systemd-analyze verify ./tovik-sync-server.service 2>&1) || { echo "$output"; exit 1; }
[ -z "$output" ] || { echo "$output"; exit 1; }
