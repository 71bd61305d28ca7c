#!/usr/bin/env bash
# Behaviour unchanged between two builds: each makes a demo site and works on it as an
# administrator would (an export, the import of a workstation's package, a synchronisation with
# ЕСВС, the state of the workstations), on a clock stopped at the same moment (faketime); then
# every file of the two sites is compared byte for byte, and so is what the commands printed.
# Three things are not the clock's and are set aside: measured seconds, the times of the files
# in an archive (compared by comment and entries) and a package's checksum (SQLite databases are
# compared as their SQL dumps, with checksums blanked).
#   scripts/demo-compare.sh <old bin folder> <new bin folder> [scale]
# A bin folder holds zoru-admin, zoru-arc and zoru-demo (a Release build's bin/). Needs faketime
# and sqlite3 (scripts/deps.sh installs them).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 <old bin folder> <new bin folder> [scale]" >&2; exit 2; }
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
scale=${3:-0.05}
command -v faketime >/dev/null || { echo "faketime is needed: scripts/deps.sh" >&2; exit 2; }

work=$(mktemp -d /tmp/zoru-demo-compare.XXXXXX)
# ZORU_KEEP=1 keeps the two sites for a look.
[ "${ZORU_KEEP:-0}" = 1 ] && echo "sites in $work" || trap 'rm -rf "$work"' EXIT
export TZ=Asia/Omsk QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
# The wall clock stands still (faketime -f with an absolute time); the monotonic one (waits,
# timeouts) runs.
export FAKETIME_DONT_FAKE_MONOTONIC=1
at='2026-01-15 10:00:00'

# Both builds work in the same folder, the site then moved aside: paths are part of the output.
run_site() {
    local bin=$1 out=$2
    local site=$work/site
    mkdir -p "$out"
    {
        echo "== demo"
        faketime -f "$at" "$bin/zoru-demo" --folder "$site" --seed 7 --scale "$scale"
        faketime -f "$at" "$bin/zoru-demo" --folder "$site" --seed 7 --package 40
        echo "== export"
        faketime -f "$at" "$bin/zoru-admin" --site "$site" --export 1 || echo "status $?"
        echo "== import-all"
        faketime -f "$at" "$bin/zoru-admin" --site "$site" --import-all || echo "status $?"
        echo "== sync"
        faketime -f "$at" "$bin/zoru-admin" --site "$site" --sync || echo "status $?"
        echo "== status"
        faketime -f "$at" "$bin/zoru-admin" --site "$site" --status --csv || echo "status $?"
    } >"$out/printed.txt" 2>&1 || { cat "$out/printed.txt" >&2; exit 2; }
    mv "$site" "$out/site"
    # The batch summary's seconds are measured, not read from the clock: blanked in both.
    local f
    for f in "$out/printed.txt" "$out/site/log.txt"; do
        iconv -f cp1251 -t utf-8 "$f" 2>/dev/null >"$f.utf8" || cp "$f" "$f.utf8"
        sed -E -i 's/ +[0-9]+\.[0-9]$/ <s>/; s/секунд: [0-9]+\.[0-9]/секунд: <s>/; s/Время: [0-9.]+ с/Время: <s> с/' "$f.utf8"
        mv "$f.utf8" "$f"
    done
    # An archive's entries carry their files' times, which the file system gives (faketime does
    # not reach them): an archive is compared by its comment and its entries' bytes, and a
    # package's checksum in a journal is blanked.
    while IFS= read -r -d '' f; do
        # Read with the new build's archiver, the same for both sites.
        mkdir "$f.entries"
        "$new/zoru-arc" x -y -o+ "$f" "$f.entries" >/dev/null
        "$new/zoru-arc" cw "$f" "$f.comment"
        rm "$f"
    done < <(find "$out/site" -type f \( -name '*.s2w' -o -name '*.w2s' \) -print0)
    while IFS= read -r -d '' f; do
        if head -c 16 "$f" | grep -q "SQLite format 3"; then
            sqlite3 "$f" .dump | sed -E "s/'[0-9a-f]{64}'/'<sha256>'/g" >"$f.dump"
            rm "$f"
        fi
    done < <(find "$out/site" -type f -name '*.db' -print0)
}

run_site "$old" "$work/old"
run_site "$new" "$work/new"

differ=0
while IFS= read -r -d '' file; do
    rel=${file#"$work/old/"}
    if [ ! -e "$work/new/$rel" ]; then
        echo "only in old: $rel"
        differ=1
    elif ! cmp -s "$file" "$work/new/$rel"; then
        echo "differs: $rel"
        differ=1
        case $rel in
        *.txt | *.ini | *.csv | *.dump | *.comment) diff "$file" "$work/new/$rel" | head -20 || true ;;
        esac
    fi
done < <(find "$work/old" -type f -print0 | sort -z)
while IFS= read -r -d '' file; do
    rel=${file#"$work/new/"}
    [ -e "$work/old/$rel" ] || { echo "only in new: $rel"; differ=1; }
done < <(find "$work/new" -type f -print0 | sort -z)

files=$(find "$work/old" -type f | wc -l)
if [ $differ -eq 0 ]; then
    echo "== the same: $files files, byte for byte (printed output included)"
else
    echo "== the builds differ (above)"
fi
exit $differ
