#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test:
# once optimised (on the widest character kernels this processor has, then on
# the portable ones), once under AddressSanitizer + UndefinedBehaviorSanitizer,
# and the fuzz targets over their saved corpora (again, on the portable
# kernels); then builds the Debian packages and checks them and what installs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake --preset ci >/dev/null
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs"
# Once more on the portable character kernels, which processors without
# AVX2 (and other architectures) run.
FWPREP_SIMD=portable ctest --preset ci -j "$jobs"
# The programs' tests once more with a split of any file but the smallest on
# two threads taking 4 KiB at a time (the job suites run both ways anyway).
FWPREP_CHUNK=4096 ctest --preset ci -j "$jobs" -R 'tst_cli|tst_job_faults'

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

if [ -x fuzz/run-corpus.sh ]; then
  fuzz/run-corpus.sh
  # The saved inputs again on the portable kernels, with fewer new ones.
  FWPREP_SIMD=portable FUZZ_CORPUS_RUNS=1000 fuzz/run-corpus.sh
fi

# Packages and installation: contents, lintian, desktop entry, metainfo, and
# the installed programs at work.
scripts/check-packages.sh build/ci
