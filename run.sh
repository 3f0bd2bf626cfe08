#!/usr/bin/env bash
# Installs what is missing, builds the optimised programs and starts the analysis program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kestrom_ensure_packages
kestrom_build build/release Release -DKESTROM_TESTS=OFF
# A new user finds a sample clip in the default samples folder (written once).
build/release/bin/KestromSampleClip --samples || echo "The sample clip could not be written." >&2
program=build/release/bin/KestromRuvodo
if [ -x "$program" ]; then
  exec "$program" "$@"
fi
echo "Built. The analysis program is not part of the build yet; it would start $program."
