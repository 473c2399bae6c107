#!/usr/bin/env bash
# Screenshots of the settings page at 96, 144 and 192 DPI under Wine, then
# their comparison with the 96-DPI one scaled.
#   settings-pages.sh <settings_page_shot.exe> <output folder>
# Wine takes the screen's DPI from LogPixels at a process's start; the runs
# use a prefix of their own, so the other Wine tests keep 96 DPI.
set -euo pipefail
# A screen of its own, large enough for the 200% page (1040 x 724 and its frame).
if [ -z "${PAGEWICK_DPI_SCREEN:-}" ]; then
  exec env PAGEWICK_DPI_SCREEN=1 xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$@"
fi
shot=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../scripts/wine-prefix.sh"
wine_prefix "$out/wine-dpi-prefix"
for dpi in 96 144 192; do
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' /v LogPixels \
    /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  wine "$shot" "$(winepath -w "$out/settings-page-$dpi.png")"
done
wineserver -k || true
python3 "$here/compare-settings-pages.py" "$out/settings-page-96.png" "$out/settings-page-144.png" \
  "$out/settings-page-192.png"
