#!/usr/bin/env bash
# Runs the live_stream program itself: the usage exit, the frequency line ahead of all other
# output, and a chassis that cannot be reached. (Runs against the simulator, with the stop on
# a signal, are in tests/e2e/programs_test.sh.)
# Usage: live_stream_run_test.sh PATH_TO_LIVE_STREAM
set -uo pipefail

BIN="$1"
# Nothing listens on this loopback address, so the link fails at once.
ADDRESS=127.0.50.1

# The program needs an X display; start one when there is none.
if [ -z "${DISPLAY:-}" ] && [ -z "${LIVE_STREAM_RUN_UNDER_XVFB:-}" ] &&
  command -v xvfb-run >/dev/null 2>&1; then
  LIVE_STREAM_RUN_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

WORK="$(mktemp -d)"
PID=""
cleanup() {
  if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then
    kill -KILL "$PID" 2>/dev/null
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

FAILED=0
fail() {
  echo "FAIL: $*" >&2
  FAILED=1
}

show() {
  echo "--- stdout" >&2
  cat "$WORK/out" >&2
  echo "--- stderr" >&2
  cat "$WORK/err" >&2
}

# Polls for up to 30 s until the command succeeds; a guard against hanging, not a timing check.
wait_for() {
  for _ in $(seq 300); do
    if "$@"; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# No argument at all: the usage lines and status -1, nothing on standard output.
"$BIN" >"$WORK/out" 2>"$WORK/err"
status=$?
[ "$status" -eq 255 ] || fail "no arguments: exit status $status, expected 255"
printf 'Need at least one IP\nPass -l <50/60> to set line frequency (defaults to 60)\n' \
  >"$WORK/usage"
cmp -s "$WORK/usage" "$WORK/err" || fail "no arguments: usage lines differ"
[ -s "$WORK/out" ] && fail "no arguments: unexpected standard output"
[ "$FAILED" -eq 0 ] || show

# A chassis that cannot be reached at the first attempt is never tried again: the program
# names it and ends with status 1 instead of waiting for ever.
"$BIN" "$ADDRESS" -l 55 >"$WORK/out" 2>"$WORK/err" &
PID=$!
if ! wait_for bash -c "! kill -0 $PID 2>/dev/null"; then
  fail "unreachable chassis: still running"
  kill -KILL "$PID"
fi
wait "$PID"
status=$?
PID=""
before="$FAILED"
[ "$status" -eq 1 ] || fail "unreachable chassis: exit status $status, expected 1"
[ "$(head -n 1 "$WORK/out")" = "Using line frequency of 60Hz" ] ||
  fail "the frequency line is not the first line of standard output"
[ "$(head -n 1 "$WORK/err")" = "Invalid line frequency, setting to 60Hz" ] ||
  fail "the invalid frequency message is not the first line of standard error"
grep -qx "Failed to connect" "$WORK/err" || fail "no \"Failed to connect\""
grep -qx "Unable to connect to chassis $ADDRESS" "$WORK/err" ||
  fail "the unreachable chassis is not named"
grep -qx "Connection ended" "$WORK/out" || fail "the link was not stopped on the way out"
[ "$FAILED" -eq "$before" ] || show

exit "$FAILED"
