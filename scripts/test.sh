#!/usr/bin/env bash
# The test command: installs what is missing, builds the POSIX program, its
# tests and the Windows setup.exe, and runs every test (the Wine checks too);
# then the sanitizer build's tests and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
# The crash-safety tests stop runs at every change of the hive (before and
# after each replacement of system.reg, in the middle of each record of its
# change log) in full; of the kills at random moments in between, 60 per
# scenario instead of 200 already meet every hive state of the run, and 6
# rounds of each concurrent pair instead of 12 meet the same interleavings
# (the concurrent programs take turns where they wait). scripts/reliability.sh
# keeps the full counts for its figures.
RELIABILITY_KILLS=60 RELIABILITY_ROUNDS=6 ctest --test-dir build --output-on-failure -j2 -E '^wine_'
# The Wine runs spend most of their time waiting (setup's pauses on the real
# clock, Wine starting its processes: even at four at once the cores are
# idle more than half the time), so four run at once.
ctest --test-dir build --output-on-failure -j4 -R '^wine_'

# The same program and tests under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan): every test but the Windows build and the Wine runs (checked
# above); the crash and concurrency tests with 20 random kill -9 moments and
# 4 rounds per scenario instead of 200 and 12 (their kills at each change
# of the hive all run).
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSETUP_SANITIZE=ON -DSETUP_MINGW_CC=OFF
cmake --build build-asan -j2
RELIABILITY_KILLS=20 RELIABILITY_ROUNDS=4 ctest --test-dir build-asan --output-on-failure -j2

# The fuzz targets (clang, build-fuzz), 15 seconds each; the long run is
# scripts/fuzz.sh without FUZZ_SECONDS.
FUZZ_SECONDS=15 bash scripts/fuzz.sh
