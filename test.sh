#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless.
# ./test.sh          plain build in build/
# ./test.sh asan     AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
# ./test.sh tsan     ThreadSanitizer in build-tsan/
# Extra arguments after the flavour go to ctest (e.g. ./test.sh plain -L link).
set -euo pipefail
cd "$(dirname "$0")"

flavour=${1:-plain}
shift || true
dir=$(scripts/build.sh "$flavour" | tail -n 1)

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1 die_after_fork=0 suppressions=$PWD/tests/tsan.supp}
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" "$@"
