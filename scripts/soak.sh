#!/usr/bin/env bash
# Runs the soak test (tests/e2e/soak_test.cc: 50 connections checked against their models) on the
# release build for MINUTES minutes (default 10).
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-10}
cmake --preset release >/dev/null
cmake --build --preset release --target e2e_test
ZOR_SOAK_SECONDS=$((minutes * 60)) build/release/tests/e2e/e2e_test --gtest_filter='Soak.*'
