#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite: first the unit tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, then every test (unit, x11, e2e) against a
# private Xvfb server. Ends with CTest's summary line.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)

BUILD_TYPE=Debug bash scripts/build.sh build-asan -DTARNWICK_SANITIZE=ON -DTARNWICK_BUILD_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan -L unit --output-on-failure -j"$jobs"

bash scripts/build.sh build
bash scripts/with-xvfb.sh ctest --test-dir build --output-on-failure -j"$jobs"
