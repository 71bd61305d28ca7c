#!/usr/bin/env bash
# Runs every benchmark once at its smallest size, on SQLite and (where the benchmark takes one)
# on a throwaway PostgreSQL server, so that a benchmark that no longer runs shows in CI. Speed is
# not judged: a benchmark fails the run when it ends with an error, prints no ratio line
# ("ratio <what>: <number>"), or writes anything outside its scratch folders (each runs with an
# empty folder of its own as the current folder, which must stay empty, and the checkout must
# get no new untracked file).
#   scripts/bench-smoke.sh
# The benchmarks are built in the Release build of scripts/package.sh (ZORU_PACKAGE_BUILD_DIR,
# default build-package/), so that the code is compiled once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZORU_PACKAGE_BUILD_DIR:-$root/build-package}
started=$(date +%s)

"$root/scripts/deps.sh"
if [ -f "$build/CMakeCache.txt" ]; then
    cmake -B "$build" -DZORU_BUILD_BENCH=ON >/dev/null
else
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORU_BUILD_TESTS=OFF \
        -DZORU_BUILD_BENCH=ON -DZORU_SANITIZE=OFF -DZORU_FUZZ=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
bin=$build/bin

. "$root/scripts/bench-server.sh" zoru-bench-smoke

untracked() { git -C "$root" status --porcelain --untracked-files=all | grep '^??' || true; }
before=$(untracked)

failed=0
count=0
smoke() {
    local name=$1
    shift
    count=$((count + 1))
    local cwd="$scratch/cwd$count" log="$scratch/log$count"
    mkdir "$cwd"
    local t0 status=0 why=""
    t0=$(date +%s.%N)
    (cd "$cwd" && timeout 300 "$bin/$name" "$@") >"$log" 2>&1 || status=$?
    if [ $status -ne 0 ]; then
        why="exit status $status"
    elif ! grep -Eq '^ratio .+: [0-9][0-9.e+-]*$' "$log"; then
        why="no ratio line"
    elif [ -n "$(ls -A "$cwd")" ]; then
        why="wrote into its current folder: $(ls -A "$cwd" | tr '\n' ' ')"
    fi
    printf '%-18s %-52s %6.1f s  %s\n' "$name" "$*" "$(awk "BEGIN { print $(date +%s.%N) - $t0 }")" \
        "${why:-ok}"
    grep -E '^ratio ' "$log" | sed 's/^/    /' || true
    if [ -n "$why" ]; then
        failed=$((failed + 1))
        sed 's/^/    | /' "$log" | tail -20
    fi
}

smoke paradox_bench 1000
smoke engine_bench 1000 both
smoke export_bench --scale 0.05 --rounds 1
smoke export_bench --scale 0.05 --rounds 1 --postgres "$server:zoru_bench" "${pg[@]}"
smoke sync_bench --scale 0.05 --rounds 1
smoke sync_bench --scale 0.05 --rounds 1 --postgres "$server:zoru_bench" "${pg[@]}"
smoke import_bench --persons 100 --scale 0.05
smoke import_bench --persons 100 --scale 0.05 --postgres "$server" "${pg[@]}"
smoke status_bench --scale 0.05 --rounds 1 --workstations 20 --days 10
smoke status_bench --scale 0.05 --rounds 1 --workstations 20 --days 10 \
    --postgres "$server:zoru_status_bench" "${pg[@]}"
smoke wizard_bench --scale 0.05 --rounds 1
smoke wizard_bench --scale 0.05 --rounds 1 --postgres "$server:zoru_bench" "${pg[@]}"
smoke importruns_bench 100 2

# Every benchmark the build makes is run above.
for program in "$bin"/*_bench; do
    if ! grep -q "^smoke $(basename "$program") " "$0"; then
        echo "$(basename "$program") is built but not run by $(basename "$0")" >&2
        failed=$((failed + 1))
    fi
done
after=$(untracked)
if [ "$before" != "$after" ]; then
    echo "the benchmarks left files in the checkout:" >&2
    diff <(echo "$before") <(echo "$after") >&2 || true
    failed=$((failed + 1))
fi
echo "== benchmark smoke run: $count runs, $failed failed, $(($(date +%s) - started)) s"
[ $failed -eq 0 ]
