#!/usr/bin/env bash
# Reading a ~100 MB raw recording: our reader (set-up + one whole read, as playback does)
# against MNE-Python's read_raw_fif(preload=True), same file, same run, warm page cache.
#
#   bench/fiff_read_bench.sh [BUILD_DIR]     (default: build; needs -DVIEWER_BUILD_BENCH=ON)
#
# Needs Debian's python3-mne under /usr/bin/python3. REPEAT (default 5) sets the runs per side.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
PROGRAM="$BUILD/bench/bench_fiff_read"
REPEAT="${REPEAT:-5}"
PY=/usr/bin/python3

if [ ! -x "$PROGRAM" ]; then
  echo "fiff_read_bench: $PROGRAM missing; build the target bench_fiff_read" >&2
  exit 2
fi
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
FILE="$WORK/bench_raw.fif"

# 300 magnetometers x 90 s at 1 kHz, stored as single-precision floats.
"$PY" - "$FILE" <<'PYEOF'
import sys
import mne
import numpy as np
mne.set_log_level("ERROR")
n_ch, sfreq, n = 300, 1000.0, 90_000
info = mne.create_info([f"VT{i + 1:04d}-BZ_OL" for i in range(n_ch)], sfreq, "mag")
with info._unlock():
    info["line_freq"] = 50.0
data = np.random.default_rng(7).standard_normal((n_ch, n)) * 1e-12
mne.io.RawArray(data, info, first_samp=1000).save(sys.argv[1], fmt="single", overwrite=True)
PYEOF
BYTES=$(stat -c %s "$FILE")
echo "recording: $((BYTES / 1000000)) MB (300 channels x 90 s at 1 kHz, single precision)"

echo "--- ours"
OURS="$("$PROGRAM" "$FILE" --repeat "$REPEAT")"
echo "$OURS" | grep -v '^result '
OURS_MEDIAN=$(echo "$OURS" | sed -n 's/^result .*median_s=\([0-9.]*\).*/\1/p')
OURS_BEST=$(echo "$OURS" | sed -n 's/^result best_s=\([0-9.]*\).*/\1/p')

echo "--- MNE-Python read_raw_fif(preload=True)"
"$PY" - "$FILE" "$REPEAT" "$BYTES" "$OURS_BEST" "$OURS_MEDIAN" <<'PYEOF'
import statistics
import sys
import time
import mne
mne.set_log_level("ERROR")
path, repeat, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
ours_best, ours_median = float(sys.argv[4]), float(sys.argv[5])
runs = []
for _ in range(repeat):
    start = time.perf_counter()
    raw = mne.io.read_raw_fif(path, preload=True)
    runs.append(time.perf_counter() - start)
    del raw
best, median = min(runs), statistics.median(runs)
mb = size / 1e6
print(f"{repeat} runs: best {best:.3f} s ({mb / best:.0f} MB/s), "
      f"median {median:.3f} s ({mb / median:.0f} MB/s)")
print(f"--- ratio MNE / ours: best {best / ours_best:.2f}x, median {median / ours_median:.2f}x "
      f"(above 1: ours is faster)")
PYEOF
