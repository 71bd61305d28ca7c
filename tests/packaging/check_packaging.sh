#!/usr/bin/env bash
# check_packaging.sh <configured units> <packaging sources> <configured manual pages>
# Fails on any complaint of systemd-analyze verify, desktop-file-validate or man --warnings.
set -euo pipefail
units=$1 sources=$2 man=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
status=0
complain() { echo "$1" >&2; status=1; }

# The units as systemd would load them for a site /srv/zoru, in a root of their own: the
# program they start is a stand-in there, the targets they need are the machine's.
mkdir -p "$root/lib/systemd/system" "$root/usr/bin"
cp "$units"/zoru-import@.service "$units"/zoru-import@.timer "$root/lib/systemd/system/"
cp /lib/systemd/system/*.target "$root/lib/systemd/system/"
printf '#!/bin/sh\n' > "$root/usr/bin/zoru"
chmod 755 "$root/usr/bin/zoru"
instance=$(systemd-escape --path /srv/zoru)
out=$(systemd-analyze verify --man=no --root="$root" "zoru-import@$instance.service" \
          "zoru-import@$instance.timer" 2>&1) || complain "systemd-analyze verify failed"
[ -z "$out" ] || complain "systemd-analyze verify: $out"
grep -q '^ExecStart=/usr/bin/zoru --site %f --import-all$' \
    "$units/zoru-import@.service" || complain "the service does not run --import-all on its site"
grep -q '^OnCalendar=\*:0/15$' "$units/zoru-import@.timer" || complain "the timer is not every 15 minutes"
grep -q '^Persistent=true$' "$units/zoru-import@.timer" || complain "the timer is not persistent"

out=$(desktop-file-validate "$sources/zoru-admin.desktop" 2>&1) || complain "desktop-file-validate failed"
[ -z "$out" ] || complain "desktop-file-validate: $out"

for page in "$man"/zoru-admin.1 "$man"/zoru-arc.1; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) ||
        complain "man $page failed"
    [ -z "$out" ] || complain "man $page: $out"
done
exit $status
