#!/usr/bin/env bash
# Fails when a tracked C++ file is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h')
if ! out=$(echo "$files" | xargs clang-format --dry-run --Werror 2>&1); then
  echo "$out" | grep -E "^[^ ].*(warning|error):" | cut -d: -f1 | sort -u | sed 's/^/unformatted: /'
  echo "run: git ls-files '*.cpp' '*.h' | xargs clang-format -i" >&2
  exit 1
fi
echo "format: all C++ files formatted"
