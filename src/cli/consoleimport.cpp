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

// What one package's run did, and the status of the terminal's run of the job (128 + signal
// when a signal stopped it).
struct Ended
{
    TImportResult result;
    int status = 1;
};

const QString kProgram = QStringLiteral("командная строка");

// batch: the caller holds the import lock; otherwise the job waits for it up to the limit.
Ended importOne(const TAppInfo &info, const TDatabase &center, const QString &package,
                const TConsoleImportOptions &options, bool batch)
{
    Ended e;
    e.status = RunConsoleJob(
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
        [&e](TRplThread &job) { e.result = static_cast<TImWorkstationToServer &>(job).Result(); });
    return e;
}

const QString kForceHint = QStringLiteral("Для повторного импорта укажите --force.");
const QString kSkipped = QStringLiteral("пропущен");

} // namespace

int ImportExitStatus(const TImportResult &result, int runStatus)
{
    if (runStatus > 128)
        return runStatus;
    if (result.LockedOut)
        return ExitImportBusy;
    if (result.Repeated)
        return ExitAlreadyImported;
    if (result.Result == ImportResultSucceeded)
        return result.DryRun && !result.Refused.isEmpty() ? 1 : 0;
    if (result.Result == ImportResultSkipped)
        return ExitImportedWithSkips;
    return 1;
}

TImportBatchEntry ImportBatchEntry(const QString &package, const TImportResult &result,
                                   double seconds)
{
    TImportBatchEntry entry;
    entry.Package = package;
    entry.WstGID = result.Package.WstGID;
    entry.Result = result.Repeated           ? kSkipped
                   : result.Result.isEmpty() ? ImportResultFailed
                                             : result.Result;
    entry.Rows = result.RowsWritten();
    entry.Seconds = seconds;
    entry.Error = result.Error;
    return entry;
}

int RunConsoleImport(const TAppInfo &info, const TDatabase &center, const QString &package,
                     const TConsoleImportOptions &options)
{
    const Ended e = importOne(info, center, package, options, false);
    const int status = ImportExitStatus(e.result, e.status);
    if (status == ExitAlreadyImported && !e.result.PassedOver)
        ConsoleErr() << kForceHint << Qt::endl;
    return status;
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
        const TImportBatchEntry entry = ImportBatchEntry(QFileInfo(package).fileName(), e.result,
                                                         double(timer.elapsed()) / 1000.0);
        const int status = ImportExitStatus(e.result, e.status);
        skipped = skipped || status == ExitAlreadyImported;
        rowsSkipped = rowsSkipped || status == ExitImportedWithSkips;
        failed = failed || (status != 0 && status != ExitImportedWithSkips);
        entries << entry;
        if (e.status > 128) {
            stopped = e.status;
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
