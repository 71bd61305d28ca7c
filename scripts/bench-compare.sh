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

scratch=$(mktemp -d /tmp/zoru-bench-compare.XXXXXX)
chmod 755 "$scratch"
cleanup() {
    "$root/scripts/pg-test-server.sh" stop "$scratch/pg" || true
    rm -rf "$scratch"
}
trap cleanup EXIT
eval "$("$root/scripts/pg-test-server.sh" start "$scratch/pg")"
server=$ZORU_TEST_PGHOST:$ZORU_TEST_PGPORT
pg=(--user "$ZORU_TEST_PGUSER" --password "$ZORU_TEST_PGPASSWORD")
PGPASSWORD=$ZORU_TEST_PGPASSWORD psql -q -h "$ZORU_TEST_PGHOST" -p "$ZORU_TEST_PGPORT" \
    -U "$ZORU_TEST_PGUSER" -d postgres -c "CREATE DATABASE zoru_bench"
export TZ=${ZORU_TEST_TZ:-Asia/Omsk} QT_QPA_PLATFORM=offscreen

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

# One line per ratio and run: <build> <run number> <ratio name> <value>.
results=$scratch/results
: >"$results"
for ((round = 1; round <= rounds; round++)); do
    for i in "${!runs[@]}"; do
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
                sed -E "s/^ratio (.+): ([0-9.e+-]+)$/$build\t$i\t\1\t\2/" >>"$results"
        done
        echo "round $round/$rounds: ${runs[$i]%% --postgres*}$([[ ${runs[$i]} == *--postgres* ]] &&
            echo ' (PostgreSQL)')" >&2
    done
done

# The median of each ratio per build, and the change.
python3 - "$results" "$limit" "${runs[@]}" <<'EOF'
import statistics, sys
path, limit, runs = sys.argv[1], float(sys.argv[2]), sys.argv[3:]
values = {}
for line in open(path, encoding="utf-8"):
    build, run, name, value = line.rstrip("\n").split("\t")
    values.setdefault((int(run), name), {}).setdefault(build, []).append(float(value))
worse = 0
print(f"{'benchmark':<34} {'ratio':<44} {'old':>9} {'new':>9} {'change':>8}")
for (run, name), by in sorted(values.items()):
    o, n = statistics.median(by["old"]), statistics.median(by["new"])
    change = (n / o - 1) * 100 if o else 0.0
    mark = ""
    if change > limit:
        mark = "  <-- over the limit"
        worse += 1
    label = runs[run].split(" --user")[0].replace("--postgres ", "pg ")
    label = label.split(" pg ")[0] + (" (pg)" if " pg " in label else "")
    print(f"{label:<34} {name:<44} {o:>9.3g} {n:>9.3g} {change:>+7.1f}%{mark}")
print(f"== {len(values)} ratios, {worse} worse than the old build's by more than {limit:g}%")
sys.exit(1 if worse else 0)
EOF
