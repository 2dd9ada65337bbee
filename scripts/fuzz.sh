#!/usr/bin/env bash
# Runs the libFuzzer targets (built with clang, ASan and UBSan into
# build-fuzz), each from a copy of its seed corpus in fuzz/corpus/<name>.
#   bash scripts/fuzz.sh                 1 000 000 executions each (the long run)
#   FUZZ_SECONDS=15 bash scripts/fuzz.sh 15 seconds each (the test command)
#   FUZZ_RUNS=N, FUZZ_TARGETS="hive profile" choose other counts or targets.
# Prints one line per target: "fuzz <name>: <executions> executions in <s> s".
# A finding stops the script; its input is kept in build-fuzz/findings/ and
# becomes a regression case in tests/reliability/fuzz_regressions_test.cpp.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz --target fuzz_all -j2 >/dev/null

targets=(${FUZZ_TARGETS:-argument_text editor_check profile hive hive_changes command_line})
if [ -n "${FUZZ_SECONDS:-}" ]; then
  limit=(-max_total_time="$FUZZ_SECONDS")
else
  limit=(-runs="${FUZZ_RUNS:-1000000}")
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/findings

# One target; its line goes to $work/<name>.line, a finding's report to stderr.
run_target() {
  local target=$1 log="$work/$1.log"
  mkdir -p "$work/$target"
  if ! build-fuzz/fuzz/fuzz_"$target" "${limit[@]}" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="build-fuzz/findings/$target-" "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "fuzz $target: FINDING (input kept in build-fuzz/findings/)" >"$work/$target.line"
    return 1
  fi
  local executions seconds
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
  echo "fuzz $target: ${executions:-?} executions in ${seconds:-?} s" >"$work/$target.line"
}

# A fuzz target uses one core: FUZZ_JOBS of them run at once (2, the
# machine's cores, unless told otherwise).
jobs=${FUZZ_JOBS:-2}
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
  batch=("${targets[@]:i:jobs}")
  pids=()
  for target in "${batch[@]}"; do
    run_target "$target" &
    pids+=($!)
  done
  failed=0
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  for target in "${batch[@]}"; do
    if grep -q FINDING "$work/$target.line"; then cat "$work/$target.line" >&2; else cat "$work/$target.line"; fi
  done
  [ $failed -eq 0 ] || exit 1
done
