#include "app/consoleimport.h"

#include "app/console.h"
#include "core/appinfo.h"
#include "core/errors.h"
#include "import/importbatch.h"
#include "import/importjob.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>

namespace {

const QStringList kDictionarySteps = {QStringLiteral("City"), QStringLiteral("Street"),
                                      QStringLiteral("Post"), QStringLiteral("RegistrationArea")};

// What the import did, as the job tells it once it has ended.
struct Ended
{
    int code = 1;
    bool refused = false;
    QList<TImportTableCounts> counts;
    int problems = 0;
    int skippedRows = 0;
    TImportPackageInfo package;
};

Ended importOne(const TAppInfo &info, const TDatabase &center, const QString &package,
                const TConsoleImportOptions &options)
{
    Ended e;
    e.code = RunConsoleJob(
        [&](const TJobContext &context) {
            auto job = std::make_unique<TImWorkstationToServer>(context, info, center, package);
            job->SetRepeatPolicy(options.Force ? TImWorkstationToServer::TRepeatPolicy::Force
                                               : TImWorkstationToServer::TRepeatPolicy::Refuse);
            job->SetDryRun(options.DryRun);
            job->SetKeepGoing(options.KeepGoing);
            return job;
        },
        [&e](TRplThread &job) {
            const auto &j = static_cast<const TImWorkstationToServer &>(job);
            e.refused = j.RefusedAsRepeated();
            e.counts = j.Counts();
            e.package = j.Package();
            e.problems = j.ProblemCount();
            e.skippedRows = j.SkippedRows();
        });
    return e;
}

const QString kForceHint = QStringLiteral("Для повторного импорта укажите --force.");
const QString kSkipped = QStringLiteral("пропущен");

} // namespace

int RunConsoleImport(const TAppInfo &info, const TDatabase &center, const QString &package,
                     const TConsoleImportOptions &options)
{
    const Ended e = importOne(info, center, package, options);
    if (options.DryRun)
        return e.code == 0 && e.problems > 0 ? 1 : e.code;
    if (e.refused) {
        ConsoleErr() << kForceHint << Qt::endl;
        return ExitAlreadyImported;
    }
    return e.code == 0 && e.skippedRows > 0 ? ExitImportedWithSkips : e.code;
}

int RunConsoleImportAll(const TAppInfo &info, const TDatabase &center,
                        const TConsoleImportOptions &options)
{
    const QStringList packages = ImportBatchPackages(info.ImportPath);
    if (packages.isEmpty()) {
        ConsoleOut() << QStringLiteral("В папке импорта нет пакетов: ") << info.ImportPath
                     << Qt::endl;
        return 0;
    }
    QList<TImportBatchEntry> entries;
    int stopped = 0;
    bool skipped = false;
    bool failed = false;
    bool rowsSkipped = false;
    for (const QString &package : packages) {
        QElapsedTimer timer;
        timer.start();
        const Ended e = importOne(info, center, package, {options.Force, false, options.KeepGoing});
        TImportBatchEntry entry;
        entry.Package = QFileInfo(package).fileName();
        entry.WstGID = e.package.WstGID;
        entry.Seconds = double(timer.elapsed()) / 1000.0;
        for (const TImportTableCounts &c : e.counts)
            entry.Rows +=
                kDictionarySteps.contains(c.Table) ? c.NewMappings : c.NewRows + c.EditedRows;
        entry.Result = e.code == 0 && e.skippedRows > 0 ? ImportResultSkipped
                       : e.code == 0                    ? ImportResultSucceeded
                       : e.refused                      ? kSkipped
                       : e.code > 128                   ? ImportResultCancelled
                                                        : ImportResultFailed;
        skipped = skipped || entry.Result == kSkipped;
        rowsSkipped = rowsSkipped || entry.Result == ImportResultSkipped;
        failed = failed ||
                 (entry.Result != ImportResultSucceeded && entry.Result != ImportResultSkipped);
        entries << entry;
        if (e.code > 128) {
            stopped = e.code;
            break; // stopped by a signal: the rest waits for the next batch
        }
    }

    const QStringList summary = ImportBatchSummary(entries);
    for (const QString &line : summary)
        ConsoleOut() << line << Qt::endl;
    try {
        AppendToLogFile(info.SiteFolder(), summary);
    } catch (const Exception &e) {
        ConsoleErr() << e.Message() << Qt::endl;
    }
    if (skipped)
        ConsoleErr() << kForceHint << Qt::endl;
    if (stopped)
        return stopped;
    return failed ? 1 : rowsSkipped ? ExitImportedWithSkips : 0;
}
