#!/usr/bin/env bash
# Installs what is missing, builds the optimised programs and starts the analysis program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kestrom_ensure_packages
kestrom_build build/release Release -DKESTROM_TESTS=OFF -DKESTROM_BENCH=OFF
# A new user finds a sample clip in the default samples folder (written once).
build/release/bin/KestromSampleClip --samples || echo "The sample clip could not be written." >&2
# The analysis program needs an X display (X11 or XWayland); it runs on the xcb platform.
if [ -z "${DISPLAY:-}" ]; then
  echo "No X display: start ./run.sh from a desktop session (or under xvfb-run)." >&2
  exit 1
fi
exec build/release/bin/KestromRuvodo "$@"
