#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: the optimised build, the Debian
# package made from it (scripts/package_test.sh) and the Python client against the release server,
# the AddressSanitizer + UndefinedBehaviorSanitizer build, the ThreadSanitizer build of the
# concurrent parts (network and end-to-end suites), and every fuzz target for 30 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

cmake --preset release
cmake --build --preset release
ctest --preset release
scripts/package_test.sh

# The Python client against the release server. Debian's python3 carries python3-pytest; another
# python3 earlier on the PATH may not.
python=python3
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -c 'import pytest' 2>/dev/null; then python=$candidate; break; fi
done
ZOR_SERVER="$PWD/build/release/app/zor_nosql_server" PYTHONDONTWRITEBYTECODE=1 \
  "$python" -m pytest -q -p no:cacheprovider clients/python/tests

cmake --preset asan
cmake --build --preset asan
ctest --preset asan

cmake --preset tsan
tsan_targets=$(cmake --build --preset tsan --target help | sed -n 's/^\(\(net\|e2e\)_test\): .*/\1/p')
if [ -n "$tsan_targets" ]; then
  cmake --build --preset tsan --target $tsan_targets
  ctest --preset tsan -R '^(net|e2e)_test$'
fi

# Each run starts with the committed corpus, so every regression input is replayed first. The
# limit per input is wall-clock time: inputs take milliseconds, but a loaded runner can stall a
# process for a second, so CI allows ten (a hang still stops the run) where a campaign allows one.
FUZZ_TIMEOUT=10 scripts/fuzz.sh 30
echo "all tests passed"
