#!/usr/bin/env bash
# Builds the viewer, starts the chassis simulator on loopback (two chassis) and runs
# live_stream against it. Ctrl-C ends both.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/configure-build.sh"
cd "$ROOT/build"

ADDRESSES=(127.0.0.1 127.0.0.2)
SIM_ARGS=()
for a in "${ADDRESSES[@]}"; do SIM_ARGS+=(--address "$a"); done

./tools/chassis-sim/chassis-sim "${SIM_ARGS[@]}" --mains 50 --quiet </dev/null &
SIM_PID=$!
cleanup() { kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; }
trap cleanup EXIT
sleep 1

VIEWER=(./viewer/app/live_stream "${ADDRESSES[@]}" -l 50)
if [ -n "${DISPLAY:-}" ]; then
  "${VIEWER[@]}"
else
  echo "No display: running under xvfb-run"
  xvfb-run -a -s "-screen 0 1280x1024x24" "${VIEWER[@]}"
fi
