#!/usr/bin/env bash
# Checks the Windows package as a user gets it: unpacks the zip that the
# win32 build's package target wrote into a clean folder, looks at its files
# and at pagewick.exe's resources (version record, icon, manifest, message
# table), checks the MSI's tables (scripts/check-msi-repair.sh: what a repair
# runs as SYSTEM) and, for a signed build, every signature,
# and runs
# the unpacked pagewick.exe under Wine in a throwaway prefix: /install /silent
# registers it with its own path, it runs as the service and stops, and
# /uninstall /silent removes it again.
#
#   scripts/check-package.sh [BUILD_DIR]     (default build/win32)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win32}

fail() {
  echo "check-package: $*" >&2
  exit 1
}

# Wine needs a display for the service's window: the whole check runs on Xvfb.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
zip=$build/pagewick-$version-win32.zip
[ -f "$zip" ] || fail "$zip is missing: run cmake --build --preset win32 --target package"

check=$(realpath -m "$build/package-check")
rm -rf "$check"
mkdir -p "$check/unpacked"
cmake -E chdir "$check/unpacked" cmake -E tar xf "$(realpath "$zip")"
unpacked=$check/unpacked

expected="README.txt pagewick.exe pwimgfil.dll pwimgkrn.dll rc.info"
actual=$(cd "$unpacked" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//')
[ "$actual" = "$expected" ] || fail "the zip holds \"$actual\", expected \"$expected\""
grep -q $'\r$' "$unpacked/README.txt" || fail "README.txt does not have Windows line ends"
if grep -q $'[^\r]$' "$unpacked/README.txt"; then fail "README.txt has lines without CR"; fi
file "$unpacked/pagewick.exe" | grep -q 'PE32 executable (GUI) Intel 80386' || fail "pagewick.exe is not a 32-bit GUI executable"

# The resources as windres reads them back from the executable.
resources=$(i686-w64-mingw32-windres -i "$unpacked/pagewick.exe" -O rc) || fail "windres cannot read pagewick.exe's resources"
expect_resource() {
  grep -qF -- "$1" <<<"$resources" || fail "pagewick.exe's resources lack $2"
}
IFS=. read -r major minor patch tweak _ <<<"$version.0.0.0"
expect_resource "FILEVERSION ${major}, ${minor}, ${patch:-0}, ${tweak:-0}" "the file version $version"
expect_resource "PRODUCTVERSION ${major}, ${minor}, ${patch:-0}, ${tweak:-0}" "the product version $version"
expect_resource 'VALUE "ProductName", "Pagewick"' "the product name"
expect_resource 'VALUE "OriginalFilename", "pagewick.exe"' "the original file name"
expect_resource 'VALUE "FileDescription",' "a description"
expect_resource '1 14 /* RT_GROUP_ICON */' "the application icon"
expect_resource '1 24 /* RT_MANIFEST */' "the manifest"
expect_resource 'requestedExecutionLevel level=""asInvoker""' "asInvoker in the manifest"
expect_resource '1 11 /* RT_MESSAGETABLE */' "the message table"
for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
          4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
          8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  expect_resource "supportedOS Id=\"\"{$os}\"\"" "the supportedOS entry $os"
done
expect_resource 'dpiAwareness xmlns=""http://schemas.microsoft.com/SMI/2016/WindowsSettings"">PerMonitorV2' "per-monitor DPI awareness"
expect_resource '>true/pm</dpiAware>' "the system-aware fallback for older Windows"
expect_resource 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""' "Common Controls 6"

# The MSI's tables as msiinfo exports them: each line names a table and a
# row (tab-separated columns, the key column left out where wixl makes it up).
msi=$build/pagewick-$version-win32.msi
[ -f "$msi" ] || fail "$msi is missing: run cmake --build --preset win32 --target package"
upgrade_code='{8D4B3F4E-3B0C-4E43-9D2A-5B7F1C6E2A10}'
sources='SYSTEM\CurrentControlSet\Services\EventLog\Application'
expected_rows=(
  "ServiceInstall|Service1	Service1	Pagewick	272	2	32769						Program"
  "ServiceControl|Service1	Service1	163		1	Program"
  "Registry|2	$sources\Service1	EventMessageFile	[#PagewickExe]	EventSources"
  "Registry|2	$sources\Service1	TypesSupported	#7	EventSources"
  "Registry|2	$sources\Service1	-		EventSources"
  "Registry|2	$sources\pagewick.exe	EventMessageFile	[#PagewickExe]	EventSources"
  "Registry|2	$sources\pagewick.exe	TypesSupported	#7	EventSources"
  "Registry|2	$sources\pagewick.exe	-		EventSources"
  "File|PagewickExe	Program	pagewick.exe	"
  "File|PwImgFil	FilterModule	pwimgfil.dll	"
  "File|PwImgKrn	KernelModule	pwimgkrn.dll	"
  "File|RcInfo	TextTable	rc.info	"
  "File|ReadmeTxt	Readme	README.txt	"
  "Upgrade|$upgrade_code		$version		1		WIX_UPGRADE_DETECTED"
  "Property|UpgradeCode	$upgrade_code"
  "Property|ProductVersion	$version"
  "Property|Manufacturer	Pagewick"
  "Property|ALLUSERS	1"
  "Property|ARPNOMODIFY	1"
  "Property|LIMITUI	1"
  "Property|ARPPRODUCTICON	pagewick.ico"
  "Directory|INSTALLDIR	ProgramFilesFolder	Pagewick"
  "Shortcut|ProgramMenuFolder	Pagewick	StartMenu	[#PagewickExe]"
  "Registry|2	Software\Pagewick	InstallDir	[INSTALLDIR]	StartMenu"
  "AppSearch|PREVIOUSINSTALLDIR	PreviousInstallDir"
  "RegLocator|PreviousInstallDir	2	Software\Pagewick	InstallDir	2"
  "CustomAction|UsePreviousInstallDir	2099	INSTALLDIR	[PREVIOUSINSTALLDIR]"
  "InstallExecuteSequence|SetHelpLink		1001"
  "InstallExecuteSequence|UsePreviousInstallDir	PREVIOUSINSTALLDIR AND NOT INSTALLDIR	51"
  "CustomAction|RemoveSettingsData	2099	SETTINGSDATAFOLDER	[CommonAppDataFolder]Pagewick\\"
  "InstallExecuteSequence|RemoveSettingsData	REMOVESETTINGS=1 AND REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE	1002"
  "RemoveFile|SettingsDatapagewickinfo	Program	pagewick.info	SETTINGSDATAFOLDER	2"
  "RemoveFile|SettingsProgrampagewickinfo	Program	pagewick.info	SETTINGSPROGRAMFOLDER	2"
  "RemoveFile|SettingsFolder	Program		SETTINGSDATAFOLDER	2"
  "InstallExecuteSequence|RemoveTransfersData	REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE	1004"
  "RemoveFile|SettingsDatapagewicktransfers	Program	pagewick.transfers	TRANSFERSDATAFOLDER	2"
  "RemoveFile|SettingsProgrampagewicktransfers	Program	pagewick.transfers	TRANSFERSPROGRAMFOLDER	2"
)
declare -A tables=()
for row in "${expected_rows[@]}"; do
  table=${row%%|*}
  [ -n "${tables[$table]:-}" ] || tables[$table]=$(msiinfo export "$msi" "$table" | tr -d '\r') ||
    fail "msiinfo cannot export the $table table of $msi"
  grep -qF -- "${row#*|}" <<<"${tables[$table]}" || fail "the MSI's $table table lacks the row \"${row#*|}\""
done
files=$(tail -n +4 <<<"${tables[File]}" | wc -l)
[ "$files" = 5 ] || fail "the MSI installs $files files, expected the zip's five"
# Any user may start a repair (msiexec /fa), which runs as SYSTEM: the package
# runs no code of its own then and changes no ACL.
repair=$(scripts/check-msi-repair.sh "$msi") || fail "a repair of $msi would run code or set ACLs as SYSTEM"

# Signatures: with a certificate in the build's cache every binary of the zip
# and the MSI is signed by it (a self-signed one is its own authority), and
# the MSI holds the same signed files as the zip.
pfx=$(sed -n 's/^PAGEWICK_SIGN_PFX:[A-Z]*=//p' "$build/CMakeCache.txt")
signed=unsigned
if [ -n "$pfx" ]; then
  password=$(sed -n 's/^PAGEWICK_SIGN_PASSWORD_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
  openssl pkcs12 -in "$pfx" -nokeys -passin "file:$password" -out "$check/signer.pem" 2>/dev/null ||
    fail "cannot read the certificate of $pfx"
  for file in "$unpacked/pagewick.exe" "$unpacked/pwimgfil.dll" "$unpacked/pwimgkrn.dll" "$msi"; do
    osslsigncode verify -CAfile "$check/signer.pem" -in "$file" >"$check/verify.log" 2>&1 ||
      fail "the signature of $(basename "$file") does not verify: $(tail -n 3 "$check/verify.log")"
  done
  mkdir -p "$check/msi"
  msi_path=$(realpath "$msi")
  (cd "$check/msi" && msiextract "$msi_path" >/dev/null) || fail "msiextract cannot unpack $msi"
  for name in pagewick.exe pwimgfil.dll pwimgkrn.dll rc.info README.txt; do
    installed=$(find "$check/msi" -type f -name "$name" | head -n 1)
    cmp -s "$installed" "$unpacked/$name" || fail "the MSI's $name differs from the zip's"
  done
  signed="signed (4 signatures verified)"
fi

# The unpacked executable under Wine, in a prefix of its own, on a virtual
# display (the service's window needs one).
. scripts/wine-prefix.sh
wine_prefix "$check/wineprefix"
service_key='HKLM\System\CurrentControlSet\Services\Service1'
program="Z:$(sed 's|/|\\|g' <<<"$unpacked/pagewick.exe")"

service_state() {
  wine sc query Service1 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }'
}
wait_for_state() {
  for _ in $(seq 1 60); do
    [ "$(service_state)" = "$1" ] && return 0
    sleep 0.5
  done
  return 1
}

timeout 120 wine "$unpacked/pagewick.exe" /install /silent || fail "pagewick.exe /install /silent failed under Wine"
registered=$(wine reg query "$service_key" /v ImagePath 2>/dev/null | tr -d '\r') ||
  fail "pagewick.exe /install /silent registered no service Service1"
grep -qiF -- "$program" <<<"$registered" || fail "Service1 runs \"$registered\", not the unpacked $program"
# Wine's control manager may already have started it (it starts automatically).
wine sc start Service1 >/dev/null 2>&1 || true
wait_for_state RUNNING || fail "the unpacked pagewick.exe does not run as the service (state $(service_state))"
wine sc stop Service1 >/dev/null 2>&1 || true
wait_for_state STOPPED || fail "Service1 did not stop (state $(service_state))"
timeout 120 wine "$unpacked/pagewick.exe" /uninstall /silent || fail "pagewick.exe /uninstall /silent failed under Wine"
if wine sc query Service1 >/dev/null 2>&1; then fail "Service1 is still registered after /uninstall /silent"; fi
wineserver -k || true

echo "check-package: $repair"
echo "check-package: $zip holds $expected; pagewick.exe $version carries its version record, icon, manifest and message table, installs, runs as the service, stops and uninstalls under Wine; $msi has the expected tables; $signed"
