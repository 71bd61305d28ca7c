#!/usr/bin/env bash
# Many programs on one central database at once, as a site lives with them: three scheduled
# imports (--import-all), the synchronisation and an export run in loops for a while, on SQLite
# and on a throwaway PostgreSQL server, while twelve workstation packages arrive in the import
# folder. Then the centre must hold the same rows as a twin site that imported the packages one
# by one, no run may have failed, and no log may hold a busy database or a refused row.
# The scheduled imports run zoru, the command line the service runs, when the folder holds it.
#   scripts/stress.sh <folder of zoru-admin, zoru-arc and zoru-demo (and zoru)> [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:?folder of the programs}" && pwd)
seconds=${2:-30}
scheduled=zoru-admin
if [ -x "$bin/zoru" ]; then scheduled=zoru; fi
export TZ=${TZ:-Asia/Omsk}
export ZORU_PASSWORD=zoru ZORU_ESVS_PASSWORD=zoru
work=$(mktemp -d /tmp/zoru-stress.XXXXXX)
chmod 755 "$work"
pgdir=""
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    if [ -n "$pgdir" ]; then "$root/scripts/pg-test-server.sh" stop "$pgdir" >/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# A site: the programs and a demo central database (on PostgreSQL in a database of its own).
make_site() { # <folder> <backend> <database name>
    local folder=$1 backend=$2 db=$3
    if [ "$backend" = sqlite ]; then
        "$bin/zoru-demo" --folder "$folder" --scale 0.05 >/dev/null
    else
        PGPASSWORD=zoru PGOPTIONS=--client-min-messages=warning psql -q -h 127.0.0.1 -p "$ZORU_TEST_PGPORT" -U zoru -d postgres \
            -c "DROP DATABASE IF EXISTS $db" -c "DROP DATABASE IF EXISTS ${db}_esvs" \
            -c "CREATE DATABASE $db" >/dev/null
        "$bin/zoru-demo" --folder "$folder" --scale 0.05 \
            --postgres "127.0.0.1:$ZORU_TEST_PGPORT:$db" --user zoru --password zoru >/dev/null
    fi
    cp "$bin/zoru-admin" "$bin/$scheduled" "$bin/zoru-arc" "$folder/"
}

