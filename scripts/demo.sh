#!/usr/bin/env bash
# Builds the viewer, starts the chassis simulator on loopback (two chassis, realistic signals,
# 50 Hz mains) and runs live_stream against it. Ctrl-C or closing the window ends both.
# Without a display the viewer runs under xvfb-run for a few seconds and saves a picture of
# its window to build/live_stream.png.
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
  SHOT="$ROOT/build/live_stream.png"
  rm -f "$SHOT"
  echo "No display: running under xvfb-run for a few seconds, then saving $SHOT"
  VIEWER_SCREENSHOT="$SHOT" VIEWER_SCREENSHOT_AFTER_MS="${VIEWER_SCREENSHOT_AFTER_MS:-8000}" \
    xvfb-run -a -s "-screen 0 1920x1080x24" "${VIEWER[@]}"
  [ -f "$SHOT" ] || { echo "No screenshot was saved" >&2; exit 1; }
  echo "Screenshot of the live viewer: $SHOT"
fi
