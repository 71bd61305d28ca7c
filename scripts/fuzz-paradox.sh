#!/usr/bin/env bash
# Builds the Paradox fuzzers with clang (libFuzzer, AddressSanitizer, UBSan) in their own build
# folder and runs each for a bounded time: the table reader, then the primary-index check.
#   scripts/fuzz-paradox.sh [seconds per fuzzer=60] [extra libFuzzer options...]
# Exits non-zero when the fuzzer finds a crash, a leak, a timeout or an out-of-memory case; the
# offending input is left in build-fuzz/findings/ (turn it into a regression test).
set -euo pipefail

seconds="${1:-60}"
shift || true
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORU_FUZZ_BUILD_DIR:-$src/build-fuzz}"
jobs="${ZORU_FUZZ_BUILD_JOBS:-2}"
# Sanitizer reports are symbolised by LLVM's symbolizer (scripts/deps.sh installs it).
export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || echo /usr/lib/llvm-14/bin/llvm-symbolizer)}

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZORU_FUZZ=ON -DZORU_SANITIZE=ON -DZORU_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_paradox_reader fuzz_paradox_index fuzz_paradox_seeds -j"$jobs"

bin="$build/bin"
corpus="$build/corpus"     # grows while fuzzing; the committed seeds stay untouched
indexCorpus="$build/corpus-index"
findings="$build/findings"
mkdir -p "$corpus" "$indexCorpus" "$findings"
"$bin/fuzz_paradox_seeds" "$corpus" "$indexCorpus"
cp -n "$src"/tests/fuzz/corpus/* "$corpus"/ 2>/dev/null || true
# Real engine-written tables, when the shared sample folder is beside the checkout.
cp -n "$src"/../shared/testdata/paradox/*.{db,DB} "$corpus"/ 2>/dev/null || true

# Tables of interest are a few blocks long; 64 KiB leaves room for multi-block chains.
common=(-max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=1024
        -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$findings/")
"$bin/fuzz_paradox_reader" "$corpus" "${common[@]}" "$@"
"$bin/fuzz_paradox_index" "$indexCorpus" "${common[@]}" "$@"