# Row counts of the centre's tables, journals left out (they tell the runs, not the data).
row_counts() { # <site> <backend> <database name>
    local site=$1 backend=$2 db=$3 tables
    if [ "$backend" = sqlite ]; then
        tables=$(sqlite3 "$site/data/central.db" \
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%' AND
             upper(name) NOT LIKE '%JOURNAL%' ORDER BY upper(name)")
        for t in $tables; do echo "$t $(sqlite3 "$site/data/central.db" "SELECT COUNT(*) FROM $t")"; done
    else
        tables=$(PGPASSWORD=zoru psql -h 127.0.0.1 -p "$ZORU_TEST_PGPORT" -U zoru -d "$db" -At -c \
            "SELECT tablename FROM pg_tables WHERE schemaname = 'public' AND upper(tablename) NOT
             LIKE '%JOURNAL%' AND upper(tablename) <> 'IMPORTLOCK' ORDER BY upper(tablename)")
        for t in $tables; do
            echo "$t $(PGPASSWORD=zoru psql -h 127.0.0.1 -p "$ZORU_TEST_PGPORT" -U zoru -d "$db" \
                -At -c "SELECT COUNT(*) FROM $t")"
        done
    fi
}

# One program in a loop until the deadline; a line per run: "<name> <exit status> <waited>".
# A run starts in a later second than the one before ended: a package's name has the second of
# its export, and two exports of one workstation within a second would name the same package.
loop() { # <name> <deadline> <site> <program> <arguments...>
    local name=$1 deadline=$2 site=$3 program=$4 status out ended=0
    shift 4
    while [ "$(date +%s)" -lt "$deadline" ]; do
        while [ "$(date +%s)" -le "$ended" ]; do sleep 0.1; done
        status=0
        out=$("$site/$program" --site "$site" "$@" </dev/null 2>&1) || status=$?
        ended=$(date +%s)
        printf '%s %s %s\n' "$name" "$status" \
            "$(grep -qE 'Ожидание' <<<"$out" && echo waited || echo -)" >>"$work/runs"
        printf '%s\n' "$out" >>"$work/$name.out"
    done
}

stress() { # <backend>
    local backend=$1 a="$work/$1-a" b="$work/$1-b" i p f
    : >"$work/runs"
    rm -f "$work"/*.out
    make_site "$a" "$backend" zoru_stress_a
    make_site "$b" "$backend" zoru_stress_b
    # Twelve packages: six of known workstations, six of new ones.
    mkdir -p "$work/pool"
    rm -f "$work/pool"/*
    for i in $(seq 1 12); do
        extra=()
        if [ $((i % 2)) = 0 ]; then extra=(--new-workstation); fi
        p=$("$bin/zoru-demo" --folder "$a" --package 25 --seed "$((i + 10))" "${extra[@]}" \
            --password zoru | tail -1)
        mv "$(dirname "$p")"/*.w* "$work/pool/"
    done
    # The twin imports them one by one, oldest first as a batch would, and synchronises once.
    for p in "$work/pool"/*.w2s; do
        cp "$p" "$b/import/"
        "$b/zoru-admin" --site "$b" --import "$b/import/$(basename "$p")" </dev/null >/dev/null 2>&1
    done
    "$b/zoru-admin" --site "$b" --sync </dev/null >/dev/null 2>&1

    local deadline=$(($(date +%s) + seconds))
    loop batch1 "$deadline" "$a" "$scheduled" --import-all &
    loop batch2 "$deadline" "$a" "$scheduled" --import-all &
    loop batch3 "$deadline" "$a" "$scheduled" --import-all &
    loop sync "$deadline" "$a" zoru-admin --sync &
    loop export "$deadline" "$a" zoru-admin --export 1 &
    # The packages arrive over the first two thirds of the run, each whole at once.
    for p in "$work/pool"/*.w2s; do
        f=$(basename "$p")
        cp "$p" "$a/import/.$f.part"
        mv "$a/import/.$f.part" "$a/import/$f"
        sleep "$(awk -v s="$seconds" 'BEGIN { printf "%.2f", s * 2 / 3 / 12 }')"
    done
    wait
    "$a/zoru-admin" --site "$a" --import-all </dev/null >/dev/null

    local started waited busy failed
    started=$(wc -l <"$work/runs")
    waited=$(grep -c ' waited$' "$work/runs" || true)
    busy=$(grep -c '^batch[0-9] 7 ' "$work/runs" || true)
    failed=$(grep -vcE '^batch[0-9] (0|7) |^(sync|export) 0 ' "$work/runs" || true)
    local rows=equal
    if ! diff <(row_counts "$a" "$backend" zoru_stress_a) <(row_counts "$b" "$backend" zoru_stress_b); then
        rows=DIFFERENT
    fi
    local tables
    tables=$(row_counts "$a" "$backend" zoru_stress_a | wc -l)
    local bad_logs=0
    if iconv -f cp1251 -t utf-8 "$a/log.txt" | grep -E 'database is locked|ОШИБКА!!!|занята другой работой'; then
        bad_logs=1
    fi
    if ls "$a/import/"*.w2s >/dev/null 2>&1; then
        echo "packages were left in the import folder" >&2
        bad_logs=1
    fi
    echo "stress $backend: runs started $started, waited $waited, refused with 7 $busy," \
        "failed $failed; rows of $tables tables compared: $rows"
    if [ "$failed" != 0 ]; then grep -vE '^batch[0-9] (0|7) |^(sync|export) 0 ' "$work/runs" >&2; fi
    [ "$failed" = 0 ] && [ "$rows" = equal ] && [ "$bad_logs" = 0 ]
}

status=0
stress sqlite || status=1
if [ -z "${ZORU_TEST_PGPORT:-}" ]; then
    pgdir="$work/pg"
    mkdir -p "$pgdir"
    eval "$("$root/scripts/pg-test-server.sh" start "$pgdir")"
fi
stress postgresql || status=1
exit $status
