#!/usr/bin/env bash
# Builds the Debian package from the release build, checks its control fields and file list
# against docs/operations.md ("Installing the Debian package"), unpacks it with dpkg-deb -x into
# a temporary directory, starts the unpacked server there on a free loopback port, logs in with
# the unpacked client, and stops the server. Needs the configured release preset.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "package test: $*" >&2; exit 1; }

cmake --build --preset release --target package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
deb="build/release/zor-nosql_${version}_amd64.deb"
[ -n "$version" ] && [ -f "$deb" ] || fail "no $deb"

# ---- control fields and file list, as the document says ----
doc_section=$(awk '/^## /{on = ($0 == "## Installing the Debian package")} on' docs/operations.md)
# The paths in the first column of the section's table; with "(conffile)" on the row, the conffiles.
table_paths() {
  grep "^| \`/.*${1:-}" <<<"$doc_section" | sed 's/^| `\([^`]*\)`.*/\1/' | sort || true
}
doc_files=$(table_paths)
doc_conffiles=$(table_paths '(conffile)')
[ -n "$doc_files" ] || fail "no file table in docs/operations.md"

info=$(dpkg-deb -I "$deb")
grep -qx " Version: $version" <<<"$info" || fail "control field Version is not $version"
for field in "Package: zor-nosql" "Architecture: amd64" "Section: database"; do
  grep -qF "\`$field\`" <<<"$doc_section" || fail "docs/operations.md does not name '$field'"
  grep -qx " $field" <<<"$info" || fail "control field '$field' missing"
done
grep -q '^ Depends: .*libspdlog' <<<"$info" || fail "Depends lacks the logging library"

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 2)}' | sort)
[ "$files" = "$doc_files" ] || fail "file list differs from docs/operations.md:
$(diff <(echo "$doc_files") <(echo "$files"))"

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/control"
dpkg-deb -e "$deb" "$work/control"
[ "$(sort "$work/control/conffiles")" = "$doc_conffiles" ] ||
  fail "conffiles differ from docs/operations.md"
for script in postinst postrm; do
  [ -x "$work/control/$script" ] || fail "$script missing or not executable"
  ! grep -Eq 'systemctl +(enable|start|restart)|deb-systemd' "$work/control/$script" ||
    fail "$script enables or starts the service"
done

# ---- the unpacked programs ----
root="$work/root"
dpkg-deb -x "$deb" "$root"
unit="$root/lib/systemd/system/zor_nosql_server.service"
grep -qx 'ExecStart=/opt/zor_nosql/zor_nosql_server --as_service' "$unit" || fail "unit ExecStart"
grep -qx 'LimitNOFILE=65536' "$unit" || fail "unit LimitNOFILE"
for program in opt/zor_nosql/zor_nosql_server usr/bin/zor_nosql_cli usr/bin/zor_nosql_benchmark; do
  [ "$("$root/$program" --version)" = "$(basename "$program") $version" ] ||
    fail "$program --version is not $version"
done

home="$root/opt/zor_nosql"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
sed -i "s/^port = .*/port = $port/" "$home/zor_ndb.toml"
(cd "$home" && exec env ZOR_BIND_ADDRESS=127.0.0.1 ./zor_nosql_server >"$work/server.out" 2>&1) &
server_pid=$!
cli=("$root/usr/bin/zor_nosql_cli" -p "$port" -u admin --connect-timeout 1 --timeout 10)
for _ in $(seq 100); do
  ZOR_PASSWORD=admin "${cli[@]}" k >/dev/null 2>&1 && break
  kill -0 "$server_pid" 2>/dev/null || fail "server ended: $(cat "$work/server.out")"
  sleep 0.2
done
motd=$(ZOR_PASSWORD=admin "${cli[@]}" 'g "settings" value motd') ||
  fail "login or command refused: $(cat "$work/server.out")"
[ "$motd" = '"welcome to zor nosql"' ] || fail "init.nos not run from the package: $motd"

kill -TERM "$server_pid"
status=0
wait "$server_pid" || status=$?
server_pid=
[ "$status" -eq 0 ] || fail "server stopped with status $status"
echo "package test passed: $deb"
