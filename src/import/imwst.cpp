#include "import/imwst.h"

#include "core/appinfo.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/databaselock.h"
#include "engine/transaction.h"
#include "import/packageinfo.h"
#include "replication/archive.h"
#include "replication/replicator.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <optional>

namespace {

const QString kTitle = QStringLiteral("Импорт анкет и внутренних справочников");
const QString kCheckTitle = QStringLiteral("Проверка пакета рабочей станции");
const QString kCheckDone = QStringLiteral("Проверка пакета завершена; база данных не изменена");
const QString kFilter = QStringLiteral("Копия внутренних справочников (*.w2s)");
const QString kUnpacking = QStringLiteral("Извлечение из архива...");
const QString kUnpackFailed = QStringLiteral("Ошибка при извлечении из архива");
const QString kDeleting = QStringLiteral("Удаление репликации: ");
const QString kTempAlias = QStringLiteral("AIS_RODE_SRV_IMPOR_TEMP");
const QString kLocked =
    QStringLiteral("Импорт уже выполняется с другого рабочего места или в другом окне. Дождитесь "
                   "его окончания и повторите импорт.");
const QString JournalFailure = QStringLiteral("Журнал импорта не записан: ");
// Key of the PostgreSQL advisory lock held while a package is merged ("ZORUIMPO").
constexpr qint64 kImportLockKey = 0x5A4F5255494D504FLL;

// The run's work folder, removed with everything in it (links removed, not followed) when the
// import leaves, whatever happened.
class WorkFolderGuard
{
public:
    explicit WorkFolderGuard(QString path) : m_path(std::move(path)) {}
    ~WorkFolderGuard() { QDir(m_path).removeRecursively(); }
    WorkFolderGuard(const WorkFolderGuard &) = delete;
    WorkFolderGuard &operator=(const WorkFolderGuard &) = delete;

private:
    QString m_path;
};

// The archiver's complaint without its program prefix.
QString archiverReason(const QString &errorOutput)
{
    QString reason = errorOutput.trimmed();
    static const QRegularExpression prefix(QStringLiteral("^zoru-arc:\\s*"));
    reason.remove(prefix);
    return reason;
}

} // namespace

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

TImWorkstationToServer::TImWorkstationToServer(TJobWindow &window, QString packagePath)
    : TSrvRplThread(window), m_packagePath(std::move(packagePath))
{
}

TImWorkstationToServer::~TImWorkstationToServer() = default;

const QString &TImWorkstationToServer::LockedMessage()
{
    return kLocked;
}

void TImWorkstationToServer::PrepareWindow()
{
    Window().SetCaption(m_dryRun ? kCheckTitle : kTitle);
    Window().ClearMessages();
}

void TImWorkstationToServer::Execute()
{
    if (m_dryRun)
        RunGuarded(kCheckTitle, kCheckDone, [this] { importPackage(); });
    else
        RunGuarded(kTitle, StrConst::ImportDone, [this] { importPackage(); });
}

void TImWorkstationToServer::ThreadCleanup()
{
    releaseImportLock();
    TSrvRplThread::ThreadCleanup();
}

QString TImWorkstationToServer::ChoosePackage()
{
    // The dialog starts in the import folder through the current directory, which is given back
    // afterwards whatever the dialog did with it.
    // Without a user interface (the command line, tools) there is nobody to ask.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return {};
    const QString current = QDir::currentPath();
    QString chosen;
    Synchronize([&] {
        QDir::setCurrent(Info().ImportPath);
        chosen = TDialogs::OpenFile(QString(), kFilter);
    });
    QDir::setCurrent(current);
    return chosen;
}

bool TImWorkstationToServer::ConfirmRepeat(const QDateTime &imported)
{
    bool again = false;
    Synchronize([&] { again = TDialogs::QuestionDefaultNo(RepeatQuestion(imported)); });
    return again;
}

void TImWorkstationToServer::importPackage()
{
    const QString package = m_packagePath.isEmpty() ? ChoosePackage() : m_packagePath;
    if (package.isEmpty())
        throw ERplException(StrConst::Interrupted);

    m_counts.clear();
    m_refusedRepeat = false;
    m_problems.clear();
    m_problemCount = 0;
    if (m_dryRun) {
        mergePackage(package);
        logDryRunReport();
        return;
    }
    if (!m_journal) {
        mergePackage(package);
        return;
    }
    // The journal records the run on a connection of its own, so that neither a failure nor a
    // rollback of the merge takes the record with it.
    m_package = ReadPackageInfo(Info().AppFolder(), package);
    TImportJournal journal(Center());
    if (const std::optional<QDateTime> imported = journal.LastSuccess(m_package.Sha256)) {
        const bool again = m_repeatPolicy == TRepeatPolicy::Force ||
                           (m_repeatPolicy == TRepeatPolicy::Ask && ConfirmRepeat(*imported));
        if (!again) {
            m_refusedRepeat = true;
            throw ERplException(RepeatRefusal(*imported));
        }
    }
    TJournaledRun run(journal, m_package);
    // A journal that cannot be written costs the run only its record.
    const auto finish = [&](const QString &result, const QString &error) {
        try {
            for (const TImportTableCounts &counts : std::as_const(m_counts))
                run.TableImported(counts);
            run.Finish(result, error);
        } catch (const Exception &journalError) {
            Log(JournalFailure + journalError.Message());
        }
    };
    try {
        mergePackage(package);
    } catch (const std::exception &e) {
        const Exception *own = dynamic_cast<const Exception *>(&e);
        finish(Terminated() ? ImportResultCancelled : ImportResultFailed,
               own ? own->Message() : QString::fromLocal8Bit(e.what()));
        throw;
    }
    finish(ImportResultSucceeded, QString());
}

