#!/usr/bin/env bash
# Quick regression pass for the fuzz targets: builds the 'fuzz' preset, replays
# every saved input of every target once, then lets each target mutate its
# corpus for a fixed number of runs (fixed seed, so a failure repeats).
# Exits non-zero on any crash, sanitizer report or model mismatch.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${FUZZ_CORPUS_RUNS:-3000}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

bin=build/fuzz/fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in fuzz_text_input fuzz_split fuzz_join fuzz_records; do
  corpus=fuzz/corpus/$target
  if ! "$bin/$target" "$corpus"/* >"$work/$target.replay.log" 2>&1; then
    echo "fuzz: $target fails on a saved input:" >&2
    grep -E 'MISMATCH|ERROR|Running:' "$work/$target.replay.log" | tail -5 >&2
    status=1
    continue
  fi
  # Mutate a copy, so that the saved corpus stays as it is.
  mkdir -p "$work/$target"
  cp "$corpus"/* "$work/$target"/
  if ! "$bin/$target" -runs="$runs" -seed=1 -max_len=4096 -artifact_prefix="$work/" \
      "$work/$target" >"$work/$target.fuzz.log" 2>&1; then
    echo "fuzz: $target failed within $runs runs:" >&2
    grep -E 'MISMATCH|ERROR|Test unit written' "$work/$target.fuzz.log" | tail -5 >&2
    status=1
    continue
  fi
  echo "fuzz: $target: $(ls "$corpus" | wc -l) saved inputs replayed, $(grep -Eo 'Done [0-9]+ runs' "$work/$target.fuzz.log" | tail -1 | cut -d' ' -f2) mutated runs, no failure"
done
exit $status
