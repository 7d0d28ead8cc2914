#!/usr/bin/env bash
# Builds the FIFF reader's libFuzzer target with clang-14 (AddressSanitizer and UBSan, both
# fatal) in build-fuzz/ and runs it for SECONDS (default 600) on a corpus seeded with the
# recordings in tests/data/fiff and the saved regression inputs. Inputs that crash are left in
# build-fuzz/fiff-artifacts/; copy them to tests/data/fiff-fuzz/ so the normal tests replay them.
# Usage: scripts/fuzz-fiff.sh [SECONDS] [extra libFuzzer options...]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RUN_SECONDS="${1:-600}"
shift || true
BUILD="$ROOT/build-fuzz"

for pkg in clang-14 libclang-rt-14-dev; do
  if ! dpkg -s "$pkg" >/dev/null 2>&1; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get install -y --no-install-recommends clang-14 libclang-rt-14-dev
    break
  fi
done

CC=clang-14 CXX=clang++-14 cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIEWER_BUILD_TESTS=OFF -DVIEWER_BUILD_FUZZ=ON \
  -DVIEWER_SANITIZE=fuzzer-no-link,address,undefined \
  -DCMAKE_CXX_FLAGS="-fno-sanitize-recover=all" >/dev/null
ninja -C "$BUILD" fiff_fuzz

CORPUS="$BUILD/fiff-corpus"
ARTIFACTS="$BUILD/fiff-artifacts"
mkdir -p "$CORPUS" "$ARTIFACTS"
cp -n "$ROOT"/tests/data/fiff/*.fif "$CORPUS"/ 2>/dev/null || true
cp -n "$ROOT"/tests/data/fiff-fuzz/* "$CORPUS"/ 2>/dev/null || true

# Standard output is closed for the runs (the reader reports damage there at length).
"$BUILD/tests/fuzz/fiff_fuzz" "$CORPUS" -max_total_time="$RUN_SECONDS" -close_fd_mask=1 \
  -rss_limit_mb=4096 -timeout=10 -max_len=262144 -artifact_prefix="$ARTIFACTS/" \
  -print_final_stats=1 "$@"
