#!/usr/bin/env bash
# The demo: build, make a fresh simulated Windows XP machine with the product,
# install, show what the install did, and print a sample PostScript page
# through the installed printer into a real PDF.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target setup winsim

winsim=build/tools/winsim/winsim
out=${DEMO_DIR:-$(mktemp -d /tmp/zentaq-demo-XXXXXX)}
machine="$out/xp"
pdf="$out/zentaq-demo.pdf"

echo "== a fresh Windows XP machine with the product in c:\\zentaq: $machine"
"$winsim" init --os xp --product "$machine"
echo "== setup (install)"
"$winsim" run "$machine" --
echo "== what the install did"
"$winsim" show "$machine"
echo "== printing tools/winsim/sample.ps through the printer ZENTAQ"
"$winsim" print "$machine" tools/winsim/sample.ps "$pdf"
pages=$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')
echo "PDF written: $pdf ($pages page$([ "$pages" = 1 ] || echo s))"
