#!/usr/bin/env bash
# The benchmark command: builds the program in Release (build-bench) and the
# test build (build, as scripts/test.sh makes it), then prints one table of
# ratios: time above the pauses, install + uninstall pairs, the file copy
# against cp, an install on a crowded hive, the test suite's wall time.
# Exits 0 once the table is printed. Arguments go to setup_bench
# (--small, --repeats N, --pairs N, --copy-mib N, --keys N, --no-real-clock).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build-bench -j2 --target setup_bench > /dev/null

suite=()
if [ "${BENCH_SUITE:-yes}" != no ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
  cmake --build build -j2 > /dev/null
  suite=(--suite build)
fi

build-bench/bench/setup_bench "${suite[@]}" "$@"
