#!/usr/bin/env bash
# Side-by-side load comparison on loopback: redis-server with redis-benchmark, our server with
# zor_nosql_benchmark, and the bare framing server (the protocol's ceiling) with the same tool.
# Equivalent operations:
#   SET / GET   <-> hash map value write / read   (hashmap_set / hashmap_get)
#   SADD        <-> set insert                    (set_insert)
#   LPUSH       <-> list insert last              (list_push)
#   ZADD        <-> set insert                    (set_insert)
#   ZRANK       <-> set rank                      (set_rank)
# at 1 and 50 connections, REPS repetitions run alternately, one table of medians at the end.
# Servers run on CPU 0, the load tools on CPU 1.
#
# usage: bench/compare.sh            (env: REPS=3 REQUESTS=100000 KEYSPACE=100000, and RESULTS=<file>
#                                     to keep every repetition's row as CSV)
set -euo pipefail
cd "$(dirname "$0")/.."
REPS=${REPS:-3}
REQUESTS=${REQUESTS:-100000}
KEYSPACE=${KEYSPACE:-100000}
REDIS_PORT=${REDIS_PORT:-6391}
ZOR_PORT=${ZOR_PORT:-55591}
BARE_PORT=${BARE_PORT:-55592}

scripts/install_deps.sh
if ! command -v redis-server >/dev/null || ! command -v redis-benchmark >/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q redis-server redis-tools
fi
cmake --preset release >/dev/null
cmake --build --preset release --target zor_nosql_server zor_nosql_benchmark zor_nosql_cli \
  bare_frame_server

bin=$PWD/build/release
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export ZOR_PASSWORD=compare-password
digest=$(printf '%s' "$ZOR_PASSWORD" | "$bin/client/zor_nosql_cli" --digest)
cat > "$work/zor_ndb.toml" <<TOML
[server]
port = $ZOR_PORT

[users]
users_list = [{ name = "admin", password = "$digest" }]
TOML
cp "$bin/app/zor_nosql_server" "$work/"

wait_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  exit 1
}

(cd "$work" && exec taskset -c 0 ./zor_nosql_server >"$work/server.log" 2>&1) &
pids+=($!)
taskset -c 0 redis-server --port "$REDIS_PORT" --bind 127.0.0.1 --save '' --appendonly no \
  --daemonize no >"$work/redis.log" 2>&1 &
pids+=($!)
taskset -c 0 "$bin/bench/bare_frame_server" "$BARE_PORT" >"$work/bare.log" 2>&1 &
pids+=($!)
wait_port "$ZOR_PORT"
wait_port "$REDIS_PORT"
wait_port "$BARE_PORT"

results=$work/results.csv
echo "system,operation,connections,rps,p50_ms,p99_ms" >"$results"

run_redis() {  # connections
  local c=$1
  redis-cli -p "$REDIS_PORT" flushall >/dev/null
  taskset -c 1 redis-benchmark -p "$REDIS_PORT" -c "$c" -n "$REQUESTS" -r "$KEYSPACE" \
    -t set,get,sadd,lpush,zadd --csv -q 2>/dev/null | tail -n +2 |
    while IFS=, read -r name rps _avg _min p50 _p95 p99 _max; do
      echo "redis,$(tr -d '"' <<<"$name"),$c,$(tr -d '"' <<<"$rps"),$(tr -d '"' <<<"$p50"),$(tr -d '"' <<<"$p99")"
    done >>"$results"
  taskset -c 1 redis-benchmark -p "$REDIS_PORT" -c "$c" -n "$REQUESTS" -r "$KEYSPACE" --csv \
    zrank myzset element:__rand_int__ 2>/dev/null | tail -n +2 |
    while IFS=, read -r _name rps _avg _min p50 _p95 p99 _max; do
      echo "redis,ZRANK,$c,$(tr -d '"' <<<"$rps"),$(tr -d '"' <<<"$p50"),$(tr -d '"' <<<"$p99")"
    done >>"$results"
}

run_zor() {  # system port connections workloads
  local system=$1 port=$2 c=$3 workloads=$4
  taskset -c 1 "$bin/tools/zor_nosql_benchmark" -p "$port" -c "$c" -n "$REQUESTS" -r "$KEYSPACE" \
    -w 0.5 --json $workloads |
    python3 -c '
import json, sys
names = {"hashmap_set": "SET", "hashmap_get": "GET", "set_insert": "SADD", "list_push": "LPUSH",
         "set_rank": "ZRANK", "custom": "FRAME"}
for line in sys.stdin:
    r = json.loads(line)
    print("%s,%s,%d,%.0f,%.3f,%.3f" % (sys.argv[1], names.get(r["workload"], r["workload"]),
          r["connections"], r["requests_per_second"], r["p50_us"] / 1000, r["p99_us"] / 1000))
' "$system" >>"$results"
}

for rep in $(seq "$REPS"); do
  for c in 1 50; do
    echo "repetition $rep, $c connections" >&2
    run_redis "$c"
    run_zor zor "$ZOR_PORT" "$c" "-t hashmap_set,hashmap_get,set_insert,list_push,set_rank"
    run_zor bare "$BARE_PORT" "$c" "--command k"
  done
done

[ -n "${RESULTS:-}" ] && cp "$results" "$RESULTS"

python3 - "$results" <<'PY'
import csv, statistics, sys
rows = list(csv.DictReader(open(sys.argv[1])))
def med(system, op, c, field):
    v = [float(r[field]) for r in rows if r["system"] == system and r["operation"] == op and int(r["connections"]) == c]
    return statistics.median(v) if v else float("nan")
print("| operation | conns | redis req/s | zor req/s | zor/redis | bare req/s | zor/bare | redis p50 ms | zor p50 ms | redis p99 ms | zor p99 ms |")
print("|---|---|---|---|---|---|---|---|---|---|---|")
ours = {"SET": "SET", "GET": "GET", "SADD": "SADD", "LPUSH": "LPUSH", "ZADD": "SADD", "ZRANK": "ZRANK"}
for c in (1, 50):
    bare = med("bare", "FRAME", c, "rps")
    for op in ("SET", "GET", "SADD", "LPUSH", "ZADD", "ZRANK"):
        r, z = med("redis", op, c, "rps"), med("zor", ours[op], c, "rps")
        print("| %s | %d | %.0f | %.0f | %.2f | %.0f | %.2f | %.3f | %.3f | %.3f | %.3f |" % (
            op, c, r, z, z / r, bare, z / bare, med("redis", op, c, "p50_ms"), med("zor", ours[op], c, "p50_ms"),
            med("redis", op, c, "p99_ms"), med("zor", ours[op], c, "p99_ms")))
    print("| bare framing | %d | | | | %.0f | | | %.3f | | %.3f |" % (c, bare, med("bare", "FRAME", c, "p50_ms"), med("bare", "FRAME", c, "p99_ms")))
PY
