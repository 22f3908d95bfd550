#!/usr/bin/env bash
# Long fuzzing session: runs each fuzz target for SECONDS seconds (default 60),
# one after another, starting from the saved corpus. New interesting inputs go to
# build/fuzz/corpus/<target> (not into the saved corpus); a crash or mismatch is
# written to build/fuzz/artifacts/<target>/ and ends the script with status 1.
# To keep a finding: copy the artifact into fuzz/corpus/<target>/ under a name
# that says what it caught, and add a named test in tests/faults.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

bin=build/fuzz/fuzz
status=0
for target in fuzz_text_input fuzz_split fuzz_join fuzz_records; do
  corpus=build/fuzz/corpus/$target
  artifacts=build/fuzz/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  log=build/fuzz/$target.log
  if "$bin/$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    result="no failure"
  else
    result="FAILED (see $log and $artifacts)"
    status=1
  fi
  runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' || echo '?')
  cov=$(grep -Eo 'cov: [0-9]+' "$log" | tail -1 || true)
  echo "$target: ${seconds}s, $runs inputs run, $cov, corpus $(ls "$corpus" | wc -l) entries: $result"
done
exit $status
