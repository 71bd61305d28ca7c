#!/usr/bin/env bash
# The README's run command: installs the packages, builds the program (Release), makes a demo
# installation in build/bin/ when there is none yet, and starts the program on it.
#   bash scripts/run.sh
# Needs a display; on a machine without one: xvfb-run -a bash scripts/run.sh
# Idempotent: an existing build is brought up to date, an existing installation is kept.
# Environment: ZORU_DEMO_SCALE (default 1) and ZORU_DEMO_SEED (default 1) for a new installation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
bin="$build/bin"

# Without a display the program could only fail after a long build; say so at once. A platform
# chosen explicitly (QT_QPA_PLATFORM, e.g. offscreen or vnc) is taken as the caller's decision.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Нет дисплея (переменные DISPLAY и WAYLAND_DISPLAY пусты): программе негде показать окно." >&2
    echo "На машине без дисплея запустите так:  xvfb-run -a bash scripts/run.sh" >&2
    exit 2
fi

"$root/scripts/deps.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORU_BUILD_TESTS=OFF \
    -DZORU_SANITIZE=OFF -DZORU_FUZZ=OFF
cmake --build "$build" -j"$(nproc)" --target zoru-admin zoru-arc zoru-demo

if grep -q '^AIS_RODE_SRV_DB=.' "$bin/zoru-admin.ini" 2>/dev/null; then
    echo "Демонстрационная установка уже есть в $bin, она сохраняется."
else
    status=0
    "$bin/zoru-demo" --folder "$bin" --scale "${ZORU_DEMO_SCALE:-1}" --seed "${ZORU_DEMO_SEED:-1}" \
        || status=$?
    if [ $status -eq 3 ]; then
        echo "Остатки прежней установки в $bin сохранены (для пересоздания: $bin/zoru-demo --folder $bin --force)."
    elif [ $status -ne 0 ]; then
        exit $status
    fi
fi

echo "Запуск программы: в окне входа имя пользователя уже указано, пароль не нужен — нажмите OK."
exec "$bin/zoru-admin"
