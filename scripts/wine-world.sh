#!/usr/bin/env bash
# The Wine world of the win32 build's end-to-end tests: a fresh 32-bit prefix
# with the scanner driver installed as an auto-start kernel service, drive X:
# mapped as a removable drive that the driver owns, the scanner simulator
# serving the driver through FIFOs, the packaged pagewick.exe, and one
# wineserver kept alive for the whole run.
#
#   wine-world.sh up WORLD SIMULATOR DRIVER PROGRAM TEXT_TABLE
#   wine-world.sh down WORLD
#
# up writes WORLD/env (WINEPREFIX and the test variables) and the process ids
# it started; down ends exactly those processes. Anything missing stops the
# set-up with a message that says what.
set -euo pipefail

die() {
  echo "wine-world: $*" >&2
  [ -n "${world_up:-}" ] && down "$world_up"
  exit 1
}

drive=x

down() {
  local world=$1
  [ -d "$world" ] || return 0
  world=$(cd "$world" && pwd)
  if [ -f "$world/simulator.pid" ]; then
    kill "$(cat "$world/simulator.pid")" 2>/dev/null || true
    rm -f "$world/simulator.pid"
  fi
  if [ -f "$world/wineserver.pid" ]; then
    local server
    server=$(cat "$world/wineserver.pid")
    # -k ends this prefix's wineserver only; the process id makes sure.
    WINEPREFIX="$world/prefix" wineserver -k 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$server" 2>/dev/null || break
      sleep 0.1
    done
    kill "$server" 2>/dev/null || true
    rm -f "$world/wineserver.pid"
  fi
  # Wine processes of this prefix that outlived their server (found by the
  # prefix in their environment, so no other Wine run is touched).
  local prefix="$world/prefix" pid
  for pid in $(pgrep -u "$(id -u)" . || true); do
    if grep -qsxz "WINEPREFIX=$prefix" "/proc/$pid/environ" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
    fi
  done
}

up() {
  local world=$1 simulator=$2 driver=$3 program=$4 texts=$5
  command -v wine >/dev/null || die "wine is not installed (scripts/setup.sh installs wine32)"
  command -v wineserver >/dev/null || die "wineserver is not installed"
  [ -x "$simulator" ] || die "no scanner simulator at '$simulator': build the host preset first" \
    "(cmake --build --preset host --target pagewick-scanner-sim) or set PAGEWICK_SCANNER_SIM"
  [ -f "$driver" ] || die "no scanner driver at '$driver'"
  [ -f "$program" ] || die "no pagewick.exe at '$program'"
  local modules
  modules=$(dirname "$program")
  for module in pwimgfil.dll pwimgkrn.dll; do
    [ -f "$modules/$module" ] || die "no imaging module $module beside $program"
  done
  [ -f "$texts" ] || die "no text table at '$texts'"

  mkdir -p "$world"
  world=$(cd "$world" && pwd)
  down "$world"
  rm -rf "$world"
  mkdir -p "$world/drive-$drive" "$world/fifo"
  world_up=$world
  export WINEPREFIX="$world/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

  # The prefix, the drive and the driver's registration, written by a
  # wineserver of its own that ends afterwards: the mount manager reads the
  # Drives key when it starts, which it does again under the server below.
  wineboot -i >"$world/wineboot.log" 2>&1 || die "wineboot failed (see $world/wineboot.log)"
  [ -d "$WINEPREFIX/drive_c/windows/system32" ] || die "wineboot made no prefix at $WINEPREFIX"
  # Wine takes drive types from dosdevices and the Drives key; the driver
  # takes the letter's device link.
  ln -s "$world/drive-$drive" "$WINEPREFIX/dosdevices/$drive:"
  wine reg add 'HKLM\Software\Wine\Drives' /v "$drive:" /t REG_SZ /d floppy /f >/dev/null ||
    die "cannot mark drive $drive: removable"
  cp "$driver" "$WINEPREFIX/drive_c/windows/system32/drivers/pwscan.sys"
  # Auto start: a driver started on demand goes with the first wineserver.
  wine sc create pwscan type= kernel start= auto binPath= 'C:\windows\system32\drivers\pwscan.sys' >/dev/null ||
    die "cannot create the driver service"
  local key='HKLM\System\CurrentControlSet\Services\pwscan'
  wine reg add "$key" /v Drive /t REG_SZ /d "${drive^^}" /f >/dev/null || die "cannot configure the driver"
  wine reg add "$key" /v FifoDir /t REG_SZ /d "\\??\\Z:${world//\//\\}\\fifo" /f >/dev/null ||
    die "cannot configure the driver"
  wineserver -w

  "$simulator" --fifo "$world/fifo" >"$world/simulator.log" 2>&1 &
  echo $! >"$world/simulator.pid"
  for _ in $(seq 50); do
    [ -p "$world/fifo/reply" ] && break
    sleep 0.1
  done
  [ -p "$world/fifo/reply" ] || die "the simulator did not start (see $world/simulator.log)"

  # From here on one wineserver for the whole run: the driver lives in its
  # driver host, which goes when the server goes.
  wineserver -f -p >"$world/wineserver.log" 2>&1 &
  echo $! >"$world/wineserver.pid"
  # Wine's system processes start with the first command and inherit its
  # output: files only, never pipes, or a reader waits for them to end.
  local state=""
  for _ in $(seq 100); do
    wine sc query pwscan >"$world/driver-state.log" 2>&1 || true
    state=$(grep STATE "$world/driver-state.log" || true)
    case $state in *RUNNING*) break ;; esac
    wine sc start pwscan >"$world/driver-start.log" 2>&1 || true
    sleep 0.2
  done
  case $state in
    *RUNNING*) ;;
    *) die "the scanner driver does not run (${state:-not registered}; see $world/driver-start.log)" ;;
  esac

  # The package as an installer leaves it.
  local package="$WINEPREFIX/drive_c/Program Files/Pagewick"
  mkdir -p "$package"
  cp "$program" "$modules/pwimgfil.dll" "$modules/pwimgkrn.dll" "$texts" "$package/"

  # For running a test binary by hand: set -a; . WORLD/env; set +a
  cat >"$world/env" <<EOF
WINEPREFIX='$WINEPREFIX'
PAGEWICK_WINE_WORLD='Z:${world//\//\\}'
PAGEWICK_SCANNER_DRIVE='${drive^^}'
PAGEWICK_PACKAGE='C:\Program Files\Pagewick\pagewick.exe'
EOF
  echo "wine-world: up at $world (drive ${drive^^}:, simulator pid $(cat "$world/simulator.pid"))"
}

case "${1:-}" in
  up)
    [ $# -eq 6 ] || die "usage: wine-world.sh up WORLD SIMULATOR DRIVER PROGRAM TEXT_TABLE"
    up "$2" "$3" "$4" "$5" "$6"
    ;;
  down)
    [ $# -eq 2 ] || die "usage: wine-world.sh down WORLD"
    down "$2"
    ;;
  *) die "usage: wine-world.sh up|down ..." ;;
esac
