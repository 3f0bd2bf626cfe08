#!/usr/bin/env bash
# Builds the optimised tree and runs every benchmark program in it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
kestrom_ensure_packages
kestrom_build build/release Release -DKESTROM_TESTS=OFF -DKESTROM_BENCH=ON
shopt -s nullglob
found=0
for b in build/release/bench/*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" "$@"
done
[ "$found" = 1 ] || echo "no benchmarks built yet"
