#include "import/importbatch.h"

#include "core/errors.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "import/importjournal.h"
#include "jobs/jobreport.h"
#include "package/packageinfo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

QStringList ImportBatchPackages(const QString &folder)
{
    const QDir dir(folder);
    QFileInfoList found;
    for (const QFileInfo &fi : dir.entryInfoList(QDir::Files | QDir::NoSymLinks)) {
        if (fi.suffix().compare(QLatin1String("w2s"), Qt::CaseInsensitive) != 0 ||
            fi.fileName().startsWith(QLatin1Char('.')) || IsFurtherVolume(fi.filePath()))
            continue;
        found << fi;
    }
    std::stable_sort(found.begin(), found.end(), [](const QFileInfo &a, const QFileInfo &b) {
        const QDateTime ta = a.lastModified();
        const QDateTime tb = b.lastModified();
        if (ta != tb)
            return ta < tb;
        return a.fileName() < b.fileName();
    });
    QStringList packages;
    for (const QFileInfo &fi : std::as_const(found))
        packages << QDir::toNativeSeparators(fi.filePath());
    return packages;
}

QStringList ImportBatchSummary(const QList<TImportBatchEntry> &entries)
{
    int nameWidth = 5;
    for (const TImportBatchEntry &e : entries)
        nameWidth = std::max(nameWidth, int(e.Package.size()));
    const auto line = [nameWidth](const QString &package, const QString &wst, const QString &result,
                                  const QString &rows, const QString &seconds) -> QString {
        return package.leftJustified(nameWidth) + QStringLiteral("  ") + wst.rightJustified(7) +
               QStringLiteral("  ") + result.leftJustified(11) + QStringLiteral("  ") +
               rows.rightJustified(9) + QStringLiteral("  ") + seconds.rightJustified(8);
    };
    QStringList lines{line(QStringLiteral("Пакет"), QStringLiteral("Станция"),
                           QStringLiteral("Результат"), QStringLiteral("Записей"),
                           QStringLiteral("Секунд"))};
    int succeeded = 0;
    int withSkips = 0;
    qint64 rows = 0;
    double seconds = 0;
    for (const TImportBatchEntry &e : entries) {
        const bool hasWst = e.WstGID.isValid() && !e.WstGID.isNull();
        lines << line(e.Package, hasWst ? e.WstGID.toString() : QStringLiteral("?"), e.Result,
                      QString::number(e.Rows), QString::number(e.Seconds, 'f', 1));
        if (e.Result == ImportResultSucceeded)
            ++succeeded;
        else if (e.Result == ImportResultSkipped)
            ++withSkips;
        rows += e.Rows;
        seconds += e.Seconds;
    }
    lines << QStringLiteral("Пакетов: %1, успешно: %2, с ошибкой: %3%4; записей: %5; секунд: %6")
                 .arg(entries.size())
                 .arg(succeeded)
                 .arg(entries.size() - succeeded - withSkips)
                 .arg(withSkips > 0 ? QStringLiteral(", с пропусками: %1").arg(withSkips)
                                    : QString())
                 .arg(rows)
                 .arg(QString::number(seconds, 'f', 1));
    return lines;
}

void AppendToLogFile(const QString &appFolder, const QStringList &lines)
{
    QFile file(paths::includeTrailing(appFolder) + StrConst::LogFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw EFileError(QStringLiteral("Невозможно открыть файл %1: %2")
                             .arg(file.fileName(), file.errorString()));
    for (const QString &message : lines)
        WriteLogLine(file, message);
}
