#!/usr/bin/env bash
# Installs what is missing, builds the server and the client of the release preset (nothing else:
# the tests and benchmarks are scripts/test.sh's) and runs the server in the foreground from
# its own working directory, run/ at the repository root. The shipped zor_ndb.toml and init.nos
# are copied there once; edit those copies to change the port, the users or the start-up script.
# Stop the server with Control-C.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

cmake --preset release
cmake --build --preset release --target zor_nosql_server zor_nosql_cli

mkdir -p run
# The program is always refreshed; the configuration and the script only when missing.
cp -f build/release/app/zor_nosql_server run/zor_nosql_server
cp -f build/release/client/zor_nosql_cli run/zor_nosql_cli
for f in zor_ndb.toml init.nos; do
  [ -e "run/$f" ] || cp "examples/$f" "run/$f"
done

port=$(sed -n 's/^[[:space:]]*port[[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' run/zor_ndb.toml | head -n 1)
cat <<TEXT
zor nosql server in $(pwd)/run, port ${port:-55554} (log: run/zor_mdb_s.log)
connect from another terminal with the shipped user (see examples/README.md):
  ZOR_PASSWORD=admin run/zor_nosql_cli -p ${port:-55554} -u admin
stop with Control-C
TEXT
cd run
exec ./zor_nosql_server
