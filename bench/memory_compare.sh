#!/usr/bin/env bash
# Resident memory per element: every kind of ours with u64 keys and with short strings, after N
# inserts through the wire, beside redis-server's hash, set, sorted set and list holding the same
# elements. Each measurement runs in a fresh server: its resident set (VmRSS) is read before the
# container is made and again after the last insert, and the difference is divided by N.
#
# Ours is loaded with zor_nosql_cli in script mode, BATCHES connections at once, one insert per
# line (`i 0 <key>`, sequences `i 0 last <key>`; maps get the value 0). redis is loaded with
# `redis-cli --pipe`: HSET h <key> 0, SADD s <key>, ZADD z <i> <key>, RPUSH l <key>.
# Elements: the u64 keys 0..N-1 in shuffled order, and short strings key:0000000..key:<N-1>
# (11 bytes) in the same order.
#
# redis-server is optional: install Debian's packages with `apt-get install redis-server
# redis-tools` for its columns; without them they are left empty. This script installs nothing.
#
# usage: bench/memory_compare.sh     (env: N=1000000 BATCHES=8 ZOR_PORT=55593 REDIS_PORT=6392,
#                                     KINDS="vector set ..." to measure some kinds only)
set -euo pipefail
cd "$(dirname "$0")/.."
N=${N:-1000000}
BATCHES=${BATCHES:-8}
ZOR_PORT=${ZOR_PORT:-55593}
REDIS_PORT=${REDIS_PORT:-6392}
KINDS=${KINDS:-hashmap hashtable map multimap set multiset vector deque list stack queue heap trie}

cmake --preset release >/dev/null
cmake --build --preset release --target zor_nosql_server zor_nosql_cli >/dev/null
bin=$PWD/build/release
. bench/servers.sh
have_redis=1
if ! command -v redis-server >/dev/null || ! command -v redis-cli >/dev/null; then
  have_redis=0
  echo "redis-server or redis-cli not found: measuring ours only" \
    "(apt-get install redis-server redis-tools for the redis columns)" >&2
fi

work=$(mktemp -d)
server=0
stop_server() {
  if [ "$server" -ne 0 ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=0
  fi
}
cleanup() {
  stop_server
  rm -rf "$work"
}
trap cleanup EXIT

rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

# The elements, one per line, split into BATCHES files per type.
python3 - "$N" "$work" "$BATCHES" <<'PY'
import random, sys
n, work, batches = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
keys = list(range(n))
random.Random(42).shuffle(keys)
for name, text in (("u64", str), ("string", lambda k: "key:%07d" % k)):
    lines = [text(k) + "\n" for k in keys]
    for b in range(batches):
        with open("%s/%s.%d" % (work, name, b), "w") as f:
            f.writelines(lines[b::batches])
PY

export ZOR_PASSWORD=memory-password
prepare_zor_server "$work" "$ZOR_PORT"
cli() { "$bin/client/zor_nosql_cli" -p "$ZOR_PORT" "$@"; }

# The create line for a kind over a type, or nothing when the pair does not exist.
create_line() {  # kind type
  case "$1/$2" in
    hashmap/u64) echo "c hashmap u64 u08 $N" ;;
    hashtable/u64) echo "c hashtable u64 $N" ;;
    hashmap/* | hashtable/* | trie/u64) ;;
    trie/string) echo "c trie" ;;
    map/* | multimap/*) echo "c $1 $2 u08" ;;
    *) echo "c $1 $2" ;;
  esac
}

# Prints bytes per element of one kind over one type in a fresh server.
measure_ours() {  # kind type
  local create prefix before after failed count loaders=()
  create=$(create_line "$1" "$2")
  [ -z "$create" ] && return 0
  case "$1" in
    vector | deque | list | stack | queue) prefix="i 0 last" ;;
    *) prefix="i 0" ;;
  esac
  (cd "$work" && exec ./zor_nosql_server >"$work/server.log" 2>&1) &
  server=$!
  wait_port "$ZOR_PORT"
  before=$(rss_kb "$server")
  cli $create >/dev/null
  for b in $(seq 0 $((BATCHES - 1))); do
    sed "s/^/$prefix /" "$work/$2.$b" | cli >"$work/out.$b" &
    loaders+=($!)
  done
  wait "${loaders[@]}"
  after=$(rss_kb "$server")
  failed=$(cat "$work"/out.* | grep -vc '^(empty)$' || true)
  count=$(cli g 0 count)
  [ "$failed" -eq 0 ] || echo "$1 $2: $failed inserts not done" >&2
  [ "$count" = "$N" ] || echo "$1 $2: count is $count, not $N" >&2
  stop_server
  echo $(((after - before) * 1024 / N))
}

# Prints bytes per element of one redis type over one element type in a fresh redis-server.
measure_redis() {  # hash|set|zset|list type
  [ "$have_redis" -eq 1 ] || return 0
  redis-server --port "$REDIS_PORT" --bind 127.0.0.1 --save '' --appendonly no \
    --daemonize no >"$work/redis.log" 2>&1 &
  server=$!
  wait_port "$REDIS_PORT"
  local before after
  before=$(rss_kb "$server")
  cat "$work/$2".* | python3 -c '
import sys
kind = sys.argv[1]
out = sys.stdout.buffer
def command(*words):
    out.write(b"*%d\r\n" % len(words))
    for w in words:
        out.write(b"$%d\r\n%s\r\n" % (len(w), w))
for i, line in enumerate(sys.stdin.buffer):
    k = line.rstrip(b"\n")
    if kind == "hash": command(b"HSET", b"h", k, b"0")
    elif kind == "set": command(b"SADD", b"s", k)
    elif kind == "zset": command(b"ZADD", b"z", b"%d" % i, k)
    else: command(b"RPUSH", b"l", k)
' "$1" | redis-cli -p "$REDIS_PORT" --pipe >/dev/null
  after=$(rss_kb "$server")
  stop_server
  echo $(((after - before) * 1024 / N))
}

# Our kind and the redis type that holds the same elements.
redis_type() {
  case "$1" in
    hashmap | map | multimap) echo hash ;;
    hashtable | trie) echo set ;;
    set | multiset | heap) echo zset ;;
    *) echo list ;;
  esac
}

declare -A redis_bytes
for t in hash set zset list; do
  for ty in u64 string; do
    echo "redis $t $ty" >&2
    redis_bytes[$t/$ty]=$(measure_redis "$t" "$ty")
  done
done

echo "N = $N; bytes of resident memory per element"
echo
echo "| kind | ours, u64 | ours, string | redis type | redis, u64 | redis, string |"
echo "|---|---|---|---|---|---|"
for kind in $KINDS; do
  echo "$kind" >&2
  u=$(measure_ours "$kind" u64)
  s=$(measure_ours "$kind" string)
  r=$(redis_type "$kind")
  echo "| $kind | ${u:-} | ${s:-} | $r | ${redis_bytes[$r/u64]:-} | ${redis_bytes[$r/string]:-} |"
done
