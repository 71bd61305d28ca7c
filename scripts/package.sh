#!/usr/bin/env bash
# Builds the two Debian packages (Release, only what they install), installs the command line's
# (zoru-admin-cli) alone with apt-get, runs it on a demo site through the scheduled import's
# command and --status, removes it and shows that the site's data stay; then the same with both
# packages (zoru-admin on zoru-admin-cli). Needs root (apt-get).
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
rm -f "$build"/zoru-admin_*.deb "$build"/zoru-admin-cli_*.deb
cmake --build "$build" -j"$(nproc)" --target package
cd "$build"
cli_deb=$(ls zoru-admin-cli_*.deb)
desktop_deb=$(ls zoru-admin_*.deb)
for deb in "$cli_deb" "$desktop_deb"; do
    echo "== $deb"
    dpkg-deb -c "$deb"
    echo "== Depends: $(dpkg-deb -f "$deb" Depends)"
done
# The command line's package pulls no GUI library of Qt and no platform plug-in.
if dpkg-deb -f "$cli_deb" Depends | grep -qE 'libqt6(gui|widgets|charts)|qt6-qpa-plugins'; then
    echo "$cli_deb depends on Qt's GUI" >&2
    exit 1
fi
dpkg-deb -f "$desktop_deb" Depends | grep -q 'zoru-admin-cli' ||
    { echo "$desktop_deb does not depend on zoru-admin-cli" >&2; exit 1; }

site=$(mktemp -d /tmp/zoru-package-site.XXXXXX)
removed=no
cleanup() {
    if [ $removed = no ]; then
        $SUDO apt-get remove -y -q zoru-admin zoru-admin-cli >/dev/null 2>&1 || true
    fi
    rm -rf "$site"
}
trap cleanup EXIT

# A demo site taken through the scheduled import's command and --status by the installed
# programs, then the packages removed: the site's data stay.
#   check_site <site> <program of the command line>
check_site() {
    local site=$1 program=$2 status=0
    "$program" --version
    zoru-demo --folder "$site" --scale 0.05 >/dev/null
    zoru-demo --folder "$site" --package 20 --seed 2
    zoru-demo --folder "$site" --package 30 --seed 3
    # The scheduled import's command, as zoru-import@.service runs it: no terminal, no display.
    env -u DISPLAY -u WAYLAND_DISPLAY "$program" --site "$site" --import-all </dev/null
    env -u DISPLAY -u WAYLAND_DISPLAY "$program" --site "$site" --status </dev/null || status=$?
    if [ $status -ne 0 ] && [ $status -ne 6 ]; then
        echo "$program --status failed ($status)" >&2
        exit 1
    fi
    if ls "$site/import/"*.w2s >/dev/null 2>&1; then
        echo "packages were left in the import folder" >&2
        exit 1
    fi
}
# remove_packages <package>...: removed, and their programs gone; the site stays.
remove_packages() {
    $SUDO apt-get remove -y -q "$@"
    for package in "$@"; do
        if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            echo "$package is still installed" >&2
            exit 1
        fi
    done
    if [ -e /usr/bin/zoru ] || [ -e /usr/bin/zoru-admin ]; then
        echo "a program is still installed" >&2
        exit 1
    fi
}
# check_kept <site>: what the import wrote outlives the packages.
check_kept() {
    echo "== the site after the packages were removed:"
    ls -l "$1" "$1/data"
    test -s "$1/data/central.db"
    test -s "$1/zoru-admin.ini"
    grep -q "Пакетов: 2, успешно: 2" <(iconv -f cp1251 -t utf-8 "$1/log.txt")
}

# The command line alone, as a server without a display takes it.
$SUDO apt-get install -y -q "./$cli_deb"
echo "== installed: $(command -v zoru)"
check_site "$site/Сервер" zoru
remove_packages zoru-admin-cli
check_kept "$site/Сервер"

# Both: the desktop program brings the command line with it.
$SUDO apt-get install -y -q "./$cli_deb" "./$desktop_deb"
echo "== installed: $(command -v zoru-admin) $(command -v zoru)"
check_site "$site/Узел" zoru-admin
zoru --site "$site/Узел" --status </dev/null >/dev/null || [ $? -eq 6 ]
remove_packages zoru-admin zoru-admin-cli
removed=yes
check_kept "$site/Узел"
echo "== packaging step: $(( $(date +%s) - started )) s"
