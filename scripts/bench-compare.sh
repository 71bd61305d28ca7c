#!/usr/bin/env bash
# Speed of two builds side by side: every benchmark at its full size, old and new taking turns,
# on SQLite and on a throwaway PostgreSQL server. Each benchmark measures its work against its
# floor in the same run, so the ratios compare across builds and machine load; the table shows
# the median ratio of each build and the change, and marks a change over the limit.
#   scripts/bench-compare.sh <old bin folder> <new bin folder> [rounds (3)] [limit % (10)]
# A bin folder holds the benchmarks (a Release build with -DZORU_BUILD_BENCH=ON). Ends with 1
# when a ratio of the new build is worse than the old one's by more than the limit.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 <old bin> <new bin> [rounds] [limit %]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
rounds=${3:-3}
limit=${4:-10}

. "$root/scripts/bench-server.sh" zoru-bench-compare

runs=(
    "paradox_bench"
    "engine_bench 100000 both"
    "export_bench"
    "export_bench --postgres $server:zoru_bench ${pg[*]}"
    "sync_bench"
    "sync_bench --postgres $server:zoru_bench ${pg[*]}"
    "import_bench --persons 10000"
    "import_bench --persons 10000 --postgres $server ${pg[*]}"
    "status_bench"
    "status_bench --postgres $server:zoru_bench ${pg[*]}"
    "wizard_bench"
    "wizard_bench --postgres $server:zoru_bench ${pg[*]}"
)

# One line per ratio and run: <build> <benchmark> <ratio name> <value>, tab-separated.
results=$scratch/results
: >"$results"
for ((round = 1; round <= rounds; round++)); do
    for i in "${!runs[@]}"; do
        label=${runs[$i]%% --postgres*}
        [[ ${runs[$i]} == *--postgres* ]] && label+=" (pg)"
        for build in old new; do
            bin=$old
            [ $build = new ] && bin=$new
            read -ra command <<<"${runs[$i]}"
            log=$scratch/log
            mkdir -p "$scratch/cwd" && rm -rf "${scratch:?}/cwd/"*
            if ! (cd "$scratch/cwd" && "$bin/${command[0]}" "${command[@]:1}") >"$log" 2>&1; then
                echo "$build: ${runs[$i]} failed" >&2
                tail -20 "$log" >&2
                exit 2
            fi
            grep -E '^ratio .+: [0-9][0-9.e+-]*$' "$log" |
                sed -E "s/^ratio (.+): ([0-9.e+-]+)$/$build\t$label\t\1\t\2/" >>"$results"
        done
        echo "round $round/$rounds: $label" >&2
    done
done

# The median of each ratio per build, and the change.
sort -t$'\t' -k2,2 -k3,3 -k1,1 -k4,4g "$results" | awk -F'\t' -v limit="$limit" '
function flush() {
    if (n) median[key SUBSEP build] = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    n = 0
}
{
    k = $2 SUBSEP $3
    if (k != key || $1 != build) {
        flush()
        if (k != key) order[++keys] = k
        key = k
        build = $1
    }
    v[++n] = $4
}
END {
    flush()
    printf "%-44s %-44s %9s %9s %8s\n", "benchmark", "ratio", "old", "new", "change"
    for (i = 1; i <= keys; i++) {
        split(order[i], part, SUBSEP)
        o = median[order[i] SUBSEP "old"]
        m = median[order[i] SUBSEP "new"]
        change = o ? (m / o - 1) * 100 : 0
        mark = change > limit ? "  <-- over the limit" : ""
        worse += change > limit
        printf "%-44s %-44s %9.3g %9.3g %+7.1f%%%s\n", part[1], part[2], o, m, change, mark
    }
    printf "== %d ratios, %d worse than the old build%ss by more than %g%%\n", keys, worse, "\047", limit
    exit worse > 0
}'
