#include "export/exportjob.h"

#include "core/appinfo.h"
#include "core/clock.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/sqlscript.h"
#include "engine/transaction.h"
#include "package/archiver.h"
#include "package/packageinfo.h"
#include "package/packagenames.h"
#include "package/packagetables.h"
#include "package/workfolder.h"

#include <QDir>
#include <QFileInfo>
#include <optional>

namespace {

const QString kTitle = QStringLiteral("Экспорт справочников");
const QString kDone = QStringLiteral("Экспорт данных завершен");
const QString kNoWorkstation = QStringLiteral("Рабочая станция не найдена: WstGID = ");
const QString kBrokenDatabase = QStringLiteral("Нарушена целостность базы данных");
const QString kExportTable = QStringLiteral("Экспорт данных из таблицы: ");
const QString kPacking = QStringLiteral("Архивация...");
const QString kPackFailed = QStringLiteral("Ошибка при архивации");
const QString kReadyIn = QStringLiteral("Файлы, готовые к отправке, находятся в папке: ");
const QString kJournalFailure = QStringLiteral("Журнал экспорта не записан: ");

QString decimal(const QVariant &v)
{
    return QString::number(v.toLongLong());
}

} // namespace

TExServerToWorkstation::TExServerToWorkstation(const TJobContext &context, const TAppInfo &info,
                                               const TDatabase &center, int wstGID)
    : TSrvRplThread(context, info, center), m_wstGID(wstGID)
{
}

void TExServerToWorkstation::PrepareWindow()
{
    Window().SetCaption(kTitle);
    Window().ClearMessages();
}

void TExServerToWorkstation::Execute()
{
    m_result = TExportResult{};
    RunGuarded(kTitle, kDone, [this] { journaledExport(); });
}

void TExServerToWorkstation::journaledExport()
{
    // The journal records the run on a connection of its own; one that cannot be written costs
    // the run only its record.
    std::optional<TExportJournal> journal;
    qint64 run = 0;
    try {
        journal.emplace(Center());
        run = journal->Begin(m_wstGID, TClock::Now());
    } catch (const Exception &e) {
        Log(kJournalFailure + e.Message());
        journal.reset();
    }
    const auto finish = [&](const QString &result, const QString &error) {
        m_result.Result = result;
        m_result.Error = error;
        if (!journal)
            return;
        try {
            journal->End(run, m_result, TClock::Now());
        } catch (const Exception &e) {
            Log(kJournalFailure + e.Message());
        }
    };
    try {
        exportPackage();
    } catch (const std::exception &e) {
        const QString error = ErrorMessage(e);
        finish(EndOf(error) == TJobOutcome::Cancelled ? ExportResultCancelled : ExportResultFailed,
               error);
        throw;
    }
    finish(ExportResultSucceeded, QString());
}

std::optional<QString> TExServerToWorkstation::SelectionFilter(const QString &u, int w,
                                                               const QVariant &b, const QVariant &h,
                                                               const QVariant &y)
{
    const bool noB = engine::IsNullValue(b);
    const bool noH = engine::IsNullValue(h);
    if (u == QLatin1String("WORKSTATION"))
        return QStringLiteral("WHERE WSTGID=") + QString::number(w);
    if (u == QLatin1String("BRIGADE")) {
        if (noB)
            return std::nullopt;
        return QStringLiteral("WHERE Brigade.BrgGID = ") + decimal(b);
    }
    if (u == QLatin1String("BRIGHSP")) {
        if (noB)
            return std::nullopt;
        return QStringLiteral("WHERE BrigHsp.BrgGID = ") + decimal(b);
    }
    if (u == QLatin1String("HOSPITAL")) {
        if (!noH)
            return QStringLiteral("WHERE HSPGID=") + decimal(h);
        if (noB)
            return std::nullopt;
        // IN rather than a correlated EXISTS: the brigade's hospitals are found through the
        // brigade's index instead of probing the link table once per hospital.
        return QStringLiteral("WHERE HspGID IN (SELECT BrigHsp.HspGID FROM BrigHsp WHERE "
                              "BrigHsp.BrgGID = ") +
               decimal(b) + QStringLiteral(")");
    }
    if (u == QLatin1String("HOSPTYPE")) {
        if (!noH) {
            // A hospital without a type receives no type; its own row keeps the Null.
            if (engine::IsNullValue(y))
                return QStringLiteral("WHERE 1=0");
            return QStringLiteral("WHERE HTPGID=") + decimal(y);
        }
        if (noB)
            return std::nullopt;
        return QStringLiteral("WHERE HtpGID IN (SELECT Hospital.HtpGID FROM Hospital WHERE "
                              "Hospital.HspGID IN (SELECT BrigHsp.HspGID FROM BrigHsp WHERE "
                              "BrigHsp.BrgGID = ") +
               decimal(b) + QStringLiteral("))");
    }
    return QString();
}

