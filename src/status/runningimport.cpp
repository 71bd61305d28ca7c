#include "status/runningimport.h"

#include "schema/importlock.h"

#include <QStringList>
#include <optional>

QString RunningImportLine(TDatabase &center)
{
    const std::optional<TImportLockHolder> holder = TImportLock::Holder(center);
    if (!holder)
        return {};
    if (!holder->Known())
        return QStringLiteral("Идёт импорт (кто его выполняет, не записано)");
    QStringList how;
    if (!holder->Program.isEmpty())
        how << holder->Program;
    if (holder->Process > 0)
        how << QStringLiteral("процесс %1").arg(holder->Process);
    QString line =
        QStringLiteral("Идёт импорт: выполняет %1 на %2").arg(holder->User, holder->Host);
    if (!how.isEmpty())
        line += QStringLiteral(" (") + how.join(QStringLiteral(", ")) + QLatin1Char(')');
    if (holder->Since.isValid())
        line += QStringLiteral(" с ") + holder->Since.toString(QStringLiteral("dd.MM.yyyy hh:mm"));
    if (!holder->Package.isEmpty())
        line += QStringLiteral(", пакет ") + holder->Package;
    return line;
}
