#!/usr/bin/env bash
# Runs the two programs together on a loopback address of this test's own: chassis-sim serves
# one chassis; live_stream connects, lists the channels, aligns, fills them, and stops cleanly
# on SIGTERM and on SIGINT. Usage: programs_test.sh CHASSIS_SIM LIVE_STREAM
set -uo pipefail
SIM="$1"
VIEWER="$2"
ADDRESS=127.0.61.1
WORK="$(mktemp -d)"
SIM_PID=""
VIEWER_PID=""
cleanup() {
  [ -n "$VIEWER_PID" ] && kill -9 "$VIEWER_PID" 2>/dev/null
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for f in sim.out sim.err viewer.out viewer.err; do
    echo "--- $f"; head -c 4000 "$WORK/$f" 2>/dev/null
  done
  exit 1
}

# Waits up to 10 s for a fixed text in a file.
wait_for() {
  for _ in $(seq 1 200); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || fail "no display and no xvfb-run"
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

# Qt wants a private runtime directory; give it one so standard error stays clean.
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

"$SIM" --address "$ADDRESS" --slots 4 --sensors 2 </dev/null >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
wait_for "$WORK/sim.out" "chassis-sim: serving $ADDRESS:7777" || fail "simulator did not start"

for signal in TERM INT; do
  "$VIEWER" "$ADDRESS" -l 50 >"$WORK/viewer.out" 2>"$WORK/viewer.err" &
  VIEWER_PID=$!
  wait_for "$WORK/viewer.out" "Got SSL connection! With " || fail "no TLS link"
  wait_for "$WORK/viewer.out" "End of channels" || fail "no channel list"
  wait_for "$WORK/viewer.out" "Synced on " || fail "streams not aligned"
  wait_for "$WORK/viewer.out" "Data ready" || fail "the window was not told of the channels"
  wait_for "$WORK/viewer.out" "Num graphs on screen " || fail "the graphs were not laid out"

  kill -$signal "$VIEWER_PID"
  wait "$VIEWER_PID"
  STATUS=$?
  VIEWER_PID=""
  [ "$STATUS" -eq 0 ] || fail "SIG$signal: live_stream exit status $STATUS"
  [ "$(head -n 1 "$WORK/viewer.out")" = "Using line frequency of 50Hz" ] || fail "first line"
  grep -qx "Listing channels" "$WORK/viewer.out" || fail "no channel listing"
  grep -qx "Chan VT0001-BZ_OL datatype 28 cId: 0 sId: 1 calibration: 1e-15" "$WORK/viewer.out" ||
    fail "first channel line"
  grep -qx "Chan VT0002-BZ_CL datatype 50 cId: 0 sId: 2 calibration: 0.0001" "$WORK/viewer.out" ||
    fail "last channel line"
  grep -qx "Closing graphDialog" "$WORK/viewer.out" || fail "window not closed"
  grep -qx "Stopping aggregator" "$WORK/viewer.out" || fail "aggregator not stopped"
  grep -qx "Connection ended" "$WORK/viewer.out" || fail "link not stopped"
  ! grep -q . "$WORK/viewer.err" || fail "unexpected standard error output"
done
grep -q "COMPLETE_SYSTEM_STATUS_REQ" "$WORK/sim.out" || fail "simulator did not log the request"
echo "PASS"
