#include "import/importjob.h"

#include "core/appinfo.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "import/packagemerge.h"
#include "package/archiver.h"
#include "package/packageinfo.h"
#include "package/packagetables.h"
#include "package/workfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <optional>

namespace {

const QString kTitle = QStringLiteral("Импорт анкет и внутренних справочников");
const QString kCheckTitle = QStringLiteral("Проверка пакета рабочей станции");
const QString kCheckDone = QStringLiteral("Проверка пакета завершена; база данных не изменена");
const QString kUnpacking = QStringLiteral("Извлечение из архива...");
const QString kUnpackFailed = QStringLiteral("Ошибка при извлечении из архива");
const QString kDeleting = QStringLiteral("Удаление репликации: ");
const QString kKept = QStringLiteral("Пакет оставлен для повторного импорта пропущенных записей: ");
const QString JournalFailure = QStringLiteral("Журнал импорта не записан: ");

// The archiver's complaint without its program prefix.
QString archiverReason(const QString &errorOutput)
{
    QString reason = errorOutput.trimmed();
    static const QRegularExpression prefix(QStringLiteral("^zoru-arc:\\s*"));
    reason.remove(prefix);
    return reason;
}

} // namespace

QString ProblemRowName(const TImportProblem &problem)
{
    return problem.Table + QStringLiteral(" (") + RowKeyText(problem) + QLatin1Char(')');
}

QString KeepGoingQuestion(const TImportProblem &refused)
{
    return QStringLiteral("Импорт остановлен на записи ") + ProblemRowName(refused) +
           QStringLiteral(":\n") + refused.Message +
           QStringLiteral("\n\nПродолжить импорт, пропуская отвергнутые записи?");
}

QString RepeatQuestion(const QDateTime &imported)
{
    return QStringLiteral("Пакет уже импортирован ") +
           imported.toString(QStringLiteral("dd.MM.yyyy hh:mm")) +
           QStringLiteral(". Импортировать повторно?");
}

QString RepeatRefusal(const QDateTime &imported)
{
    return QStringLiteral("Пакет уже импортирован ") +
           imported.toString(QStringLiteral("dd.MM.yyyy hh:mm")) +
           QStringLiteral("; повторный импорт не выполнен");
}

QString ImportWorkFolder(const QString &importPath, const QString &packagePath)
{
    QString name = QFileInfo(packagePath).fileName().left(36);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    return paths::includeTrailing(importPath) + name;
}

QString ImportRunFolder(const QString &importPath, const QString &packagePath)
{
    return ImportWorkFolder(importPath, packagePath) +
           QStringLiteral(".run%1").arg(QCoreApplication::applicationPid());
}

