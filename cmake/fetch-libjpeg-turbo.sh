#!/bin/sh
# Fetches Debian's libjpeg-turbo source package with apt and unpacks it (with
# Debian's patches applied) into SOURCE_DIR. Run by the win32 build; nothing it
# fetches is committed. The package is pinned to one version, and the SHA-256
# of its .dsc, .orig and .debian files must match the values below: a fetch
# that fails or a file that differs stops the build with one line saying so.
#
#   fetch-libjpeg-turbo.sh SOURCE_DIR WORK_DIR
#
# Source packages are only visible to apt once a deb-src entry exists. When
# there is none and the script runs as root, it adds one for bookworm main
# beside the machine's own Debian entry and refreshes the package lists.
set -eu

if [ $# -ne 2 ]; then
  echo "usage: $0 SOURCE_DIR WORK_DIR" >&2
  exit 2
fi
source_dir=$1
work_dir=$2
package=libjpeg-turbo
version=1:2.1.5-2
upstream=2.1.5
suite=bookworm
dsc_file=${package}_2.1.5-2.dsc
orig_file=${package}_${upstream}.orig.tar.gz
debian_file=${package}_2.1.5-2.debian.tar.xz
dsc_sha256=d718ead0dfbcbc8523665c02a7f7152e31039ded641d022868722623bb3b486d
orig_sha256=254f3642b04e309fee775123133c6464181addc150499561020312ec61c1bf7c
debian_sha256=cdb2433c2f7101345c1ffa14efb943787c675b86354691a32490845fe4bc9237
entry_file=/etc/apt/sources.list.d/pagewick-deb-src.sources

stamp=$source_dir/.pagewick-fetched
if [ -f "$source_dir/CMakeLists.txt" ] && [ -f "$source_dir/jpeglib.h" ] && [ -f "$stamp" ] &&
   [ "$(cat "$stamp")" = "$version $dsc_sha256" ]; then
  echo "$package $version sources already unpacked in $source_dir"
  exit 0
fi

fail() {
  echo "fetch-libjpeg-turbo: $*" >&2
  exit 1
}

is_root() { [ "$(id -u)" -eq 0 ]; }

# apt-get update waits for other apt runs instead of failing on their lock.
apt_update() {
  tries=0
  until apt-get -o DPkg::Lock::Timeout=300 -o Acquire::Retries=3 update; do
    tries=$((tries + 1))
    if [ "$tries" -ge 5 ]; then
      echo "apt-get update failed" >&2
      return 1
    fi
    sleep 10
  done
}

if ! command -v dpkg-source >/dev/null 2>&1; then
  if is_root; then
    apt_update
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends dpkg-dev
  else
    echo "dpkg-source is missing: install dpkg-dev (apt-get install dpkg-dev)" >&2
    exit 1
  fi
fi

# The Debian mirror the machine already uses for binary packages.
debian_mirror() {
  mirror=""
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    mirror=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i ~ /\/debian\/?$/) { print $i; exit } }' "$file")
    [ -n "$mirror" ] && break
  done
  if [ -z "$mirror" ]; then
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$file" ] || continue
      mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\// && $i ~ /\/debian\/?$/) { print $i; exit } }' "$file")
      [ -n "$mirror" ] && break
    done
  fi
  echo "${mirror:-http://deb.debian.org/debian}"
}

add_deb_src_entry() {
  mirror=$(debian_mirror)
  echo "adding a deb-src entry for $suite main ($mirror) in $entry_file"
  {
    echo "Types: deb-src"
    echo "URIs: $mirror"
    echo "Suites: $suite"
    echo "Components: main"
    if [ -f /usr/share/keyrings/debian-archive-keyring.gpg ]; then
      echo "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
    fi
  } >"$entry_file"
  apt_update
}

mkdir -p "$work_dir"
cd "$work_dir"
rm -f ./"$package"_*

if ! apt-get source --download-only "$package=$version"; then
  if is_root; then
    if [ ! -f "$entry_file" ]; then
      add_deb_src_entry
    else
      apt_update
    fi
    apt-get source --download-only "$package=$version" ||
      fail "apt-get could not fetch the $package $version source package"
  else
    echo "apt cannot see the $package source package: add a deb-src entry for $suite main" >&2
    echo "to /etc/apt/sources.list.d and run apt-get update (or run this script as root)" >&2
    exit 1
  fi
fi

# apt checks the files against the archive's signed index; these checks pin
# the exact bytes the build was made with.
check_sha256() {
  [ -f "$1" ] || fail "$1 was not fetched"
  actual=$(sha256sum "$1" | cut -d ' ' -f 1)
  [ "$actual" = "$2" ] || fail "SHA-256 mismatch for $1: expected $2, got $actual"
}
check_sha256 "$dsc_file" "$dsc_sha256"
check_sha256 "$orig_file" "$orig_sha256"
check_sha256 "$debian_file" "$debian_sha256"

dsc=./$dsc_file
unpacked=$work_dir/unpacked
rm -rf "$unpacked"
dpkg-source -x "$dsc" "$unpacked" >/dev/null || fail "dpkg-source could not unpack $dsc_file"

mkdir -p "$source_dir"
# The source directory may already exist (empty) when the build creates it.
cp -a "$unpacked"/. "$source_dir"/
rm -rf "$unpacked"
echo "$version $dsc_sha256" >"$source_dir/.pagewick-fetched"
echo "$package unpacked from $dsc into $source_dir"
