#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang++, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each in turn for SECONDS (default 30) on its committed corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   fuzz; new inputs go to build/fuzz/corpus/<target>
#   scripts/fuzz.sh --merge [TARGET...]     minimise fuzz/corpus/<target> and what the runs found
#                                           into fuzz/corpus/<target>
#
# A crash, leak, undefined behaviour, an input slower than FUZZ_TIMEOUT seconds (default 1) or an
# allocation over FUZZ_MALLOC_MB (default 1024) stops the run with exit status 1; the input is
# saved under build/fuzz/artifacts/. Reproduce with build/fuzz/fuzz/<target> <file>.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD  # paths given to the targets are absolute: fuzz_toml changes its working directory

merge=0
seconds=30
if [ "${1:-}" = "--merge" ]; then
  merge=1
  shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in fuzz/fuzz_*.cc; do targets+=("$(basename "$source" .cc)"); done
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# merge_into_committed TARGET COMMITTED FOUND OPTIONS...: replaces COMMITTED by a small set of
# inputs from both directories that reaches every edge any of them reaches (a set cover over
# edges, hit counts ignored: a third to a tenth of the files a full merge keeps), plus the
# regression-* inputs under their own names whether or not they still add an edge.
merge_into_committed() {
  local target=$1 committed=$2 found=$3
  shift 3
  local fresh
  fresh=$(mktemp -d "$root/build/fuzz/merge.XXXXXX")
  "$root/build/fuzz/fuzz/$target" "$@" -set_cover_merge=1 -use_counters=0 \
    "$fresh" "$committed" "$found"
  for kept in "$committed"/regression-*; do
    [ -e "$kept" ] || continue
    rm -f "$fresh/$(sha1sum <"$kept" | cut -d' ' -f1)"
    cp "$kept" "$fresh/"
  done
  rm -rf "$committed"
  mv "$fresh" "$committed"
  chmod 755 "$committed"
}

mkdir -p build/fuzz/artifacts
for target in "${targets[@]}"; do
  committed=$root/fuzz/corpus/$target
  found=$root/build/fuzz/corpus/$target
  mkdir -p "$committed" "$found"
  # Every login computes the password digest (about 7 ms of processor time in this build), and
  # one input can fail 30 logins before the throttle bans it: the session target gets five times
  # the time per input.
  timeout=${FUZZ_TIMEOUT:-1}
  [ "$target" = fuzz_session ] && timeout=$((timeout * 5))
  options=(-timeout="$timeout" -malloc_limit_mb="${FUZZ_MALLOC_MB:-1024}"
           -rss_limit_mb=2560 -print_final_stats=1)
  [ -f "fuzz/$target.dict" ] && options+=(-dict="$root/fuzz/$target.dict")
  if ((merge)); then
    merge_into_committed "$target" "$committed" "$found" "${options[@]}"
    continue
  fi
  echo "== $target: ${seconds} s"
  log=build/fuzz/$target.log
  if ! "$root/build/fuzz/fuzz/$target" "${options[@]}" -max_total_time="$seconds" \
      -artifact_prefix="$root/build/fuzz/artifacts/$target-" "$found" "$committed" >"$log" 2>&1; then
    tail -n 80 "$log"
    echo "$target failed; the input is under build/fuzz/artifacts/"
    exit 1
  fi
  grep -E '^(#[0-9]+ +(INITED|DONE)|stat::number_of_executed_units|Done )' "$log" || true
done
echo "fuzzing passed"
