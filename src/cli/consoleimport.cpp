#include "cli/consoleimport.h"

#include "cli/terminal.h"
#include "core/appinfo.h"
#include "core/errors.h"
#include "engine/database.h"
#include "import/importbatch.h"
#include "import/importjob.h"
#include "schema/importlock.h"

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
    bool lockedOut = false;
    bool passedOver = false;
    TImportPackageInfo package;
};

const QString kProgram = QStringLiteral("командная строка");

// batch: the caller holds the import lock; otherwise the job waits for it up to the limit.
Ended importOne(const TAppInfo &info, const TDatabase &center, const QString &package,
                const TConsoleImportOptions &options, bool batch)
{
    Ended e;
    e.code = RunConsoleJob(
        [&](const TJobContext &context) {
            auto job = std::make_unique<TImWorkstationToServer>(context, info, center, package);
            job->SetRepeatPolicy(options.Force ? TImWorkstationToServer::TRepeatPolicy::Force
                                               : TImWorkstationToServer::TRepeatPolicy::Refuse);
            job->SetDryRun(options.DryRun);
            job->SetKeepGoing(options.KeepGoing);
            job->SetProgram(kProgram);
            job->SetLockHeldByCaller(batch);
            job->SetLockWait(TImWorkstationToServer::TLockWait::Wait);
            return job;
        },
        [&e](TRplThread &job) {
            const auto &j = static_cast<const TImWorkstationToServer &>(job);
            e.refused = j.RefusedAsRepeated();
            e.lockedOut = j.LockedOut();
            e.passedOver = j.PassedOver();
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
    const Ended e = importOne(info, center, package, options, false);
    if (e.lockedOut && e.code < 128)
        return ExitImportBusy;
    if (options.DryRun)
        return e.code == 0 && e.problems > 0 ? 1 : e.code;
    if (e.refused) {
        if (!e.passedOver)
            ConsoleErr() << kForceHint << Qt::endl;
        return ExitAlreadyImported;
    }
    return e.code == 0 && e.skippedRows > 0 ? ExitImportedWithSkips : e.code;
}

int RunConsoleImportAll(const TAppInfo &info, const TDatabase &center,
                        const TConsoleImportOptions &options)
{
    const auto nothing = [&] {
        ConsoleOut() << QStringLiteral("В папке импорта нет пакетов: ") << info.ImportPath
                     << Qt::endl;
        return 0;
    };
    if (ImportBatchPackages(info.ImportPath).isEmpty())
        return nothing();
    // One lock for the whole batch, on a connection of its own on this thread; another import
    // running means the next batch takes the packages.
    const std::unique_ptr<TDatabase> lockConnection = center.CloneForThread();
    lockConnection->Open();
    const std::unique_ptr<TImportLock> lock =
        TImportLock::TryTake(*lockConnection, TImportLockHolder::ThisProcess(kProgram));
    if (!lock) {
        const QString line = TImportLock::HolderText(*lockConnection) +
                             QStringLiteral("; пакеты оставлены до следующего запуска");
        ConsoleOut() << line << Qt::endl;
        try {
            AppendToLogFile(info.SiteFolder(), {line});
        } catch (const Exception &e) {
            ConsoleErr() << e.Message() << Qt::endl;
        }
        return ExitImportBusy;
    }
    // Listed again under the lock: a package imported meanwhile by another run is gone.
    const QStringList packages = ImportBatchPackages(info.ImportPath);
    if (packages.isEmpty())
        return nothing();
    QList<TImportBatchEntry> entries;
    int stopped = 0;
    bool skipped = false;
    bool failed = false;
    bool rowsSkipped = false;
    for (const QString &package : packages) {
        QElapsedTimer timer;
        timer.start();
        lock->SetPackage(QFileInfo(package).fileName());
        const Ended e =
            importOne(info, center, package, {options.Force, false, options.KeepGoing}, true);
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
