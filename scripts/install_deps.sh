#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the tools and the Debian package of the
# server (dpkg-dev and file: CPack works out its Depends with them) need, and only those missing.
set -euo pipefail
packages=(cmake ninja-build g++ python3 python3-pytest libgtest-dev libgmock-dev libbenchmark-dev
          libspdlog-dev libfmt-dev libedit-dev dpkg-dev file clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
