#!/usr/bin/env bash
# The mutation run: small faults put one at a time into the program's own
# routines (src/app, src/support, src/install, src/uninstall), each built and
# checked by the fast tests and the fault matrix; prints the survivors and
# the score. Not part of the test command. Arguments go to scripts/mutate.py:
#   --seed N (default 1), --count N (default 150; 0 for every mutant),
#   --list (the sample only), --only TEXT, --work DIR (default build-mutate).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
exec python3 scripts/mutate.py "$@"
