#!/usr/bin/env bash
# Fails when a C++ source of ours differs from what .clang-format asks for.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
mapfile -t FILES < <(git ls-files '*.h' '*.cpp' 2>/dev/null || find corvane-core filters fiff viewer tools tests bench -name '*.h' -o -name '*.cpp')
if [ ${#FILES[@]} -eq 0 ]; then exit 0; fi
clang-format --dry-run --Werror "${FILES[@]}"
