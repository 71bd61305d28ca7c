#!/usr/bin/env bash
# Builds the workstation package fuzzer with clang (libFuzzer, AddressSanitizer, UBSan) in the
# fuzz build folder and runs it for a bounded time: mutated archives and mutated tables through
# extraction and the merge into a scratch SQLite central database.
#   scripts/fuzz-import.sh [seconds=60] [extra libFuzzer options...]
# Exits non-zero when the fuzzer finds a crash, a leak, a timeout, an out-of-memory case or a
# write outside the work folder; the offending input is left in build-fuzz/findings/.
set -euo pipefail

seconds="${1:-60}"
shift || true
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORU_FUZZ_BUILD_DIR:-$src/build-fuzz}"
jobs="${ZORU_FUZZ_BUILD_JOBS:-2}"

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZORU_FUZZ=ON -DZORU_SANITIZE=ON -DZORU_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_import_package fuzz_import_seeds zoru-arc -j"$jobs"

bin="$build/bin"
corpus="$build/corpus-import" # grows while fuzzing
findings="$build/findings"
mkdir -p "$corpus" "$findings"
"$bin/fuzz_import_seeds" "$corpus"

# One input is a package of a dozen persons: its archive or one of its tables.
"$bin/fuzz_import_package" "$corpus" -max_total_time="$seconds" -max_len=131072 -timeout=20 \
    -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$@"
