# Sourced by the benchmark scripts: a scratch folder ($scratch, removed on exit) with a throwaway
# PostgreSQL server in it and, on that server, the database zoru_bench that the benchmarks which
# take one put their demo into; $server (host:port) and $pg (the options naming the server's
# user) for their command lines; the time zone and Qt platform the benchmarks run with.
#   . "$root/scripts/bench-server.sh" <prefix of the scratch folder's name>
scratch=$(mktemp -d "/tmp/$1.XXXXXX")
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
export TZ=${ZORU_TEST_TZ:-Asia/Omsk}
export QT_QPA_PLATFORM=offscreen
