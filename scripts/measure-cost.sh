#!/usr/bin/env bash
# Measures what the monitor costs while it runs with its window open: its CPU
# share, its resident memory and its start-up time to the first drawn point,
# with `htop -d 1` (the same 100 ms refresh) running beside it in the same
# run for comparison. Runs on a virtual X server, so no desktop is needed: the
# window goes through Qt's X11 platform (xcb, with MIT-SHM) as on a desktop,
# never the offscreen one the tests use, and starts from empty settings, so
# that a stored window size or profile cannot change what is measured.
#
#   scripts/measure-cost.sh [PRESET|real] [SECONDS]
#
# PRESET is a simulated machine (default intel-snb-2p, two packages);
# "real" monitors this machine (the driver needs root).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-intel-snb-2p}"
seconds="${2:-60}"

scripts/deps.sh --measure
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTV2_BUILD_TESTS=OFF \
  -DTV2_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/release --target tarvelle2 >/dev/null

display=":$((90 + RANDOM % 9))"
work="$(mktemp -d)"
pids=()
cleanup() {
  # The monitor first, so that it closes its window (and writes its settings)
  # while the X server is still there; the X server last.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  tmux kill-session -t "tv2-measure-$$" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1

args=()
[ "$preset" != "real" ] && args=(--simulate "$preset")
# TARVELLE2_TRACE_STARTUP makes the program print, once, the time from its
# start to the first graph point drawn.
mkdir -m 700 "$work/config"
launched="$(date +%s%3N)"
DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" TARVELLE2_TRACE_STARTUP=1 \
  build/release/tarvelle2 "${args[@]}" 2>"$work/stderr" &
monitor=$!
pids+=($monitor)

tmux new-session -d -s "tv2-measure-$$" -x 200 -y 50 "htop -d 1"
sleep 1
htop_pid="$(tmux list-panes -t "tv2-measure-$$" -F '#{pane_pid}')"

sleep 5  # warm-up: start-up, first derived passes, first full graphs

drawn="$(sed -n 's/.*at \([0-9]*\) ms since the epoch.*/\1/p' "$work/stderr" | head -1)"
if [ -z "$drawn" ]; then
  # Without a drawn point the window was idle (waiting on a question, no
  # counters, a failed start): its figures would say nothing about the cost.
  echo "FAILED: no graph point was drawn; a measurement now would not measure a running monitor." >&2
  echo "The program's error output:" >&2
  sed 's/^/  /' "$work/stderr" >&2
  exit 1
fi

# The window as the X server has it (no window manager: exactly its size).
window="$(DISPLAY="$display" xwininfo -root -tree | sed -n 's/.*("tarvelle2" "tarvelle2")  *\([0-9]*x[0-9]*\)+.*/\1/p' | head -1)"
shm="without MIT-SHM"
# Read whole first: grep -q ending the pipe early would fail it under pipefail.
extensions="$(DISPLAY="$display" xdpyinfo -queryExtensions)"
grep -q MIT-SHM <<<"$extensions" && shm="MIT-SHM"

# utime + stime of a process (all its threads) or of one of its threads. The
# comm field may hold spaces, so the fields are counted after its ")".
cpu_ticks() { sed 's/.*) //' "$1" | awk '{ print $12 + $13 }'; }
tck="$(getconf CLK_TCK)"
# Qt's user-interface thread is the process's main thread: its id is the pid.
ui_stat="/proc/$monitor/task/$monitor/stat"
load0="$(cut -d' ' -f1 /proc/loadavg)"
m0="$(cpu_ticks "/proc/$monitor/stat")"
u0="$(cpu_ticks "$ui_stat")"
h0="$(cpu_ticks "/proc/$htop_pid/stat")"
sleep "$seconds"
m1="$(cpu_ticks "/proc/$monitor/stat")"
u1="$(cpu_ticks "$ui_stat")"
h1="$(cpu_ticks "/proc/$htop_pid/stat")"
load1="$(cut -d' ' -f1 /proc/loadavg)"
if ! kill -0 "$monitor" 2>/dev/null; then
  echo "FAILED: the monitor ended during the measurement." >&2
  sed 's/^/  /' "$work/stderr" >&2
  exit 1
fi

share() { awk -v a="$1" -v b="$2" -v t="$tck" -v s="$seconds" 'BEGIN { printf "%.2f %%", 100 * (b - a) / t / s }'; }
echo "machine:            ${preset}, ${seconds} s after a 5 s warm-up, window ${window:-not found} on Xvfb (xcb, ${shm})"
echo "tarvelle2 CPU:      $(share "$m0" "$m1") of one core (whole process)"
echo "  UI thread:        $(share "$u0" "$u1") of one core"
echo "htop -d 1 CPU:      $(share "$h0" "$h1") of one core"
echo "tarvelle2 RSS:      $(awk '/VmRSS/ { print $2, $3 }' "/proc/$monitor/status") (peak $(awk '/VmHWM/ { print $2, $3 }' "/proc/$monitor/status"))"
echo "htop RSS:           $(awk '/VmRSS/ { print $2, $3 }' "/proc/$htop_pid/status")"
echo "load average:       ${load0} at the start, ${load1} at the end (2 cores; other work distorts the figures)"
echo "first point drawn:  $((drawn - launched)) ms after the program was launched"
