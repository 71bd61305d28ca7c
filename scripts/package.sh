#!/usr/bin/env bash
# Builds the Debian package (Release, only what it installs), installs it on this machine with
# apt-get, runs the installed programs on a demo site through the scheduled import's command,
# then removes the package and shows that the site's data stay. Needs root (apt-get).
#   scripts/package.sh
# Environment: ZORU_PACKAGE_BUILD_DIR (default build-package/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZORU_PACKAGE_BUILD_DIR:-$root/build-package}
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
started=$(date +%s)

"$root/scripts/deps.sh"
# The benchmarks are built too (scripts/bench-smoke.sh runs them from this build); the package
# holds only what packaging/ installs.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORU_BUILD_TESTS=OFF \
    -DZORU_BUILD_BENCH=ON -DZORU_SANITIZE=OFF -DZORU_FUZZ=OFF >/dev/null
rm -f "$build"/zoru-admin_*.deb
cmake --build "$build" -j"$(nproc)" --target package
cd "$build"
deb=$(ls zoru-admin_*.deb)
echo "== $deb"
dpkg-deb -c "$deb"
echo "== Depends: $(dpkg-deb -f "$deb" Depends)"
echo "== Suggests: $(dpkg-deb -f "$deb" Suggests)"

site=$(mktemp -d /tmp/zoru-package-site.XXXXXX)
removed=no
cleanup() {
    if [ $removed = no ]; then $SUDO apt-get remove -y -q zoru-admin >/dev/null 2>&1 || true; fi
    rm -rf "$site"
}
trap cleanup EXIT

$SUDO apt-get install -y -q "./$deb"
echo "== installed: $(command -v zoru-admin)"
zoru-admin --version
zoru-demo --folder "$site/Узел" --scale 0.05 >/dev/null
zoru-demo --folder "$site/Узел" --package 20 --seed 2
zoru-demo --folder "$site/Узел" --package 30 --seed 3
# The scheduled import's command, as zoru-import@.service runs it: no terminal, no display.
env -u DISPLAY -u WAYLAND_DISPLAY zoru-admin --site "$site/Узел" --import-all </dev/null
status=0
zoru-admin --site "$site/Узел" --status </dev/null || status=$?
if [ $status -ne 0 ] && [ $status -ne 6 ]; then
    echo "zoru-admin --status failed ($status)" >&2
    exit 1
fi
if ls "$site/Узел/import/"*.w2s >/dev/null 2>&1; then
    echo "packages were left in the import folder" >&2
    exit 1
fi

$SUDO apt-get remove -y -q zoru-admin
removed=yes
if dpkg-query -W -f='${Status}' zoru-admin 2>/dev/null | grep -q "install ok installed" ||
    [ -e /usr/bin/zoru-admin ]; then
    echo "zoru-admin is still installed" >&2
    exit 1
fi
echo "== the site after the package was removed:"
ls -l "$site/Узел" "$site/Узел/data"
test -s "$site/Узел/data/central.db"
test -s "$site/Узел/zoru-admin.ini"
grep -q "Пакетов: 2, успешно: 2" <(iconv -f cp1251 -t utf-8 "$site/Узел/log.txt")
echo "== packaging step: $(( $(date +%s) - started )) s"
