#!/usr/bin/env bash
# Prints the test-to-production ratio in non-blank, non-comment lines of C++ (.h and .cc).
# Test code: *_test.cc, everything under tests/, and the test-support files (any other file whose
# name contains "test"). Production code: every other file, the benchmarks and fuzz targets
# included (they are code we keep, not tests of it).
# Usage: scripts/test_ratio.sh [folder...]   (folders relative to the repository root; default:
# the whole tree, with one line per top-level folder before the total).
set -euo pipefail
cd "$(dirname "$0")/.."

# Counts the code lines of the files named on stdin: drops blank lines, // lines and /* */ blocks.
count_lines() {
  xargs -r cat | awk '
    { line = $0 }
    in_block { if (index(line, "*/") == 0) next; line = substr(line, index(line, "*/") + 2); in_block = 0 }
    { sub(/^[ \t]+/, "", line) }
    line ~ /^\/\*/ { if (index(line, "*/") == 0) { in_block = 1 }; next }
    line == "" || line ~ /^\/\// { next }
    { n++ }
    END { print n + 0 }'
}

is_test='(^|/)tests/|test[^/]*$'

# Prints "<label> <production> <test> <ratio>" for the C++ files under the given paths.
report() {
  local label=$1
  shift
  local files
  files=$(find "$@" -name build -prune -o \
               -type f \( -name '*.h' -o -name '*.cc' \) -print | sort)
  local production test
  production=$( (grep -Ev "$is_test" <<<"$files" || true) | count_lines)
  test=$( (grep -E "$is_test" <<<"$files" || true) | count_lines)
  awk -v l="$label" -v p="$production" -v t="$test" \
    'BEGIN { printf "%-18s %7d %7d  %s\n", l, p, t, (p ? sprintf("%.2f", t / p) : "-") }'
}

printf "%-18s %7s %7s  %s\n" folder prod test ratio
if [ $# -gt 0 ]; then
  for dir in "$@"; do report "$dir" "$dir"; done
  [ $# -gt 1 ] && report total "$@"
else
  folders=(values containers engine persistence net config app client tools tests bench fuzz)
  for dir in "${folders[@]}"; do
    [ -d "$dir" ] && report "$dir" "$dir"
  done
  report total "${folders[@]}"
fi
