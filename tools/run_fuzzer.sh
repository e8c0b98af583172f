#!/bin/sh
# Runs one libFuzzer executable for a while on a scratch copy of its corpus, prints its final
# coverage line and statistics, and fails when the coverage is below a floor.
#   run_fuzzer.sh FUZZER CORPUS SCRATCH SECONDS MIN_EDGES
set -eu
fuzzer=$1 corpus=$2 scratch=$3 seconds=$4 floor=$5
rm -rf "$scratch"
mkdir -p "$scratch"
[ -d "$corpus" ] && cp -r "$corpus"/. "$scratch"/
log="$scratch.log"
status=0
# A fixed seed: the run explores the same inputs each time, so that a build that passed here
# does not fail later on an input found by chance (longer runs by hand find new ones).
"$fuzzer" -seed="${KESTROW_FUZZ_SEED:-20261209}" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  "$scratch" >"$log" 2>&1 || status=$?
grep -E "DONE|stat::" "$log" || true
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  exit "$status"
fi
edges=$(grep -Eo "cov: [0-9]+" "$log" | tail -n 1 | grep -Eo "[0-9]+" || echo 0)
echo "$(basename "$fuzzer"): $edges edges covered (floor $floor)"
[ "$edges" -ge "$floor" ]
