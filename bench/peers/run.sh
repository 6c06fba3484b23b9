#!/usr/bin/env bash
# TovikNote beside gnote and tomboy-ng, with the same notes, under one Xvfb
# with openbox: exec to the list on screen, a narrowing and a widening search
# key to their final result, and memory 5 s after the exec. Installs the two
# peers from Debian. Run it by hand, never in CI; see README.md.
#
#   bench/peers/run.sh [BUILD_DIR]          (default: build)
#   RUNS=5 RESULTS=DIR bench/peers/run.sh   (runs per figure; where the raw
#                                            figures and screenshots go)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
runs=${RUNS:-5}
results=${RESULTS:-$PWD/peer-results-$(date -u +%Y%m%dT%H%M%S)}
probe=$build/bench/peers/bench_peer_probe
seed=$build/bench/peers/bench_peer_seed
tovik=$build/app/toviknote
for binary in "$probe" "$seed" "$tovik"; do
  if [ ! -x "$binary" ]; then
    echo "missing $binary: build the targets toviknote bench_peer_seed bench_peer_probe first" >&2
    exit 1
  fi
done

# ------------------------------------------------------------------ packages
packages=(gnote tomboy-ng xvfb xauth openbox xdotool dbus imagemagick)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing ${missing[*]}"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null \
    || { $sudo apt-get update -q >/dev/null && \
         $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null; }
fi

# ------------------------------------------------------------- the display
umask 077
work=$(mktemp -d /tmp/tovik-peers.XXXXXX)
mkdir -p "$results/shots" "$work/runtime"
xvfb_pid=""; openbox_pid=""; bus_pid=""; app_pid=""
stop_app() {
  if [ -n "$app_pid" ]; then
    # The probe started the program as the leader of its own group.
    kill -TERM -- "-$app_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$app_pid" 2>/dev/null || true
    app_pid=""
  fi
}
cleanup() {
  stop_app
  for pid in "$openbox_pid" "$bus_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x960x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
openbox >"$work/openbox.log" 2>&1 &
openbox_pid=$!
# One session bus for every program, so none of them starts its own.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | sed -n 1p)
bus_pid=$(echo "$bus" | sed -n 2p)
export XDG_RUNTIME_DIR=$work/runtime NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory QT_QPA_PLATFORM=xcb
sleep 1
# The pointer rests in a corner no window covers, so no tooltip appears.
xdotool mousemove 1279 959

# -------------------------------------------------------------------- notes
counts=(1000 10000)
for count in "${counts[@]}"; do
  "$seed" "$count" "$work/seed-$count"
done

# ----------------------------------------------------------------- one run
raw=$results/raw.tsv
printf 'app\tnotes\trun\tmeasure\tms_or_kb\tchange\n' >"$raw"

# value NAME: the figure NAME from the probe's output in $out.
value() { sed -n "s/^$1 //p" <<<"$out"; }

# A key's change is the result list only if it reaches below the search
# field: a box under 60 pixels high is the field alone.
change_of() {
  local box top bottom
  box=$(value changed_box)
  top=$(sed 's/^[0-9]*,\([0-9]*\) .*/\1/' <<<"$box")
  bottom=$(sed 's/.* [0-9]*,\(-*[0-9]*\)$/\1/' <<<"$box")
  if [ "$(value final_ms)" = "-1" ]; then echo none
  elif [ $((bottom - top)) -lt 60 ]; then echo field
  else echo list; fi
}

record() { printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@" >>"$raw"; }

measure() {
  local app=$1 count=$2 run=$3 home=$work/home
  rm -rf "$home"
  cp -a "$work/seed-$count/$app" "$home"
  local command=()
  case $app in
    toviknote) command=("$tovik") ;;
    gnote) command=(gnote) ;;
    tomboy-ng)
      # Its search window at start, in place of the tray icon alone, and no
      # splash screen.
      mkdir -p "$home/.config/tomboy-ng"
      printf '[BasicSettings]\nNotesPath=%s/.local/share/tomboy-ng/\nShowSearchAtStart=true\nShowSplash=false\nAutoSearchUpdate=true\n' \
        "$home" >"$home/.config/tomboy-ng/tomboy-ng.cfg"
      command=(tomboy-ng) ;;
  esac
  local shots=$results/shots/$app-$count-$run
  xdotool mousemove 1279 959
  out=$(HOME=$home "$probe" exec --memory-at 5000 --timeout 120 --shot "$shots-exec.ppm" -- "${command[@]}" \
        2>>"$results/programs.log")
  app_pid=$(value pid)
  record "$app" "$count" "$run" exec "$(value final_ms)" "$(value timed_out)"
  record "$app" "$count" "$run" pss "$(value pss_kb)" -
  record "$app" "$count" "$run" rss "$(value rss_kb)" -

  # Into the search field.
  case $app in
    gnote) xdotool key --clearmodifiers ctrl+f ;;
    toviknote)
      # Its search field sits at a fixed place in the window's header.
      window=$(xdotool search --onlyvisible --pid "$app_pid" | tail -1)
      xdotool mousemove --window "$window" 230 78 click 1 mousemove 1279 959 ;;
    tomboy-ng) ;;  # its search window opens with the field focused
  esac
  "$probe" settle --pid "$app_pid" --timeout 120 >/dev/null
  out=$("$probe" key --pid "$app_pid" --timeout 120 k)
  out=$("$probe" key --pid "$app_pid" --timeout 120 --shot "$shots-narrow.ppm" 1)
  record "$app" "$count" "$run" narrow "$(value final_ms)" "$(change_of)"
  if [ "$count" = 10000 ]; then
    out=$("$probe" key --pid "$app_pid" --timeout 120 --shot "$shots-widen.ppm" BackSpace)
    record "$app" "$count" "$run" widen "$(value final_ms)" "$(change_of)"
  fi
  stop_app
}

