#!/usr/bin/env bash
# Starts or stops a throwaway PostgreSQL server on loopback for the tests.
#   pg-test-server.sh start <dir>   # prints the ZORU_TEST_PG* variables to export
#   pg-test-server.sh stop <dir>
# The server listens on 127.0.0.1:${ZORU_TEST_PGPORT:-54329} or the next free port (the variables
# printed name it), user zoru, password zoru,
# password authentication (so wrong passwords are refused).
set -euo pipefail
cmd=${1:?start|stop}
dir=${2:?data folder}
port=${ZORU_TEST_PGPORT:-54329}
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)

as_pg() {
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$cmd" in
start)
    mkdir -p "$dir"
    if [ "$(id -u)" = 0 ]; then chown postgres:postgres "$dir"; fi
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        pwfile=$(mktemp)
        echo zoru > "$pwfile"
        chmod 644 "$pwfile"
        as_pg "$bindir/initdb" -D "$dir/data" -U zoru --pwfile="$pwfile" -A scram-sha-256 -E UTF8 \
            --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
        rm -f "$pwfile"
    fi
    if ! as_pg "$bindir/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
        # Another server (a developer's, another run's) may have the port: the next free one.
        port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
        while port_busy "$port"; do port=$((port + 1)); done
        as_pg "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
            -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c max_connections=200" start >/dev/null
    fi
    echo "export ZORU_TEST_PGHOST=127.0.0.1 ZORU_TEST_PGPORT=$port ZORU_TEST_PGUSER=zoru ZORU_TEST_PGPASSWORD=zoru ZORU_TEST_PGDATABASE=postgres"
    ;;
stop)
    as_pg "$bindir/pg_ctl" -D "$dir/data" -m fast stop >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 start|stop <dir>" >&2
    exit 2
    ;;
esac
