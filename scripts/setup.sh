#!/usr/bin/env bash
# Installs what the builds need on a fresh Debian machine (as root, through
# apt-get); does nothing when everything is there.
#   scripts/setup.sh host    packages of the host build (demo, host tests, benchmarks)
#   scripts/setup.sh all     also the win32 build and Wine
set -euo pipefail

what=${1:-all}
host_packages=(cmake ninja-build ccache g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev libxxhash-dev
               libjpeg-dev libjpeg-turbo-progs libimage-exiftool-perl dpkg-dev file python3)
win32_packages=(g++-mingw-w64-i686-posix wine wine32:i386 xvfb xauth wixl msitools osslsigncode openssl)

packages=("${host_packages[@]}")
if [ "$what" = all ]; then packages+=("${win32_packages[@]}"); fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then exit 0; fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}; run this script as root to install them." >&2
  exit 1
fi
if [ "$what" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
