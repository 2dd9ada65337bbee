#!/usr/bin/env bash
# scripts/runs-32bit.sh against a 32-bit program that is known: Wine's
# 32-bit loader (wine32), where it is installed. Both run, or neither does.
set -u
here="$(cd "$(dirname "$0")/../.." && pwd)"
answer=no
bash "$here/scripts/runs-32bit.sh" && answer=yes
loader=/usr/lib/wine/wine
# (byte 5 of an ELF file is its class: 01 for 32-bit)
if [ ! -x "$loader" ] || [ "$(od -An -tx1 -j4 -N1 "$loader" 2>/dev/null | tr -d ' ')" != 01 ]; then
  echo "skipped: no 32-bit Wine loader here to compare with (the probe says $answer)"
  exit 77
fi
runs=no
"$loader" --version >/dev/null 2>&1 && runs=yes
echo "probe: $answer; Wine's 32-bit loader runs: $runs"
[ "$answer" = "$runs" ]
