#!/usr/bin/env bash
# Mutation testing: plants one hand-picked fault at a time in the source, builds the test programs
# that can see it, runs them until one fails, restores the source; prints killed/survived per
# mutant and the score.
# The source is always restored (trap), and the build lives in build/mutate (optimised, with its
# own cache), so a developer's build directories are never touched.
#
# Usage: scripts/mutate.sh [--check] [--no-baseline] [name-pattern]
#   --check        only verify that every anchor still matches exactly once, then exit
#   --no-baseline  skip the first run of the unmutated tree (which must pass, or every mutant
#                  would count as killed)
#   name-pattern   an extended regular expression: run only the mutants whose name matches
# Environment: ZOR_MUTATE_BUILD (build directory), ZOR_MUTATE_TIMEOUT (seconds per test program,
# default 600; a program that runs out of time counts as a kill: the fault hung it).
#
# Each mutant is an exact text substitution that must match exactly once in its file; a mutant
# whose anchor is gone stops the run before anything is built. Mutants in code that is being
# reshaped sit in the last section, named "volatile.*": re-anchor them after such a change.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZOR_MUTATE_BUILD:-$root/build/mutate}
test_timeout=${ZOR_MUTATE_TIMEOUT:-600}

names=() files=() anchors=() replacements=()
# mutant <name> <file> <exact text> <replacement>
mutant() { names+=("$1"); files+=("$2"); anchors+=("$3"); replacements+=("$4"); }

# ---- values ----
mutant values.leap_every_400 values/date_time.cc \
  '(year % 4 == 0 && year % 100 != 0) || year % 400 == 0' '(year % 4 == 0 && year % 100 != 0)'
mutant values.month_upper_bound values/date_time.cc 'month > 12) return 0;' 'month >= 12) return 0;'
mutant values.day_upper_bound values/text_forms.cc \
  'day > days_in_month(year, month)' 'day >= days_in_month(year, month)'
mutant values.hex_digit_offset values/text_forms.cc \
  "if (c >= 'a' && c <= 'f') return c - 'a' + 10;" "if (c >= 'a' && c <= 'f') return c - 'a';"
mutant values.signed_minimum values/text_forms.cc \
  'scan_integer(token, true, max, max + 1, true, s)' 'scan_integer(token, true, max, max, true, s)'
mutant values.hour_bound values/text_forms.cc 'if (hour >= 24 ||' 'if (hour > 24 ||'
mutant values.nanosecond_padding values/text_forms.cc \
  'for (; digits < 9; ++digits) nanosecond *= 10;' 'for (; digits < 8; ++digits) nanosecond *= 10;'
mutant values.resize_fill values/xstring.cc \
  'std::memset(data_ + length_, fill, n - length_);' 'std::memset(data_ + length_, 0, n - length_);'
mutant values.unsigned_type_names values/type_descriptor.cc \
  'return d.sign == 0 ? signed_names' 'return d.sign != 0 ? signed_names'

# ---- containers ----
mutant containers.list_handle_odd_generation containers/node_list.h \
  'if ((generation & 1u) == 0 || generation != ' 'if (generation != '
mutant containers.list_erase_keeps_generation containers/node_list.h \
  '    ++n.generation;' '    (void)n.generation;'
mutant containers.avl_select_skip containers/avl_tree.cc \
  'index -= before + 1;' 'index -= before;'
mutant containers.avl_single_rotation_on_zero containers/avl_tree.cc \
  'if (l->balance >= 0) {' 'if (l->balance > 0) {'
mutant containers.avl_remove_stops_early containers/avl_tree.cc \
  'if (p->balance == 1 || p->balance == -1) return;' 'if (p->balance == 1) return;'
mutant containers.avl_subtree_size containers/avl_tree.cc \
  'sized(n)->size = 1 + size_of(n->left) + size_of(n->right);' \
  'sized(n)->size = size_of(n->left) + size_of(n->right);'
mutant containers.avl_predecessor containers/avl_tree.cc \
  'while (p != nullptr && n == p->left) {' 'while (p != nullptr && n == p->right) {'
mutant containers.array_insert_shift containers/growable_array.h \
  'std::move_backward(data_ + i, data_ + size_ - 1, data_ + size_);' \
  'std::move_backward(data_ + i + 1, data_ + size_ - 1, data_ + size_);'
mutant containers.heap_parent_index containers/binary_heap.h \
  'const uint64_t parent = (i - 1) / 2;' 'const uint64_t parent = i / 2;'
mutant containers.deque_front_index containers/block_deque.h \
  'return slot(front_side, front_end_ - 1 - i);' 'return slot(front_side, front_end_ - i);'
