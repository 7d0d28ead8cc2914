#!/usr/bin/env bash
# Builds everything and runs every test headless. GUI tests get an X server from xvfb-run,
# which gives Mesa's software OpenGL.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/configure-build.sh"
cd "$ROOT/build"
JOBS="${CTEST_PARALLEL_LEVEL:-$(nproc)}"
if [ -n "${DISPLAY:-}" ]; then
  ctest --output-on-failure -j "$JOBS" "$@"
else
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j "$JOBS" "$@"
fi
