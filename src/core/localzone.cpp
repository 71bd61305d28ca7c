#include "core/localzone.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <QFileInfo>
#include <ctime>
#endif

void PinLocalTimeZone()
{
#ifdef Q_OS_UNIX
    if (qEnvironmentVariableIsSet("TZ") || !QFileInfo::exists(QStringLiteral("/etc/localtime")))
        return;
    // Qt reads ":/etc/localtime" as the system's own zone, as the C library does.
    qputenv("TZ", ":/etc/localtime");
    ::tzset();
#endif
}

QDateTime WallClockDateTime(QDate date, QTime time)
{
    QDateTime local(date, time);
    if (!local.isValid() && date.isValid() && time.isValid())
        return QDateTime(date, time, Qt::UTC);
    return local;
}
