#!/usr/bin/env bash
# Resident service figures: memory after start-up and after 100 renders,
# and CPU time and wake-ups while idle over a minute of real ticks.
#
#   bench/service_resources.sh [BUILD_DIR]     (default build)
#
# Runs in a private home with the sample data; prints the figures. Goals:
# under 8 MB resident idle, no growth over 100 renders, no wake-up besides
# the tick.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${1:-build}/bin
home=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
key='software\Lexora\wallpaper'
set_value() { "$BIN/kvreg" set "$key" "$1" "$2"; }
set_value FirstTime 1
set_value Path "$PWD/$BIN"
set_value SelectedBackgrounds0 Aurora
set_value SelectedFonts0 "DejaVu Sans"
set_value SelectedQuotesFiles0 Craft
log=$home/published
printf '#!/bin/sh\necho >> "%s"\n' "$log" > "$home/record" && chmod +x "$home/record"
set_value WallpaperCommand "$home/record %f"
renders() { [ -f "$log" ] && wc -l < "$log" || echo 0; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
# Memory between two renders: the smallest of a few samples, since each
# render maps its 6 MB bitmap for a few milliseconds. Prints "rss pss anon".
between_renders() {
  local best="" sample
  for _ in $(seq 1 25); do
    sample=$(awk '/^Rss:/ {r=$2} /^Pss:/ {p=$2} /^Anonymous:/ {a=$2} END {print r, p, a}' "/proc/$1/smaps_rollup")
    if [ -z "$best" ] || [ "${sample%% *}" -lt "${best%% *}" ]; then best=$sample; fi
    sleep 0.01
  done
  echo "$best"
}
show() {  # label, "rss pss anon"
  set -- "$1" $2
  printf '%-46s %6.1f MB resident (%.1f MB proportional, %.1f MB of its own)\n' "$1" \
    "$(echo "$2 / 1024" | bc -l)" "$(echo "$3 / 1024" | bc -l)" "$(echo "$4 / 1024" | bc -l)"
}
hwm_kb() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
wakeups() { awk '/^voluntary_ctxt_switches:/ {v=$2} /^nonvoluntary_ctxt_switches:/ {n=$2} END {print v + n}' "/proc/$1/status"; }

echo "== memory: a render every 50 ms tick, 1920x1080 stretched picture"
set_value Frequency 0
KVILLO_TICK_MS=50 "$BIN/Kvillo" & pid=$!
until [ "$(renders)" -ge 1 ]; do sleep 0.05; done
show "after start-up and the first render:" "$(between_renders $pid)"
until [ "$(renders)" -ge 11 ]; do sleep 0.05; done
after10=$(between_renders $pid)
until [ "$(renders)" -ge 111 ]; do sleep 0.05; done
after110=$(between_renders $pid)
show "after 10 renders:" "$after10"
show "after 100 more renders:" "$after110"
printf '%-46s %+6d kB\n' "growth over those 100 renders:" "$(( ${after110%% *} - ${after10%% *} ))"
printf '%-46s %6.1f MB (while a bitmap is mapped)\n' "peak resident:" "$(echo "$(hwm_kb $pid) / 1024" | bc -l)"
kill $pid; wait $pid 2>/dev/null || true

echo "== idle: hourly frequency, real 60 s ticks, over 61 s"
set_value Frequency 4
"$BIN/Kvillo" & pid=$!
until [ "$(renders)" -ge 112 ]; do sleep 0.05; done
sleep 0.5
idle=$(between_renders $pid)
cpu0=$(cpu_ticks $pid); wake0=$(wakeups $pid)
sleep 61
cpu1=$(cpu_ticks $pid); wake1=$(wakeups $pid)
hz=$(getconf CLK_TCK)
show "while idle:" "$idle"
printf '%-46s %6.0f ms\n' "CPU time over 61 s idle:" "$(echo "($cpu1 - $cpu0) * 1000 / $hz" | bc -l)"
printf '%-46s %6d (one tick falls in that time)\n' "wake-ups over 61 s idle:" "$((wake1 - wake0))"