void TImWorkstationToServer::mergePackage(const QString &package)
{

    const QString work = ImportWorkFolder(Info().ImportPath, package);
    if (QFileInfo(work).isDir())
        throw ERplException(StrConst::FolderExists + StrConst::LineBreak + work);
    if (!QDir().mkdir(work))
        throw ERplException(StrConst::CannotCreateFolder + StrConst::LineBreak + work);
    {
        WorkFolderGuard folder(work);

        Position = 0;
        UpdateGauge();
        CheckTerminated();
        Log(kUnpacking);
        QString errorOutput;
        if (RunArchiver(UnpackCommandLine(Info().AppFolder(), work, package), &errorOutput) != 0) {
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

    if (m_dryRun) {
        Total = 0;
        UpdateGauge();
        return; // the package stays
    }
    Log(kDeleting + package);
    const QStringList volumes = VolumeSet(package);
    for (qsizetype i = 0; i < volumes.size(); ++i) {
        // A further volume that is a link is no file of the package: the set ends before it.
        if ((i > 0 && QFileInfo(volumes[i]).isSymLink()) || !QFile::remove(volumes[i]))
            break;
    }
    Total = 0;
    UpdateGauge();
}

void TImWorkstationToServer::acquireImportLock()
{
    if (m_lock)
        return;
    m_lock = TDatabaseLock::TryAcquire(Center(), kImportLockKey, QStringLiteral(".import.lock"));
    if (!m_lock)
        throw ERplException(kLocked);
}

void TImWorkstationToServer::releaseImportLock()
{
    m_lock.reset();
}

void TImWorkstationToServer::ImportFolder(const QString &folder)
{
    TSIEDM &dm = SIEDM();
    acquireImportLock();
    struct Unlock
    {
        TImWorkstationToServer &job;
        ~Unlock() { job.releaseImportLock(); }
    } unlock{*this};
    // A dry run: one transaction over the whole merge, never committed.
    std::optional<TTransaction> dryRun;
    if (m_dryRun)
        dryRun.emplace(Center());

    TAliasStore &aliases = Center().Aliases();
    if (aliases.IsAlias(kTempAlias))
        aliases.DeleteAlias(kTempAlias);
    {
        const TAliasStore::ConfigMode mode = aliases.Mode();
        aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
        try {
            aliases.AddStandardAlias(kTempAlias, paths::includeTrailing(folder),
                                     QStringLiteral("PARADOX"));
        } catch (...) {
            aliases.SetConfigMode(mode);
            throw;
        }
        aliases.SetConfigMode(mode);
    }
    TDatabase wst(StrConst::ImportDatabaseName, &aliases);
    // Disconnects the package and removes the alias, whatever happened to the merge (its
    // datasets are closed first, below).
    struct Detach
    {
        TSIEDM &dm;
        TDatabase &wst;
        TAliasStore &aliases;
        ~Detach()
        {
            dm.SetWstDatabase(nullptr);
            try {
                wst.Close();
            } catch (...) {
            }
            try {
                if (aliases.IsAlias(kTempAlias))
                    aliases.DeleteAlias(kTempAlias);
            } catch (...) {
            }
        }
    } detach{dm, wst, aliases};
    std::vector<TDataSet *> packageSets;
    for (TTable *t : dm.PackageTables())
        packageSets.push_back(t);
    packageSets.push_back(&dm.qrWST);
    TCloseOnExit closePackage(packageSets);
    // The central tables that package rows are looked up or located in change only through
    // this job's datasets while the merge runs (the import lock keeps other imports out), so
    // their answers are kept; the datasets keep them true on their own changes and forget them
    // on rollbacks.
    struct KeepLookups
    {
        std::vector<TDataSet *> targets;
        explicit KeepLookups(TSIEDM &dm)
        {
            std::vector<TDataSet *> sets{&dm.itPrimDiag, &dm.itMapDiag};
            for (TTable *t : dm.PackageTables())
                for (const TLookupFieldDef &def : t->LookupFields())
                    sets.push_back(def.LookupDataSet);
            for (TDataSet *ds : sets)
                if (ds && !ds->CacheLookups) {
                    ds->CacheLookups = true;
                    targets.push_back(ds);
                }
        }
        ~KeepLookups()
        {
            for (TDataSet *t : targets)
                t->CacheLookups = false;
        }
    } keepLookups{dm};
    wst.AliasName = kTempAlias;
    wst.LoginPrompt = false;
    wst.ReadOnly = true;
    wst.Open();
    dm.SetWstDatabase(&wst);

    m_knownOperators.clear();
    m_failedOperators.clear();
    m_counts.clear();

    struct Step
    {
        const char *label;
        TTable TSIEDM::*wst;
        TTable TSIEDM::*central;
        char kind; // 'a' dictionary, 'l' owned rows, 'd' diagnoses
        const char *prefix;
        TTable TSIEDM::*mapping;
        QStringList TSIEDM::*columns;
    };
    static const Step steps[] = {
        {"City", &TSIEDM::wstCity, &TSIEDM::itCity, 'a', "City", &TSIEDM::itAuxCity,
         &TSIEDM::colCity},
        {"Street", &TSIEDM::wstStreet, &TSIEDM::itStreet, 'a', "Str", &TSIEDM::itAuxStreet,
         &TSIEDM::colStreet},
        {"Post", &TSIEDM::wstPost, &TSIEDM::itPost, 'a', "Pos", &TSIEDM::itAuxPost,
         &TSIEDM::colPost},
        {"RegistrationArea", &TSIEDM::wstRegistrationArea, &TSIEDM::itRegistrationArea, 'a', "Area",
         &TSIEDM::itAuxRegistrationArea, &TSIEDM::colRegistrationArea},
        {"Address", &TSIEDM::wstAddress, &TSIEDM::itAddress, 'l', "Adr", nullptr,
         &TSIEDM::colAddress},
        {"Person", &TSIEDM::wstPerson, &TSIEDM::itPerson, 'l', "Prn", nullptr, &TSIEDM::colPerson},
        {"Document", &TSIEDM::wstDocument, &TSIEDM::itDocument, 'l', "Doc", nullptr,
         &TSIEDM::colDocument},
        {"PrimaryInspection", &TSIEDM::wstPrimaryInspection, &TSIEDM::itPrimaryInspection, 'l',
         "Doc", nullptr, &TSIEDM::colPrimaryInspection},
        {"PrimDiag", &TSIEDM::wstPrimDiag, &TSIEDM::itPrimDiag, 'd', "", nullptr,
         &TSIEDM::colDocDiag},
        {"ScriningCard", &TSIEDM::wstMapScrining, &TSIEDM::itMapScrining, 'l', "Doc", nullptr,
         &TSIEDM::colMapScrining},
        {"MapDiag", &TSIEDM::wstMapDiag, &TSIEDM::itMapDiag, 'd', "", nullptr, &TSIEDM::colDocDiag},
    };
    for (const Step &s : steps) {
        Log(StrConst::ImportTable + QString::fromLatin1(s.label));
        m_walk = Walk{};
        m_stepRegistrations = 0;
        m_stepLabel = QString::fromLatin1(s.label);
        // What the step did, also when it failed: the rows committed before the failure stay.
        struct Report
        {
            TImWorkstationToServer &job;
            const char *label;
            ~Report()
            {
                try {
                    TImportTableCounts counts = job.m_walk.committedTally;
                    counts.Table = QString::fromLatin1(label);
                    counts.Registrations = job.m_stepRegistrations;
                    job.m_counts << counts;
                    if (job.m_observer)
                        job.m_observer->TableImported(counts);
                } catch (...) {
                    // Counting never fails the import.
                }
            }
        } report{*this, s.label};
        switch (s.kind) {
        case 'a':
            ImportAuxTable(dm.*s.wst, dm.*s.central, dm.*s.columns, QString::fromLatin1(s.prefix),
                           dm.*s.mapping);
            break;
        case 'l':
            ImportLocalTable(dm.*s.wst, dm.*s.central, dm.*s.columns,
                             QString::fromLatin1(s.prefix));
            break;
        default:
            ImportDiagTable(dm.*s.wst, dm.*s.central);
            break;
        }
    }
}

bool CheckWorkstationPackage()
{
    return RunReplication([](TJobWindow &window) {
        auto job = std::make_unique<TImWorkstationToServer>(window);
        job->SetDryRun(true);
        return job;
    });
}

bool ImportWorkstationPackage()
{
    return RunReplication(
        [](TJobWindow &window) { return std::make_unique<TImWorkstationToServer>(window); });
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
    Log(QStringLiteral("Ошибок: %1").arg(m_problemCount));
    for (const TProblem &p : std::as_const(m_problems))
        Log(QStringLiteral("%1, запись %2: %3")
                .arg(p.Table, p.LocalId.isValid() ? p.LocalId.toString() : QStringLiteral("?"),
                     p.Message));
    if (m_problemCount > m_problems.size())
        Log(QStringLiteral("... и ещё %1").arg(m_problemCount - m_problems.size()));
}
