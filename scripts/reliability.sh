#!/usr/bin/env bash
# The reliability figures of the README: in the sanitizer build (build-asan,
# ASan + UBSan) the fault matrix, the kill -9 runs, the concurrent runs and
# the odd inputs; then the long fuzz run (scripts/fuzz.sh, 10^6 executions
# per target). Prints the figures as the README's table; fails on any
# failed test or fuzz finding. RELIABILITY_KILLS (default 200 per scenario)
# and RELIABILITY_ROUNDS (default 12 per pair) change the counts.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSETUP_SANITIZE=ON -DSETUP_MINGW_CC=OFF >/dev/null
cmake --build build-asan -j2 --target setup test_reliability >/dev/null

out=$(mktemp)
trap 'rm -f "$out"' EXIT
if ! build-asan/tests/reliability/test_reliability >"$out" 2>&1; then
  grep -E '^\[  FAILED|Failure|error' "$out" | head -n 40 >&2
  echo "reliability tests failed; the whole output: build-asan/tests/reliability/test_reliability" >&2
  exit 1
fi
fuzz=$(bash scripts/fuzz.sh)

echo "| Check | Figure |"
echo "|---|---|"
sed -n 's/^figure: \([^:]*\): \(.*\)$/| \1 | \2 |/p' "$out"
awk '/^figure: fault matrix/ { runs += $(NF-1) } END { print "| fault matrix, all scenarios | " runs " runs |" }' "$out"
awk '/^figure: crash safety/ { random += $5; changes += $13 }
     END { print "| crash safety, all scenarios | " random + changes " kill points survived (" random " random, " changes " at the changes) |" }' "$out"
echo "$fuzz" | sed -n 's/^fuzz \([^:]*\): \(.*\)$/| fuzz \1 | \2 |/p'
echo "| sanitizer findings | 0 (ASan + UBSan over every run above) |"
