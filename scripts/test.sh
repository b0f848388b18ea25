#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: the optimised build and the
# Debian package made from it (scripts/package_test.sh), the AddressSanitizer +
# UndefinedBehaviorSanitizer build, and the ThreadSanitizer build of the concurrent parts (network
# and end-to-end suites).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

cmake --preset release
cmake --build --preset release
ctest --preset release
scripts/package_test.sh

cmake --preset asan
cmake --build --preset asan
ctest --preset asan

cmake --preset tsan
tsan_targets=$(cmake --build --preset tsan --target help | sed -n 's/^\(\(net\|e2e\)_test\): .*/\1/p')
if [ -n "$tsan_targets" ]; then
  cmake --build --preset tsan --target $tsan_targets
  ctest --preset tsan -R '^(net|e2e)_test$'
fi
echo "all tests passed"
