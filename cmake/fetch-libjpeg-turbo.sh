#!/bin/sh
# Fetches Debian's libjpeg-turbo source package with apt and unpacks it (with
# Debian's patches applied) into SOURCE_DIR. Run by the win32 build; nothing it
# fetches is committed.
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
suite=bookworm
entry_file=/etc/apt/sources.list.d/pagewick-deb-src.sources

if [ -f "$source_dir/CMakeLists.txt" ] && [ -f "$source_dir/jpeglib.h" ]; then
  echo "$package sources already unpacked in $source_dir"
  exit 0
fi

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
rm -f ./"$package"_*.dsc

if ! apt-get source --download-only "$package"; then
  if is_root; then
    if [ ! -f "$entry_file" ]; then
      add_deb_src_entry
    else
      apt_update
    fi
    apt-get source --download-only "$package"
  else
    echo "apt cannot see the $package source package: add a deb-src entry for $suite main" >&2
    echo "to /etc/apt/sources.list.d and run apt-get update (or run this script as root)" >&2
    exit 1
  fi
fi

dsc=$(ls ./"$package"_*.dsc | head -n 1)
unpacked=$work_dir/unpacked
rm -rf "$unpacked"
dpkg-source -x "$dsc" "$unpacked"

mkdir -p "$source_dir"
# The source directory may already exist (empty) when the build creates it.
cp -a "$unpacked"/. "$source_dir"/
rm -rf "$unpacked"
echo "$package unpacked from $dsc into $source_dir"
