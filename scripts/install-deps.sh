#!/usr/bin/env bash
# Installs, as root on Debian, whatever the build, the tests and the demo need
# and the machine lacks. Does nothing when everything is there.
set -euo pipefail

packages=(
  cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xdotool x11-utils
  ghostscript poppler-utils clang libclang-rt-14-dev strace
)
# Wine's 32-bit side (and with it the i386 architecture and its libraries)
# only where the kernel runs 32-bit programs: elsewhere none of it could run,
# and its packages' own scripts fail with "Exec format error" on the way.
runs_32bit=no
if bash "$(dirname "$0")/runs-32bit.sh"; then
  runs_32bit=yes
  packages+=(wine32:i386)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
if [ "$runs_32bit" = yes ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
else
  echo "install-deps: this kernel doesn't run 32-bit programs: wine32 left out (the Wine checks use wine64)"
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