mutant containers.deque_insert_shift containers/block_deque.h \
  'for (uint64_t j = n; j > i; --j)' 'for (uint64_t j = n; j > i + 1; --j)'
mutant containers.hash_slot_bound containers/hash.h \
  'bool is_storable(uint64_t slot) const { return slot < size_; }' \
  'bool is_storable(uint64_t slot) const { return slot <= size_; }'
mutant containers.sequence_position_bound containers/sequence_common.h \
  'return position != 0 && position <= count;' 'return position != 0 && position < count;'
mutant containers.sequence_empty_range containers/sequence_common.h \
  'from == 0 || to < from || from > count' 'from == 0 || to <= from || from > count'
mutant containers.set_gt_le_lower containers/set.h \
  'return between(t.first_above(*s.a), t.last_at_most(*s.b));' \
  'return between(t.first_at_least(*s.a), t.last_at_most(*s.b));'
mutant containers.set_min_n_last containers/set.h \
  's.n >= count ? t.last() : t.at(s.n - 1)' 's.n >= count ? t.last() : t.at(s.n)'

# ---- engine ----
mutant engine.escape_long_unicode engine/tokenizer.cc $'case \'U\':\n      return 9;' \
  $'case \'U\':\n      return 8;'
mutant engine.quote_after_word engine/tokenizer.cc 'if (open) return 0;' 'if (false) return 0;'
mutant engine.decimal_id_digits engine/tokenizer.cc \
  'if (d < 0 || static_cast<unsigned>(d) >= base) return false;' \
  'if (d < 0 || static_cast<unsigned>(d) > base) return false;'
mutant engine.erase_keeps_name engine/registry.cc \
  'if (!c->name().empty()) remove_name(c->name());' 'if (c->name().empty()) remove_name(c->name());'
mutant engine.name_taken engine/registry.cc \
  '(name.empty() || !by_name_.contains(name))' '(name.empty() || by_name_.contains(name))'
mutant engine.free_list_back_link engine/registry.cc \
  'set_prev_free(head, slot);' 'set_prev_free(head, sentinel);'

# ---- net ----
mutant net.throttle_trigger net/login_throttle.cc \
  'if (++t.counter < triggers[t.tier]) {' 'if (++t.counter <= triggers[t.tier]) {'
mutant net.throttle_success_forgets net/login_throttle.cc \
  $'  }\n  tracked_.erase(entry);\n}' $'  }\n}'
mutant net.throttle_state_tier net/login_throttle.cc \
  'tracked_.end() ? 0 : entry->second.tier + 1;' 'tracked_.end() ? 0 : entry->second.tier;'
mutant net.port_stale_report net/completion_port.cc \
  'if (generation_of(word) != generation) return nullptr;' \
  'if (false) return nullptr;'
mutant net.port_full_read_more net/completion_port.cc \
  'op.may_have_more = n == static_cast<ssize_t>(op.capacity);' 'op.may_have_more = false;'

# ---- config ----
mutant config.port_mask config/server_config.cc '& 0xFFFF);' '& 0x7FFF);'
mutant config.surrogate_upper config/toml_builder.cc 'cp <= 0xDFFF' 'cp < 0xDFFF'
mutant config.fraction_padding config/toml_builder.cc \
  'for (; digits < 9; ++digits) ns *= 10;' 'for (; digits < 8; ++digits) ns *= 10;'
mutant config.depth_limit config/toml_builder.cc \
  'if (depth <= max_document_depth) return true;' 'if (depth < max_document_depth) return true;'
mutant config.byte_range_upper config/grammar_match.cc \
  'if (b < node.low || b > node.high) return fail_at(p);' \
  'if (b < node.low || b >= node.high) return fail_at(p);'
mutant config.repeat_upper config/grammar_match.cc \
  '(node.high == 0 || count < node.high)' '(node.high == 0 || count <= node.high)'

# ---- volatile: code being reshaped now; re-anchor these after merges ----
mutant volatile.trie_fold_upper_bound containers/word_trie.cc \
  "(b >= 'A' && b <= 'Z')" "(b >= 'A' && b < 'Z')"
mutant volatile.image_duplicate_slot persistence/image.cc \
  'registry.container_at(slot) != nullptr ||' 'false ||'
mutant volatile.image_regular_file persistence/image.cc '!S_ISREG(st.st_mode) ||' ''
mutant volatile.read_min_word engine/commands/read.cc \
  'return r.found_key(c.min(r.key));' 'return r.found_key(c.max(r.key));'

