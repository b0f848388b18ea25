# Shell functions shared by the benchmark scripts that start servers (sourced, not run).
# Needs: bin (a release build directory) set by the caller.

# wait_port PORT: returns once something listens on 127.0.0.1:PORT; stops the script after 10 s.
wait_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "$(basename "$0"): nothing listens on port $1" >&2
  exit 1
}

# prepare_zor_server DIR PORT: puts our server and a zor_ndb.toml (that port, one user "admin"
# whose password is $ZOR_PASSWORD, no start-up script) into DIR, from where it is started.
prepare_zor_server() {
  local dir=$1 port=$2 digest
  digest=$(printf '%s' "$ZOR_PASSWORD" | "$bin/client/zor_nosql_cli" --digest)
  cat >"$dir/zor_ndb.toml" <<TOML
[server]
port = $port

[users]
users_list = [{ name = "admin", password = "$digest" }]
TOML
  cp "$bin/app/zor_nosql_server" "$dir/"
}
