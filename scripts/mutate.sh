#!/usr/bin/env bash
# The mutation run: small faults put one at a time into a target's sources,
# each built and checked by the target's tests; prints the survivors and the
# score. Not part of the test command. Arguments go to scripts/mutate.py:
#   --target program (default: src/app, src/support, src/install,
#   src/uninstall, judged by the fast tests and the fault matrix),
#   --target sim (src/platform/sim, judged by its unit tests, the program's
#   tests and whole runs, the fault matrix, and for the lock and the hive's
#   store the crash-safety and concurrency tests with small counts),
#   --target winsim (tools/winsim); --judges NAME (another target's tests),
#   --seed N (default 1), --count N (default 150; 0 for every mutant),
#   --list (the sample only), --only TEXT, --work DIR (default build-mutate,
#   build-mutate-TARGET for the others).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
exec python3 scripts/mutate.py "$@"
