#!/usr/bin/env bash
# Builds the command line and the tools without the desktop (-DZORU_GUI=OFF, Release, only those
# targets, in build-headless/) and fails when the command-line program loads a GUI library of Qt:
# a server without a display installs it without them.
#   scripts/headless.sh
# Environment: ZORU_HEADLESS_BUILD_DIR (default build-headless/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZORU_HEADLESS_BUILD_DIR:-$root/build-headless}
started=$(date +%s)
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORU_GUI=OFF \
    -DZORU_BUILD_TESTS=OFF -DZORU_BUILD_BENCH=OFF -DZORU_SANITIZE=OFF -DZORU_FUZZ=OFF \
    "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target zoru zoru-arc zoru-createdb zoru-demo
status=0
for program in zoru zoru-arc zoru-createdb zoru-demo; do
    libs=$(ldd "$build/bin/$program")
    if grep -E 'libQt6(Widgets|Gui|Charts|OpenGL)' <<<"$libs"; then
        echo "$program loads Qt's GUI" >&2
        status=1
    fi
done
echo "== zoru:"
ldd "$build/bin/zoru"
"$build/bin/zoru" --version
echo "== headless step: $(( $(date +%s) - started )) s"
exit $status