apps=(toviknote gnote tomboy-ng)
for run in $(seq "$runs"); do
  for count in "${counts[@]}"; do
    # Interleaved: each run starts with another program.
    for i in 0 1 2; do
      app=${apps[$(((i + run) % 3))]}
      echo "run $run/$runs, $count notes: $app" >&2
      measure "$app" "$count" "$run"
    done
  done
done
for shot in "$results"/shots/*.ppm; do
  convert "$shot" "${shot%.ppm}.png" && rm "$shot"
done

# ------------------------------------------------------------------- table
awk -F'\t' -v runs="$runs" '
  NR == 1 { next }
  { key = $1 SUBSEP $2 SUBSEP $4; n[key]++; v[key, n[key]] = $5; c[key, n[key]] = $6 }
  function median(key,   m, i, j, t, a, fields) {
    m = 0
    for (i = 1; i <= n[key]; i++) if (v[key, i] != "" && v[key, i] >= 0) a[++m] = v[key, i] + 0
    if (m == 0) return -1
    for (i = 2; i <= m; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
    return m % 2 ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2
  }
  # Keys whose list never changed in most runs have no time to compare.
  function updates(key,   i, list) {
    list = 0
    for (i = 1; i <= n[key]; i++) if (c[key, i] == "list") list++
    return list * 2 > n[key]
  }
  function cell(app, notes, measure, unit,   key, m) {
    key = app SUBSEP notes SUBSEP measure
    if (!(key in n)) return "-"
    if ((measure == "narrow" || measure == "widen") && !updates(key)) return "never updates"
    m = median(key)
    if (m < 0) return "-"
    return unit == "MB" ? sprintf("%.0f MB", m / 1024) : sprintf("%.0f ms", m)
  }
  function row(label, notes, measure, unit, target,   t, best, p, key, m, ratio, verdict) {
    t = median("toviknote" SUBSEP notes SUBSEP measure)
    best = -1
    split("gnote tomboy-ng", peers, " ")
    for (p in peers) {
      key = peers[p] SUBSEP notes SUBSEP measure
      if (!(key in n)) continue
      if ((measure == "narrow" || measure == "widen") && !updates(key)) continue
      m = median(key)
      if (m >= 0 && (best < 0 || m < best)) best = m
    }
    if (t < 0 || best < 0) ratio = "-"
    else if (best == 0) ratio = "-"
    else ratio = sprintf("%.2fx", t / best)
    if (t >= 0 && best < 0) ratio = "best"
    verdict = ""
    if (target != "") verdict = (ratio == "best" || (ratio != "-" && t <= best)) ? "ok" : "OVER TARGET"
    printf "| %s | %s | %s | %s | %s | %s | %s %s |\n", label, notes == 1000 ? "1k" : "10k",
      cell("toviknote", notes, measure, unit), cell("gnote", notes, measure, unit),
      cell("tomboy-ng", notes, measure, unit), ratio, target, verdict
  }
  END {
    printf "\nMedians of %d runs; each figure read from X Damage events and screenshots.\n\n", runs
    print "| measure | notes | TovikNote | gnote | tomboy-ng | TovikNote / best | target |"
    print "|---|---|---|---|---|---|---|"
    row("exec to the list on screen", 1000, "exec", "ms", "at most the best peer:")
    row("exec to the list on screen", 10000, "exec", "ms", "at most the best peer:")
    row("narrowing key to its final result", 1000, "narrow", "ms", "at most the best peer:")
    row("narrowing key to its final result", 10000, "narrow", "ms", "at most the best peer:")
    row("widening key to its final result", 10000, "widen", "ms", "at most the best peer:")
    row("memory, PSS at 5 s", 10000, "pss", "MB", "at most the best peer:")
    row("memory, RSS at 5 s", 10000, "rss", "MB", "")
  }' "$raw"
echo
echo "raw figures and the final screens: $results"
