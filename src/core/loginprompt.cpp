#include "core/loginprompt.h"

#include <QMutex>

namespace loginprompt {

namespace {
QMutex mutex;
Handler &slot()
{
    static Handler handler;
    return handler;
}
} // namespace

void Install(Handler handler)
{
    QMutexLocker lock(&mutex);
    slot() = std::move(handler);
}

Handler Current()
{
    QMutexLocker lock(&mutex);
    return slot();
}

} // namespace loginprompt
