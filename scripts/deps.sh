#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need (idempotent).
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config git
    sqlite3 # the stress run compares row counts
    faketime # scripts/demo-compare.sh stops the clock
    qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libgl-dev
    qt6-translations-l10n # Qt's own texts in Russian: standard dialogs, the command line parser
    qt6-charts-dev libqt6opengl6-dev # Qt Charts; its CMake package needs Qt OpenGL's
    libsqlite3-dev libarchive-dev libpq-dev
    postgresql
    pxlib-dev
    clang libclang-rt-14-dev llvm-14 # llvm-14: llvm-symbolizer, so that sanitizer stacks show names
    xvfb xauth
    tzdata
    systemd desktop-file-utils man-db # the package's units, desktop entry and manual pages checked
    # CPack's DEB generator: file and dpkg-shlibdeps (dpkg-dev) find what the programs link,
    # readelf, objcopy and strip (binutils) strip them; build-essential brings the last two
    # today, but only by way of its own dependencies.
    file dpkg-dev binutils
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
