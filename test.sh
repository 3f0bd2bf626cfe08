#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice:
#  1. the sanitizer tree (AddressSanitizer + UndefinedBehaviorSanitizer), with the fuzz targets;
#  2. the optimised tree that ./run.sh builds (the flags of the programs a coach runs), with
#     glibc's heap checks on, which catch what the system's libraries write past our buffers:
#     those libraries are not instrumented by the sanitizers.
# Both must pass. Arguments go to both ctest runs (e.g. ./test.sh -R DvFilters).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kestrom_ensure_packages

jobs=$(nproc)
status=0

echo "== sanitizer build"
kestrom_build build/test Debug -DKESTROM_SANITIZE=ON -DKESTROM_TESTS=ON -DKESTROM_BENCH=OFF
ctest --test-dir build/test --output-on-failure --timeout 600 -j "$jobs" "$@" || status=1

echo "== optimised build, heap checks on"
# Only what the tests need: bench/run-benchmarks.sh builds the benchmarks in this tree.
kestrom_build build/release Release -DKESTROM_TESTS=ON -DKESTROM_BENCH=OFF
# The fuzz targets build their own instrumented binaries: one run of them is enough.
GLIBC_TUNABLES=glibc.malloc.check=3 LD_PRELOAD=libc_malloc_debug.so.0 MALLOC_PERTURB_=165 \
  ctest --test-dir build/release --output-on-failure --timeout 600 -j "$jobs" -LE fuzz "$@" || status=1

if [ "$status" != 0 ]; then
  echo "Some tests failed (see above)." >&2
fi
exit "$status"
