#!/usr/bin/env bash
# The pull rate of pagewick.exe under Wine against a bare loop of the same
# requests through the same scanner driver (tests/bench/wine), at 64 KiB and
# 512 KiB chunks, and the service's CPU per MB. Needs the host build (the
# simulator) and the win32 build; runs in a Wine world of its own, on its own
# X server (xvfb-run) when there is no DISPLAY. Its figures are kept in
# build/win32/wine-bench.txt, and scripts/bench.sh's table takes its rows
# from there; this script prints those rows in the table's form.
set -euo pipefail
cd "$(dirname "$0")/.."
# Without a display, the whole script runs again on an X server of its own.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" scripts/wine-bench.sh "$@"
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
simulator=${PAGEWICK_SCANNER_SIM:-$PWD/build/host/tools/scanner-sim/pagewick-scanner-sim}
world=build/win32/wine-bench-world
results=build/win32/wine-bench.txt
cmake --build --preset host -j 2 --target pagewick-scanner-sim >/dev/null
cmake --build --preset win32 -j 2 --target wine_pull_bench pagewick pwscan >/dev/null
run() {
  scripts/wine-world.sh up "$world" "$simulator" build/win32/tools/scanner-driver/pwscan.sys \
    build/win32/tools/pagewick.exe build/win32/rc.info
  status=0
  (set -a; . "$world/env"; set +a; wine build/win32/tests/bench/wine_pull_bench.exe) || status=$?
  scripts/wine-world.sh down "$world"
  return "$status"
}
rm -f "$results"
status=0
run | tee "$results.new" || status=$?
mv "$results.new" "$results"
python3 scripts/bench-table.py --wine "$results" --wine-only
exit "$status"
