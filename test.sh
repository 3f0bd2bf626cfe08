#!/usr/bin/env bash
# Installs what is missing, builds the test tree (with sanitizers) and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kestrom_ensure_packages
kestrom_build build/test Debug -DKESTROM_SANITIZE=ON
ctest --test-dir build/test --output-on-failure --timeout 600 -j "$(nproc)" "$@"
