#!/usr/bin/env bash
# check_manual.sh <zoru or zoru-admin> <manual page>
# Fails when an option that the program's parser takes (as --help lists it), or an exit status
# that --help names, is missing from the manual page's parameters or exit statuses.
set -euo pipefail
program=$1 page=$2
help=$("$program" --help)
status=0
section() { awk -v s="$1" '/^\.SH /{on = ($0 == ".SH " s)} on' "$page"; }
params=$(section "ПАРАМЕТРЫ")
codes=$(section "КОД ВЫХОДА")
options=$(grep -oE '^ +(-[a-z], )?--[a-z-]+' <<<"$help" | grep -oE -- '--[a-z-]+$' | sort -u)
[ -n "$options" ] || { echo "no options found in --help" >&2; exit 1; }
for option in $options; do
    grep -qE "^\.B[IR]? .*${option//-/\\\\-}( |\$)" <<<"$params" ||
        { echo "the manual page lacks $option" >&2; status=1; }
done
for code in $(grep -oE 'Код выхода:.*' <<<"$help" | grep -oE '(^|; |: )[0-9N+]+ —' | grep -oE '[0-9N+]+'); do
    grep -qxF ".B $code" <<<"$codes" || { echo "the manual page lacks exit status $code" >&2; status=1; }
done
exit $status
