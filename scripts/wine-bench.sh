#!/usr/bin/env bash
# The pull rate of pagewick.exe under Wine against a bare loop of the same
# requests through the same scanner driver (tests/bench/wine). Needs the host
# build (the simulator) and the win32 build; runs in a Wine world of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
simulator=${PAGEWICK_SCANNER_SIM:-$PWD/build/host/tools/scanner-sim/pagewick-scanner-sim}
world=build/win32/wine-bench-world
cmake --build --preset win32 -j 2 --target wine_pull_bench pagewick pwscan >/dev/null
run() {
  scripts/wine-world.sh up "$world" "$simulator" build/win32/tools/scanner-driver/pwscan.sys \
    build/win32/tools/pagewick.exe build/win32/rc.info
  status=0
  (set -a; . "$world/env"; set +a; wine build/win32/tests/bench/wine_pull_bench.exe) || status=$?
  scripts/wine-world.sh down "$world"
  return "$status"
}
if [ -n "${DISPLAY:-}" ]; then
  run
else
  export -f run
  export world simulator
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c run
fi
