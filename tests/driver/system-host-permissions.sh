#!/usr/bin/env bash
# The permission model of the installed system host, without systemd and
# without touching the machine's user database. Inside a private mount
# namespace (tmpfs over /run), the host is started exactly as the unit's
# ExecStart line starts it (plus a stand-in /dev and /sys with firmware
# tables), on a socket a socket activator made (systemd-socket-activate,
# which like the socket unit starts the host at the first connection) with
# mode 0660 and a test group. The monitor then runs headless as uid 65534:
#   with the group as a supplementary group: its requests are answered (no
#   driver error; the report shows the ACPI timer found in the firmware tables)
#   without it: usage only, "Error during driver initialization" and a
#   one-line reason on standard error, no firmware-table figures.
# Then two members of different uids record at the same time: both run to
# the end with the driver, every pass complete, both through the one shared
# lock file (none in their own runtime folders).
# Usage: system-host-permissions.sh HOST PROGRAM STAND_IN_TOOL SERVICE_UNIT
set -euo pipefail

# 77: skipped (ctest shows it so).
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root to start the host"
  exit 77
fi
if [ "${1:-}" != "--inside" ]; then
  if ! unshare --mount true 2>/dev/null; then
    echo "skipped: no mount namespace can be made here"
    exit 77
  fi
  for tool in systemd-socket-activate setpriv; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
  done
  exec unshare --mount --propagation private "$0" --inside "$@"
fi
shift
host=$1 program=$2 standin=$3 unit=$4
group=64123   # a group id nobody on the machine has

mount -t tmpfs -o mode=0755 tv2-run /run
# The driver lock and anything else of the machine's running copies stay out of reach.
mount -t tmpfs -o mode=1777 tv2-shm /dev/shm
# The socket file takes the folder's group, as SocketGroup= gives it.
mkdir /run/tarvelle2
chgrp "$group" /run/tarvelle2
chmod 2755 /run/tarvelle2
# The shared lock's folder and file, as the package's tmpfiles.d entry makes them.
mkdir -m 0750 /run/tarvelle2/shared
chgrp "$group" /run/tarvelle2/shared
install -m 0660 -o root -g "$group" /dev/null /run/tarvelle2/shared/tarvelle2-Global-kzor.lock
work=$(mktemp -d /run/tv2-test.XXXXXX)
chmod 0755 "$work"
"$standin" "$work/hw"

command=$(sed -n 's/^ExecStart=//p' "$unit" | sed "s|@TV2_HOST_PATH@|$host|")
[ -n "$command" ] || { echo "no ExecStart in $unit"; exit 1; }
# shellcheck disable=SC2086  # the unit's words, split as systemd splits them
(exec systemd-socket-activate -l /run/tarvelle2/host.sock \
   $command --dev-root "$work/hw/dev" --sys-root "$work/hw/sys") 2>"$work/activator.err" &
activator=$!
trap 'kill $activator 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -S /run/tarvelle2/host.sock ] && break; sleep 0.05; done
# SocketMode=0660: set before the first connection starts the host.
chmod 0660 /run/tarvelle2/host.sock
stat -c '%a %u %g' /run/tarvelle2/host.sock | grep -qx "660 0 $group" \
  || { echo "socket not made as the unit makes it: $(stat -c '%a %u %g' /run/tarvelle2/host.sock)"; exit 1; }

# Runs the monitor headless as uid $1 (output name $2, mode option $3) with
# setpriv group options $4..., behind the command $wrap when set.
run_as() {
  local uid=$1 name=$2 mode=$3  # mode: words, split on purpose
  shift 3
  local home="$work/home-$uid"
  mkdir -p "$home/run"
  chown -R "$uid:$uid" "$home"
  chmod 0700 "$home/run"
  local status=0
  ${wrap:-} setpriv --reuid="$uid" --regid="$uid" "$@" \
    env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" PATH=/usr/bin:/bin \
    timeout 120 "$program" $mode "$home/$name.txt" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  cp "$home/$name.txt" "$work/$name.txt" 2>/dev/null || true
  return $status
}

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

run_as 65534 member --report --groups="$group" || fail "member run ended with status $?"
if grep -q "Error during driver initialization" "$work/member.err"; then
  fail "a member of the group got no driver:"; cat "$work/member.err"
fi
grep -q "^ACPI Timer BA = 0x408" "$work/member.txt" \
  || { fail "a member's report lacks the firmware tables' ACPI timer"; cat "$work/member.txt"; }

run_as 65532 outsider --report --clear-groups || fail "outsider run ended with status $?"
grep -A1 "^Error: Error during driver initialization$" "$work/outsider.err" | tail -n1 \
  | grep -q "you are not in group $group: " \
  || { fail "no one-line reason after the driver error:"; cat "$work/outsider.err"; }
if grep -q "^ACPI Timer BA" "$work/outsider.txt"; then fail "an outsider's report shows firmware tables"; fi
grep -q "^Processor = " "$work/outsider.txt" || fail "an outsider's run wrote no report"

# Two members of different uids at once, each recording for 3 s; the second
# in a network namespace of its own, as another login would be, since the
# single-instance lock (an abstract socket) lets one copy run per namespace.
record="--seconds 3 --record"
run_as 65534 first "$record" --groups="$group" & first=$!
wrap="unshare --net" run_as 65533 second "$record" --groups="$group" & second=$!
wait $first || fail "the first recording ended with status $?"
wait $second || fail "the second recording ended with status $?"
for name in first second; do
  if grep -q "Error during driver initialization" "$work/$name.err"; then fail "$name got no driver"; fi
  # Every pass (one clock value) has the same rows as every other: none was cut short.
  passes=$(tail -n +2 "$work/$name.txt" | awk -F, '{n[$1]++} END {for (c in n) print n[c]}' | sort -u | wc -l)
  rows=$(tail -n +2 "$work/$name.txt" | wc -l)
  [ "$rows" -gt 0 ] && [ "$passes" -eq 1 ] \
    || { fail "$name: $rows rows, passes of $passes different sizes"; cat "$work/$name.err"; }
done
if ls "$work"/home-6553[34]/run/*.lock >/dev/null 2>&1; then fail "a member locked a file of its own"; fi

if [ "$failures" -ne 0 ]; then
  echo "host activator output:"; cat "$work/activator.err"
  exit 1
fi
echo "system host permission model: members served, others refused with a reason, one shared lock"
