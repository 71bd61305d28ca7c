#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test, against a
# throwaway PostgreSQL server on loopback that lives only as long as this script.
#   scripts/test.sh [ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZORU_TEST_BUILD_DIR:-$root/build-test}
jobs=$(nproc)

"$root/scripts/deps.sh"

pgdir=$(mktemp -d /tmp/zoru-test-pg.XXXXXX)
chmod 755 "$pgdir"
cleanup() {
    "$root/scripts/pg-test-server.sh" stop "$pgdir/srv" || true
    rm -rf "$pgdir"
}
trap cleanup EXIT
eval "$("$root/scripts/pg-test-server.sh" start "$pgdir/srv")"
export ZORU_REQUIRE_PG=1
# Far from UTC, so that a date-time shifted by a time-zone conversion shows up.
export TZ=${ZORU_TEST_TZ:-Asia/Omsk}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZORU_SANITIZE=ON
cmake --build "$build" -j"$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Sanitizer reports are symbolised by LLVM's symbolizer (scripts/deps.sh installs it).
export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || echo /usr/lib/llvm-14/bin/llvm-symbolizer)}
status=0
# The Paradox reader and the package import are fuzzed for a bounded time on every full run
# (before the tests, so that CTest's summary closes the output).
if [ -x "$root/scripts/fuzz-paradox.sh" ] && [ $# -eq 0 ]; then
    "$root/scripts/fuzz-paradox.sh" "${ZORU_FUZZ_SECONDS:-60}" || status=$?
    # Workstation packages through extraction and the merge (each input is a whole import).
    "$root/scripts/fuzz-import.sh" "${ZORU_FUZZ_IMPORT_SECONDS:-60}" || status=$?
fi
ctest --test-dir "$build" --output-on-failure -j"$jobs" "$@" || status=$?
if [ $status -ne 0 ]; then
    echo "test run failed (status $status)" >&2
fi
exit $status
