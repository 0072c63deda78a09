#!/usr/bin/env bash
# Sets everything up, builds, and runs every test twice: a normal build, then the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Qt's and the font library's own one-time allocations are not ours to report.
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp

scripts/build.sh build
(cd build && ctest --output-on-failure -j2 --timeout 300)

scripts/build.sh build-asan -DTALVINO_SANITIZE=ON
(cd build-asan && ctest --output-on-failure -j2 --timeout 600)
