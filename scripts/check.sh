#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test:
# once optimised, once under AddressSanitizer + UndefinedBehaviorSanitizer, and
# the fuzz targets over their saved corpora; then builds the Debian packages and
# checks them and what installs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake --preset ci >/dev/null
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

if [ -x fuzz/run-corpus.sh ]; then
  fuzz/run-corpus.sh
fi

# Packages and installation: contents, lintian, desktop entry, metainfo, and
# the installed programs at work.
scripts/check-packages.sh build/ci