QStringList RemoveLeftRunFolders(const QString &importPath)
{
    static const QRegularExpression runFolder(QStringLiteral("\\.run[0-9]+$"));
    QStringList removed;
    const QDir dir(importPath);
    for (const QFileInfo &fi : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        if (!fi.isSymLink() && runFolder.match(fi.fileName()).hasMatch() &&
            QDir(fi.filePath()).removeRecursively())
            removed << fi.filePath();
    return removed;
}

QString LockWaitQuestion(const TImportLockHolder &holder)
{
    return holder.Text() +
           (holder.Package.isEmpty() ? QString()
                                     : QStringLiteral(" (пакет %1)").arg(holder.Package)) +
           QStringLiteral(".\n\nДождаться окончания этого импорта? Ожидание можно прервать "
                          "кнопкой «Отмена».");
}

QString PassedOverMessage(const QString &package)
{
    return QStringLiteral("Пакет импортирован другой работой, пока шло ожидание; пропущен: ") +
           package;
}

TImWorkstationToServer::TImWorkstationToServer(const TJobContext &context, const TAppInfo &info,
                                               const TDatabase &center, QString packagePath)
    : TSrvRplThread(context, info, center), m_packagePath(std::move(packagePath))
{
}

TImWorkstationToServer::~TImWorkstationToServer() = default;

const QString &TImWorkstationToServer::LockedMessage()
{
    return TImportLock::LockedMessage();
}

void TImWorkstationToServer::PrepareWindow()
{
    Window().SetCaption(m_dryRun ? kCheckTitle : kTitle);
    Window().ClearMessages();
}

void TImWorkstationToServer::Execute()
{
    RunGuarded(m_dryRun ? kCheckTitle : kTitle, [this] { return importPackage(); });
}

QString TImWorkstationToServer::importPackage()
{
    QString package = m_packagePath;
    if (package.isEmpty() && m_choose)
        Synchronize([&] { package = m_choose(); });
    if (package.isEmpty())
        throw ERplException(StrConst::Interrupted);

    m_counts.clear();
    m_package = TImportPackageInfo{};
    m_refusedRepeat = false;
    m_lockedOut = false;
    m_passedOver = false;
    m_problems = TImportProblems{};
    // Nothing is read, journaled or unpacked before the lock is held: another run may be
    // importing this very package.
    const bool existed = QFileInfo::exists(package);
    struct GiveBack
    {
        std::unique_ptr<TImportLock> &lock;
        ~GiveBack() { lock.reset(); }
    } giveBack{m_lock};
    if (!m_lockHeldByCaller)
        m_lock = takeLock(package);
    for (const QString &left : RemoveLeftRunFolders(Info().ImportPath))
        Log(QStringLiteral("Удалена папка прерванного импорта: ") + left);
    if (existed && !QFileInfo::exists(package)) {
        // Not a failure: the package is in. Said in one line, and refused as repeated.
        m_refusedRepeat = true;
        m_passedOver = true;
        return PassedOverMessage(package);
    }
    // The files of the package, read once: they are checked, described and deleted alike.
    const QStringList volumes = VolumeSet(package);
    const auto completion = [this]() -> QString {
        if (skippedRows() == 0)
            return StrConst::ImportDone;
        return StrConst::ImportDone +
               QStringLiteral(" с пропусками (пропущено записей: %1)").arg(skippedRows());
    };
    if (m_dryRun) {
        mergePackage(package, volumes);
        logDryRunReport();
        return kCheckDone;
    }
    if (!m_journal) {
        mergePackage(package, volumes);
        return completion();
    }
    // The journal records the run on a connection of its own, so that neither a failure nor a
    // rollback of the merge takes the record with it.
    m_package = ReadPackageInfo(Info().AppFolder(), package, volumes);
    TImportJournal journal(Center());
    if (const std::optional<QDateTime> imported = journal.LastSuccess(m_package.Sha256)) {
        const auto ask = [&] {
            bool again = false;
            if (m_askRepeat)
                Synchronize([&] { again = m_askRepeat(*imported); });
            return again;
        };
        const bool again = m_repeatPolicy == TRepeatPolicy::Force ||
                           (m_repeatPolicy == TRepeatPolicy::Ask && ask());
        if (!again) {
            m_refusedRepeat = true;
            throw ERplException(RepeatRefusal(*imported));
        }
    }
    TJournaledRun run(journal, m_package);
    // A journal that cannot be written costs the run only its record.
    const auto finish = [&](const QString &result, const QString &error) {
        try {
            run.Finish(resultOf(result, error));
        } catch (const Exception &journalError) {
            // A server gone takes the journal's connection too; the run's error says so.
            if (!Center().ConnectionLost() && !IsConnectionLost(journalError.Message()))
                Log(JournalFailure + journalError.Message());
        }
    };
    try {
        mergePackage(package, volumes);
    } catch (const std::exception &e) {
        const QString error = ErrorMessage(e);
        finish(EndOf(error) == TJobOutcome::Cancelled ? ImportResultCancelled : ImportResultFailed,
               error);
        throw;
    }
    finish(skippedRows() > 0 ? ImportResultSkipped : ImportResultSucceeded, QString());
    return completion();
}

std::unique_ptr<TImportLock> TImWorkstationToServer::takeLock(const QString &package)
{
    TImportLockHolder me = TImportLockHolder::ThisProcess(m_program);
    me.Package = QFileInfo(package).fileName();
    QElapsedTimer waited;
    for (;;) {
        if (std::unique_ptr<TImportLock> lock = TImportLock::TryTake(Center(), me))
            return lock;
        const std::optional<TImportLockHolder> holder = TImportLock::Holder(Center());
        if (!holder)
            continue; // given back meanwhile
        if (m_lockWait == TLockWait::Leave) {
            m_lockedOut = true;
            throw ERplException(holder->Text());
        }
        if (!waited.isValid()) {
            bool wait = true;
            if (m_askLockWait)
                Synchronize([&] { wait = m_askLockWait(*holder); });
            if (!wait) {
                m_lockedOut = true;
                throw ERplException(StrConst::Interrupted);
            }
            Log(QStringLiteral("Ожидание: ") + holder->Text());
            waited.start();
        }
        if (waited.elapsed() >= qint64(Center().BusyWait().Seconds) * 1000) {
            m_lockedOut = true;
            throw ERplException(holder->Text());
        }
        if (Terminated())
            m_lockedOut = true;
        CheckTerminated();
        QThread::msleep(200);
    }
}

void TImWorkstationToServer::mergePackage(const QString &package, const QStringList &volumes)
{
    const QString work = ImportRunFolder(Info().ImportPath, package);
    if (QFileInfo(work).isDir())
        throw ERplException(StrConst::FolderExists + StrConst::LineBreak + work);
    {
        const TWorkFolder folder(TWorkFolder::Named{}, work);

        Position = 0;
        UpdateGauge();
        CheckTerminated();
        Log(kUnpacking);
        QString errorOutput;
        if (RunArchiver(UnpackCall(Info().AppFolder(), work, package), &errorOutput) != 0) {
            const QString reason = archiverReason(errorOutput);
            throw ERplException(kUnpackFailed +
                                (reason.isEmpty() ? QString() : StrConst::LineBreak + reason));
        }
        Log(QString());
        Position = 20;
        UpdateGauge();
        CheckTerminated();

        ImportFolder(work);
    }

    if (m_dryRun || skippedRows() > 0) {
        // The package stays: a dry run changed nothing, and the rows an import skipped come in
        // when it is imported again after their cause is mended.
        if (!m_dryRun)
            Log(kKept + package);
        Total = 0;
        UpdateGauge();
        return;
    }
    Log(kDeleting + package);
    for (qsizetype i = 0; i < volumes.size(); ++i) {
        // A further volume that is a link is no file of the package: the set ends before it.
        if ((i > 0 && QFileInfo(volumes[i]).isSymLink()) || !QFile::remove(volumes[i]))
            break;
    }
    Total = 0;
    UpdateGauge();
}

TImportResult TImWorkstationToServer::resultOf(const QString &result, const QString &error) const
{
    TImportResult r;
    r.Result = result;
    r.Error = error;
    r.Package = m_package;
    r.Tables = m_counts;
    r.Refused = m_problems.Rows();
    r.DryRun = m_dryRun;
    r.Repeated = m_refusedRepeat;
    r.PassedOver = m_passedOver;
    r.LockedOut = m_lockedOut;
    return r;
}

TImportResult TImWorkstationToServer::Result() const
{
    switch (Outcome().End) {
    case TJobOutcome::Completed:
        return resultOf(skippedRows() > 0 ? ImportResultSkipped : ImportResultSucceeded, {});
    case TJobOutcome::Failed:
        return resultOf(ImportResultFailed, Outcome().Error);
    case TJobOutcome::Cancelled:
        return resultOf(ImportResultCancelled, Outcome().Error);
    case TJobOutcome::NotRun:
        break;
    }
    return resultOf(QString(), QString());
}

void TImWorkstationToServer::ImportFolder(const QString &folder)
{
    // Called by itself (a tool, a test), the merge takes the lock for its own time.
    std::unique_ptr<TImportLock> lock;
    if (!m_lockHeldByCaller && !m_lock) {
        lock = TImportLock::TryTake(Center(), TImportLockHolder::ThisProcess(m_program));
        if (!lock)
            throw ERplException(TImportLock::HolderText(Center()));
    }
    TSIEDM dm(&Center(), nullptr);
    TPackageMerge merge(Center(), dm, Report(), m_windowRows, m_dryRun, m_problems);
    merge.SetKeepGoing(m_keepGoing);
    merge.SetKeepGoingQuestion(m_askKeepGoing);
    struct KeepCounts
    {
        TImWorkstationToServer &job;
        TPackageMerge &merge;
        // Also after a failure: the steps up to it.
        ~KeepCounts() { job.m_counts = merge.Counts(); }
    } keepCounts{*this, merge};
    merge.Run(folder);
}

void TImWorkstationToServer::logDryRunReport()
{
    Log(StrConst::Separator);
    Log(QStringLiteral("Таблица: новых записей / изменённых / без изменений / новых "
                       "сопоставлений / регистраций"));
    for (const TImportTableCounts &c : std::as_const(m_counts))
        Log(QStringLiteral("%1: %2 / %3 / %4 / %5 / %6")
                .arg(c.Table)
                .arg(c.NewRows)
                .arg(c.EditedRows)
                .arg(c.UnchangedRows)
                .arg(c.NewMappings)
                .arg(c.Registrations));
    const QList<TImportProblem> &problems = m_problems.Rows();
    Log(QStringLiteral("Ошибок: %1").arg(problems.size()));
    for (qsizetype i = 0; i < problems.size() && i < MaxProblems; ++i) {
        const TImportProblem &p = problems[i];
        Log(QStringLiteral("%1, запись %2: %3")
                .arg(p.Table, p.LocalId.isValid() ? p.LocalId.toString() : QStringLiteral("?"),
                     p.Message));
    }
    if (problems.size() > MaxProblems)
        Log(QStringLiteral("... и ещё %1").arg(problems.size() - MaxProblems));
    if (problems.isEmpty())
        return;
    // What each way of importing will do with these rows.
    const TImportProblem &first = problems.first();
    QStringList after;
    bool past = false;
    for (const TImportTableCounts &c : std::as_const(m_counts)) {
        if (past)
            after << c.Table;
        past = past || c.Table == first.Table;
    }
    Log(QStringLiteral("Импорт остановится на записи %1; из таблицы %2 войдёт записей: %3")
            .arg(ProblemRowName(first), first.Table)
            .arg(m_problems.RowsBeforeFirst()) +
        (after.isEmpty()
             ? QString()
             : QStringLiteral("; ничего не получат таблицы: ") + after.join(QStringLiteral(", "))));
    Log(QStringLiteral("Импорт с пропуском отвергнутых записей (--keep-going) пропустит записей: "
                       "%1, остальное войдёт, как показано в таблице")
            .arg(problems.size()));
}
