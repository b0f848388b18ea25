#!/usr/bin/env bash
# Like-for-like load comparison on loopback: our server and redis-server driven by the same load
# client (zor_nosql_benchmark, --protocol resp for redis-server), and the bare framing server
# (bench/bare_frame_server.cc), the ceiling of our wire protocol, driven by it too.
#
#   workload      ours                          redis-server
#   hashmap_set   s <hash map> value <k> <k>    SET zb:<k> <k>       (every key present first)
#   hashmap_get   g <hash map> value <k>        GET zb:<k>           (every key present first)
#   set_insert    i <set> <k>                   SADD zb:set <k>
#   list_push     i <list> last <k>             RPUSH zb:list <k>    (the same end as ours)
#   set_rank      g <set> rank <k>              ZRANK zb:zset <k>    (ZADD of every key first)
#
# Each repetition runs the three servers one after the other, in an order that rotates from one
# repetition to the next; servers are pinned to CPU 0, the load client to CPU 1; one table of
# medians at the end. The load client's own CPU share is reported; a run where it used more than
# 90 % of its core is marked client-bound (it measured the client, not the server).
# redis-benchmark, when installed, adds a reference column: a different client, so it is not
# comparable with the other columns (REFERENCE=0 leaves it out).
#
# Needs: a release build (see the message below), redis-server (Debian package redis-server),
# taskset and python3. Installs nothing.
#
# usage: bench/compare.sh   env: REPS=3 CONNECTIONS=50 REQUESTS=100000 KEYSPACE=100000
#                                REFERENCE=1 RESULTS=<file> (keeps every run as CSV)
#                                WORKER_CONCURRENCY=<1..16> (our server's [limits] key; default:
#                                the server's own, the number of online processors)
set -euo pipefail
cd "$(dirname "$0")/.."
REPS=${REPS:-3}
CONNECTIONS=${CONNECTIONS:-50}
REQUESTS=${REQUESTS:-100000}
KEYSPACE=${KEYSPACE:-100000}
REFERENCE=${REFERENCE:-1}
REDIS_PORT=${REDIS_PORT:-6391}
ZOR_PORT=${ZOR_PORT:-55591}
BARE_PORT=${BARE_PORT:-55592}
WORKLOADS=hashmap_set,hashmap_get,set_insert,list_push,set_rank

bin=$PWD/build/release
. bench/servers.sh
for program in app/zor_nosql_server tools/zor_nosql_benchmark client/zor_nosql_cli \
  bench/bare_frame_server; do
  if [ ! -x "$bin/$program" ]; then
    echo "compare.sh: $bin/$program is missing; build it with" >&2
    echo "  cmake --preset release && cmake --build --preset release --target zor_nosql_server \\" >&2
    echo "    zor_nosql_benchmark zor_nosql_cli bare_frame_server" >&2
    exit 1
  fi
done
for program in redis-server taskset python3; do
  if ! command -v "$program" >/dev/null; then
    echo "compare.sh: $program is not installed (redis-server: apt-get install redis-server)" >&2
    exit 1
  fi
done
if [ "$(nproc)" -lt 2 ]; then
  echo "compare.sh: needs two CPUs (servers on CPU 0, the client on CPU 1)" >&2
  exit 1
fi
if [ "$REFERENCE" = 1 ] && ! command -v redis-benchmark >/dev/null; then
  echo "compare.sh: redis-benchmark not installed: no reference column" >&2
  REFERENCE=0
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export ZOR_PASSWORD=compare-password
prepare_zor_server "$work" "$ZOR_PORT"
if [ -n "${WORKER_CONCURRENCY:-}" ]; then
  printf '\n[limits]\nworker_concurrency = %s\n' "$WORKER_CONCURRENCY" >>"$work/zor_ndb.toml"
fi

(cd "$work" && exec taskset -c 0 ./zor_nosql_server >"$work/server.log" 2>&1) &
pids+=($!)
taskset -c 0 redis-server --port "$REDIS_PORT" --bind 127.0.0.1 --save '' --appendonly no \
  --dir "$work" --daemonize no >"$work/redis.log" 2>&1 &
pids+=($!)
taskset -c 0 "$bin/bench/bare_frame_server" "$BARE_PORT" >"$work/bare.log" 2>&1 &
pids+=($!)
wait_port "$ZOR_PORT"
wait_port "$REDIS_PORT"
wait_port "$BARE_PORT"

results=$work/results.csv
echo "rep,system,workload,rps,p50_ms,p99_ms,p999_ms,max_ms,client_cpu,client_bound" >"$results"