# The test programs that can see a fault in a file, cheapest and closest first.
suites_for() {
  case $1 in
    values/*) echo values_test containers_test engine_test commands_test persistence_test \
                   config_test e2e_test ;;
    containers/*) echo containers_test commands_test persistence_test engine_test e2e_test ;;
    engine/commands/*) echo commands_test engine_test e2e_test ;;
    engine/*) echo engine_test commands_test persistence_test net_test e2e_test ;;
    persistence/*) echo persistence_test engine_test e2e_test ;;
    net/*) echo net_test e2e_test ;;
    config/*) echo config_test e2e_test ;;
    *) echo "no test programs known for $1" >&2; exit 2 ;;
  esac
}

# Replaces the only occurrence of $2 by $3 in file $1; fails (status 3) unless there is exactly one.
substitute() {
  python3 - "$@" <<'EOF'
import sys
path, anchor, replacement = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
found = text.count(anchor)
if found != 1:
    sys.exit(f"{path}: anchor found {found} times, not once: {anchor}")
if len(sys.argv) > 4:  # check only
    sys.exit(0)
open(path, "w", encoding="utf-8").write(text.replace(anchor, replacement))
EOF
}

check_only=0
baseline=1
pattern=.
for arg in "$@"; do
  case $arg in
    --check) check_only=1 ;;
    --no-baseline) baseline=0 ;;
    *) pattern=$arg ;;
  esac
done

selected=()
bad=0
for i in "${!names[@]}"; do
  [[ ${names[$i]} =~ $pattern ]] || continue
  selected+=("$i")
  substitute "$root/${files[$i]}" "${anchors[$i]}" "${replacements[$i]}" check || bad=1
done
if [ $bad -ne 0 ]; then
  echo "some anchors no longer match: re-anchor those mutants" >&2
  exit 3
fi
echo "${#selected[@]} mutants, every anchor matches once"
[ $check_only -eq 1 ] && exit 0

mkdir -p "$build"
log=$build/mutate.log
: >"$log"
backup=$build/mutate.original
active_file=
restore() {
  if [ -n "$active_file" ]; then
    cp "$backup" "$root/$active_file"  # a fresh time stamp: the next build recompiles it
    active_file=
  fi
}
trap restore EXIT
trap 'restore; exit 130' INT TERM

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >>"$log"
fi

# Builds the given test programs; status 0 when built.
build_suites() { nice -n 10 cmake --build "$build" -j2 --target "$@" >>"$log" 2>&1; }

# Builds and runs the given test programs one after the other, each only when the ones before it
# passed. Prints the first that fails (status 1) or does not build (status 2), or nothing.
run_suites() {
  local suite
  for suite in "$@"; do
    if ! build_suites "$suite"; then
      echo "$suite"
      return 2
    fi
    if ! GTEST_FAIL_FAST=1 nice -n 10 ctest --test-dir "$build" -R "^${suite}\$" \
           --timeout "$test_timeout" >>"$log" 2>&1; then
      echo "$suite"
      return 1
    fi
  done
}

all_suites=$(for i in "${selected[@]}"; do suites_for "${files[$i]}"; done | tr ' ' '\n' | sort -u)
if [ $baseline -eq 1 ]; then
  echo "baseline: building and running $(echo $all_suites)"
  if failed=$(run_suites $all_suites); then :; else
    echo "the unmutated tree fails $failed; see $log" >&2
    exit 4
  fi
fi

killed=0 survived=0 broken=0
survivors=()
for i in "${selected[@]}"; do
  file=${files[$i]}
  suites=$(suites_for "$file")
  cp "$root/$file" "$backup"
  active_file=$file
  substitute "$root/$file" "${anchors[$i]}" "${replacements[$i]}"
  echo "== ${names[$i]}" >>"$log"
  status=0
  failed=$(run_suites $suites) || status=$?
  if [ $status -eq 0 ]; then
    result=survived
    survived=$((survived + 1))
    survivors+=("${names[$i]}")
  elif [ $status -eq 1 ]; then
    result="killed by $failed"
    killed=$((killed + 1))
  else
    result="does not build ($failed)"
    broken=$((broken + 1))
  fi
  restore
  printf '%-44s %s\n' "${names[$i]}" "$result"
done

# Leaves the build directory matching the restored source.
build_suites $all_suites || true
total=$((killed + survived))
echo "score: $killed of $total mutants killed"
[ $broken -eq 0 ] || echo "$broken mutants did not build: fix their replacement text"
[ ${#survivors[@]} -eq 0 ] || echo "survivors: ${survivors[*]}"