void TExServerToWorkstation::exportPackage()
{
    const int w = m_wstGID;

    // The central rows are read as one consistent picture of the database (on a server, where
    // rows are made only as they are read). Declared first: it ends after every central
    // dataset is closed.
    TReadSnapshot snapshot(Center());
    TSIEDM dm(&Center(), nullptr);

    struct CloseQuery
    {
        TQuery &q;
        ~CloseQuery() { q.Close(); }
    } closePick{dm.sqlWstPick};
    // The package folder of this run, removed however the run ends. Declared before the folder
    // database so that the folder is removed only after its tables are closed.
    std::optional<TWorkFolder> packageFolder;

    dm.sqlWstPick.ParamByName(QStringLiteral("WSTGID")).SetAsInteger(w);
    dm.sqlWstPick.Open();
    if (dm.sqlWstPick.Eof())
        throw ERplException(kNoWorkstation + QString::number(w));

    const QVariant b = dm.sqlWstPick.FieldByName(QStringLiteral("BrgGID"))->AsVariant();
    const QVariant h = dm.sqlWstPick.FieldByName(QStringLiteral("HspGID"))->AsVariant();
    const QVariant y = dm.sqlWstPick.FieldByName(QStringLiteral("HtpGID"))->AsVariant();
    QString owner;
    if (!engine::IsNullValue(h))
        owner = dm.sqlWstPick.FieldByName(QStringLiteral("MU"))->AsString();
    else if (!engine::IsNullValue(b))
        owner = dm.sqlWstPick.FieldByName(QStringLiteral("BrgName"))->AsString();
    else
        throw ERplException(kBrokenDatabase);
    owner = SafeFileName(owner);

    const TPackageNames names =
        ComposePackageNames(w, dm.sqlWstPick.FieldByName(QStringLiteral("WstName"))->AsString(),
                            owner, TClock::Now(), Info().ExportPath);

    if (!QFileInfo(names.HospitalFolder).isDir() && !QDir().mkdir(names.HospitalFolder))
        throw ERplException(StrConst::CannotCreateFolder + StrConst::LineBreak +
                            names.HospitalFolder);
    if (QFileInfo::exists(names.PackageFolder))
        throw ERplException(StrConst::FolderExists + StrConst::LineBreak + names.PackageFolder);
    packageFolder.emplace(TWorkFolder::Named{}, names.PackageFolder);

    TDatabase folder(QStringLiteral("Package"));
    folder.OpenFolder(names.PackageFolder);
    struct DetachTable
    {
        TTable &t;
        ~DetachTable()
        {
            try {
                t.Close();
            } catch (...) {
                // The job already reports the failure that left the table open.
            }
            try {
                t.SetDatabase(nullptr);
            } catch (...) {
            }
        }
    } detachExTable{dm.exTable};
    TSIEDM::RunRplGen(folder);

    for (const QString &t : Info().SrvToWstTables()) {
        const QString u = t.toUpper();
        const std::optional<QString> filter = SelectionFilter(u, w, b, h, y);
        if (!filter)
            continue;
        dm.imTable.MacroByName(QStringLiteral("FILTER")).Value = *filter;
        Log(kExportTable + t);
        dm.imTable.MacroByName(QStringLiteral("TABLE")).Value = u;
        dm.exTable.Close();
        dm.exTable.SetDatabase(&folder);
        dm.exTable.SetTableName(t + QStringLiteral(".db"));
        m_result.Tables.append({t, CopyRecords(dm.imTable, dm.exTable, QString())});
        LogRecordCount(m_result.Tables.last().Rows);
        dm.exTable.Close();
    }
    dm.sqlWstPick.Close();
    snapshot.End();

    Log(StrConst::Separator);
    Log(kPacking);
    if (::PackFolder(Info().AppFolder(), names.PackageFolder, names.Label, names.ArchiveName) != 0)
        throw ERplException(kPackFailed);
    TExportedPackage &package = m_result.Package;
    package.Name = names.ArchiveName;
    package.Label = names.Label;
    package.Folder = paths::includeTrailing(names.HospitalFolder);
    for (const QString &volume : VolumeSet(QDir(names.HospitalFolder).filePath(names.ArchiveName)))
        package.Size += QFileInfo(volume).size();
    Log(StrConst::Separator);
    Log(kReadyIn + package.Folder);
}