# run_tool <rep> <system> <tool arguments...>: one CSV row per workload.
run_tool() {
  local rep=$1 system=$2
  shift 2
  taskset -c 1 "$bin/tools/zor_nosql_benchmark" -c "$CONNECTIONS" -n "$REQUESTS" \
    -r "$KEYSPACE" -w 0.5 --json "$@" |
    python3 -c '
import json, sys
for line in sys.stdin:
    r = json.loads(line)
    print("%s,%s,%s,%.0f,%.3f,%.3f,%.3f,%.3f,%.3f,%d" % (sys.argv[1], sys.argv[2], r["workload"],
          r["requests_per_second"], r["p50_us"] / 1000, r["p99_us"] / 1000, r["p999_us"] / 1000,
          r["max_us"] / 1000, r["client_cpu_share"], r["client_bound"]))
' "$rep" "$system" >>"$results"
}

# redis-benchmark's own rows, named after our workloads (its LPUSH stands for list_push).
run_reference() {
  local rep=$1
  redis-cli -p "$REDIS_PORT" flushall >/dev/null
  {
    taskset -c 1 redis-benchmark -p "$REDIS_PORT" -c "$CONNECTIONS" -n "$REQUESTS" \
      -r "$KEYSPACE" -t set,get,sadd,lpush,zadd --csv -q 2>/dev/null | tail -n +2
    taskset -c 1 redis-benchmark -p "$REDIS_PORT" -c "$CONNECTIONS" -n "$REQUESTS" \
      -r "$KEYSPACE" --csv zrank myzset element:__rand_int__ 2>/dev/null | tail -n +2 |
      sed 's/^"[^"]*"/"ZRANK"/'
  } | tr -d '"' | while IFS=, read -r name rps _avg _min p50 _p95 p99 _max; do
    case $name in
      SET) w=hashmap_set ;; GET) w=hashmap_get ;; SADD) w=set_insert ;;
      LPUSH) w=list_push ;; ZRANK) w=set_rank ;; *) continue ;;
    esac
    echo "$rep,redis-benchmark,$w,$rps,$p50,$p99,,,," >>"$results"
  done
  redis-cli -p "$REDIS_PORT" flushall >/dev/null
}

run_system() {
  case $2 in
    zor) run_tool "$1" zor -p "$ZOR_PORT" -t "$WORKLOADS" ;;
    redis) run_tool "$1" redis -p "$REDIS_PORT" --protocol resp -t "$WORKLOADS" ;;
    bare) run_tool "$1" bare -p "$BARE_PORT" --command k ;;
  esac
}

systems=(zor redis bare)
for rep in $(seq "$REPS"); do
  order=()
  for i in 0 1 2; do order+=("${systems[$(((i + rep - 1) % 3))]}"); done
  echo "repetition $rep of $REPS: ${order[*]}" >&2
  for system in "${order[@]}"; do run_system "$rep" "$system"; done
  if [ "$REFERENCE" = 1 ]; then run_reference "$rep"; fi
done

if [ -n "${RESULTS:-}" ]; then cp "$results" "$RESULTS"; fi

python3 - "$results" "$CONNECTIONS" <<'PY'
import csv, statistics, sys
rows = list(csv.DictReader(open(sys.argv[1])))
def cells(system, workload, field):
    return [float(r[field]) for r in rows
            if r["system"] == system and r["workload"] == workload and r[field] != ""]
def med(system, workload, field):
    v = cells(system, workload, field)
    return statistics.median(v) if v else float("nan")
def bound(system, workload):
    return " (client-bound)" if any(cells(system, workload, "client_bound")) else ""
def lat(system, workload):
    return "%.2f / %.2f / %.2f / %.1f" % tuple(
        med(system, workload, f) for f in ("p50_ms", "p99_ms", "p999_ms", "max_ms"))
reference = any(r["system"] == "redis-benchmark" for r in rows)
bare = med("bare", "custom", "rps")
print("%s connections, medians of %d repetitions; latency p50 / p99 / p99.9 / max in ms; client CPU is"
      " the load tool's share of its core" % (sys.argv[2], len({r["rep"] for r in rows})))
print()
head = "| workload | ours req/s | redis req/s | ours/redis | ours/bare | ours latency | redis latency | client CPU ours / redis |"
if reference:
    head += " redis-benchmark req/s (reference: another client) |"
print(head)
print("|" + "---|" * (head.count("|") - 1))
for w in ("hashmap_set", "hashmap_get", "set_insert", "list_push", "set_rank"):
    z, r = med("zor", w, "rps"), med("redis", w, "rps")
    line = "| %s | %.0f%s | %.0f%s | %.2f | %.2f | %s | %s | %.2f / %.2f |" % (
        w, z, bound("zor", w), r, bound("redis", w), z / r, z / bare, lat("zor", w), lat("redis", w),
        med("zor", w, "client_cpu"), med("redis", w, "client_cpu"))
    if reference:
        line += " %.0f |" % med("redis-benchmark", w, "rps")
    print(line)
line = "| bare framing server | | | | %.0f%s req/s | %s | | %.2f |" % (
    bare, bound("bare", "custom"), lat("bare", "custom"), med("bare", "custom", "client_cpu"))
print(line + (" |" if reference else ""))
PY
