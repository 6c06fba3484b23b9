#!/usr/bin/env bash
# Installs what is needed, builds TovikNote and starts it.
#
# While the build talks to the default local sync service (a loopback address),
# this also starts that service in the background, keeping its data under
# ~/.tovik-sync, so the sync button works out of the box.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TOVIK_BUILD_DIR:-$here/build}"

bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target toviknote tovik-sync-server

base=$(sed -n 's/^TOVIK_SYNC_BASE_URL:STRING=//p' "$build/CMakeCache.txt")
if [[ "$base" =~ ^http://(127\.0\.0\.1|localhost):([0-9]+)/?$ ]]; then
  port="${BASH_REMATCH[2]}"
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    mkdir -p "$HOME/.tovik-sync"
    "$build/server/tovik-sync-server" --port "$port" --db "$HOME/.tovik-sync/server.db" \
      >>"$HOME/.tovik-sync/server.log" 2>&1 &
    server=$!
    trap 'kill "$server" 2>/dev/null || true' EXIT
  fi
fi

"$build/app/toviknote"
