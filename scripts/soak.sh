#!/usr/bin/env bash
# Soak: the host build's pagewick service in a host world of its own, with the
# scanner simulator queueing a new picture every 1.5 s, random time-outs and
# errors, and random pause/continue/interrogate requests (never a stop until
# the end). At the end it reports the pictures delivered, saved and lost, and
# the service's resident memory after a warm-up and at the end.
#
#   scripts/soak.sh [--minutes N] [--build DIR]
#
# Exits non-zero when a picture was lost, the service crashed or did not stop
# within 5 s, or its resident memory grew by more than 1 MB.
set -uo pipefail
cd "$(dirname "$0")/.."

minutes=3
build=build/host
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) minutes="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    *) echo "usage: $0 [--minutes N] [--build DIR]" >&2; exit 2 ;;
  esac
done
case "$minutes" in ''|*[!0-9]*) echo "soak: --minutes takes a whole number" >&2; exit 2 ;; esac

cmake --build "$build" --target pagewick pagewick-sc pagewick-scanner-sim >/dev/null || exit 1
program="$build/tools/pagewick"
sc="$build/tools/sc/pagewick-sc"
sim="$build/tools/scanner-sim/pagewick-scanner-sim"

world=$(mktemp -d /tmp/pagewick-soak-XXXXXX)
export PAGEWICK_WORLD="$world"
sim_pid=""
service_pid=""

alive() {  # a zombie counts as gone
  [ -n "$1" ] && kill -0 "$1" 2>/dev/null && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null
}
cleanup() {
  if alive "$service_pid"; then
    "$sc" stop Service1 >/dev/null 2>&1
    for _ in $(seq 100); do alive "$service_pid" || break; sleep 0.1; done
    alive "$service_pid" && kill -KILL "$service_pid" 2>/dev/null
  fi
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  [ -z "${PAGEWICK_SOAK_KEEP:-}" ] && rm -rf "$world"
}
trap cleanup EXIT

# The program as installed: its text table and imaging modules beside it.
mkdir -p "$world/app/tools" "$world/app/imaging" "$world/drive_c/Users/Public/Documents"
cp "$program" "$world/app/tools/pagewick"
cp "$build"/imaging/*.so "$world/app/imaging/"
cp "$build/rc.info" "$world/app/tools/rc.info"
printf '[Setting]\r\nMode=1\r\nPath=C:\\Scans\r\nAutoRoate=0\r\n' >"$world/drive_c/Users/Public/Documents/pagewick.info"
# Someone is at the console (session 1): the service saves pictures with that
# user's rights, as the world's sessions helper lays it out.
printf '1 user\n' >"$world/sessions"
printf '1\n' >"$world/console-session"

"$sim" --root "$world" --drive E --no-record --every 1500 --every-size 20000:200000 \
  --chunk random:7:4096:131072 --random-fail chunk:0.05:11:121 --random-fail length:0.03:12:121 \
  --random-fail chunk:0.005:13:31 --delivered-dir "$world/delivered" --event-log "$world/events.log" \
  >"$world/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -S "$world/devices/E.sock" ] && break; sleep 0.05; done

"$world/app/tools/pagewick" /install /silent || { echo "soak: install failed"; exit 1; }
service_pid=$("$sc" start Service1 | awk '/PID/ {print $3}')
"$sc" wait Service1 RUNNING 15000 >/dev/null || { echo "soak: the service did not start"; exit 1; }

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$service_pid/status" 2>/dev/null; }
seconds=$((minutes * 60))
warmup=$((seconds / 6 < 30 ? seconds / 6 : 30))
start=$(date +%s)
rss_start=""
crashed=0
requests=0
RANDOM=20261207
while [ $(($(date +%s) - start)) -lt "$seconds" ]; do
  if ! alive "$service_pid"; then crashed=1; break; fi
  if [ -z "$rss_start" ] && [ $(($(date +%s) - start)) -ge "$warmup" ]; then rss_start=$(rss); fi
  case $((RANDOM % 4)) in
    0)
      "$sc" pause Service1 >/dev/null 2>&1
      "$sc" wait Service1 PAUSED 20000 >/dev/null 2>&1
      sleep "0.$((RANDOM % 10))"
      "$sc" continue Service1 >/dev/null 2>&1
      "$sc" wait Service1 RUNNING 20000 >/dev/null 2>&1
      requests=$((requests + 2)) ;;
    1) "$sc" interrogate Service1 >/dev/null 2>&1; requests=$((requests + 1)) ;;
    *) ;;
  esac
  sleep "$((1 + RANDOM % 2)).$((RANDOM % 10))"
done
rss_end=$(rss)

# The end: a timed stop, then the simulator.
stop_began=$(date +%s%N)
"$sc" stop Service1 >/dev/null 2>&1
for _ in $(seq 300); do alive "$service_pid" || break; sleep 0.02; done
stop_ms=$((($(date +%s%N) - stop_began) / 1000000))
stopped=1
alive "$service_pid" && stopped=0
kill -TERM "$sim_pid" 2>/dev/null
wait "$sim_pid" 2>/dev/null
sim_pid=""

# Delivered pictures against saved ones, by content.
delivered=$(find "$world/delivered" -name '*.bin' 2>/dev/null | wc -l)
find "$world/delivered" -name '*.bin' -exec sha256sum {} + 2>/dev/null | awk '{print $1}' | sort >"$world/delivered.sums"
find "$world/drive_c" -type f -iregex '.*/img[0-9][0-9][0-9][0-9]\.jpg' -exec sha256sum {} + 2>/dev/null |
  awk '{print $1}' | sort >"$world/saved.sums"
saved=$(sort -u "$world/saved.sums" | comm -12 - "$world/delivered.sums" | wc -l)
lost=$(sort -u "$world/saved.sums" | comm -13 - "$world/delivered.sums" | wc -l)
twice=$(uniq -d "$world/saved.sums" | comm -12 - "$world/delivered.sums" | wc -l)
stray=$(comm -23 <(sort -u "$world/saved.sums") "$world/delivered.sums" | wc -l)
reports=$(grep -lE 'AddressSanitizer|LeakSanitizer|runtime error:|terminate called' "$world"/scm/logs/*.log 2>/dev/null | wc -l)
growth=$(( ${rss_end:-0} - ${rss_start:-0} ))

echo "soak: ${minutes} min, ${requests} control requests; pictures delivered ${delivered}, saved ${saved}, lost ${lost}, saved twice ${twice}, other files under picture names ${stray}"
echo "soak: service RSS ${rss_start:-?} kB after ${warmup} s warm-up, ${rss_end:-?} kB at the end (growth ${growth} kB); stop took ${stop_ms} ms"

status=0
[ "$delivered" -gt 0 ] || { echo "soak: FAILED: nothing was delivered"; status=1; }
[ "$lost" -eq 0 ] || { echo "soak: FAILED: ${lost} pictures lost"; status=1; }
[ "$crashed" -eq 0 ] || { echo "soak: FAILED: the service process ended by itself"; status=1; }
[ "$reports" -eq 0 ] || { echo "soak: FAILED: the service's log holds a sanitizer or exception report"; status=1; }
{ [ "$stopped" -eq 1 ] && [ "$stop_ms" -le 5000 ]; } || { echo "soak: FAILED: the stop was not honoured within 5 s"; status=1; }
{ [ -n "$rss_start" ] && [ -n "$rss_end" ] && [ "$growth" -le 1024 ]; } ||
  { echo "soak: FAILED: resident memory grew by more than 1 MB (or could not be read)"; status=1; }
exit $status
