#!/usr/bin/env bash
# The test command: installs what is missing, builds the POSIX program, its
# tests and the Windows setup.exe, and runs every test (the Wine checks too).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
