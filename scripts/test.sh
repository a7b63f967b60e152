#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite: first every test under
# AddressSanitizer and UndefinedBehaviorSanitizer (the X11 and end-to-end ones against a private
# Xvfb server), then every test (unit, x11, e2e) of the optimised build against another Xvfb.
# Ends with CTest's summary line.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)

BUILD_TYPE=Debug bash scripts/build.sh build-asan -DTARNWICK_SANITIZE=ON -DTARNWICK_BUILD_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan -L unit --output-on-failure -j"$jobs"
# The X11, end-to-end and Wayland tests too, for the memory errors that only the real platform code meets.
bash scripts/with-xvfb.sh ctest --test-dir build-asan -L 'x11|e2e|wayland' --output-on-failure

bash scripts/build.sh build
bash scripts/with-xvfb.sh ctest --test-dir build --output-on-failure -j"$jobs"
