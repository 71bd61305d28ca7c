#include "admin/operatorscripts.h"

#include "core/errors.h"
#include "core/inifile.h"
#include "core/paths.h"
#include "engine/dataset.h"
#include "engine/query.h"
#include "package/archiver.h"
#include "package/packagenames.h"
#include "package/packagetables.h"
#include "ui/dialogs.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kCannotCreate = QStringLiteral("Невозможно создать папку");
const QString kReadyIn = QStringLiteral("Файлы, готовые к отправке, находятся в папке: ");
const QChar kTab = QLatin1Char('\t');

// A number as the scripts write it: whole numbers without a fractional part.
QString number(const QVariant &v)
{
    if (engine::IsNullValue(v))
        return QStringLiteral("NULL");
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (ok && d == static_cast<double>(static_cast<qint64>(d)))
        return QString::number(static_cast<qint64>(d));
    return v.toString();
}

// A text inside '...' of a statement.
QString literal(const QString &s)
{
    QString t = s;
    t.replace(QLatin1Char('\''), QStringLiteral("''"));
    return t;
}

} // namespace

TOperatorValues OperatorValuesOf(const TDataSet &op)
{
    TOperatorValues v;
    v.WstGID = op.FieldByName(QStringLiteral("WSTGID"))->AsVariant();
    v.UserGID = op.FieldByName(QStringLiteral("USERGID"))->AsVariant();
    v.UserName = op.FieldByName(QStringLiteral("USERNAME"))->AsString();
    v.UserHash = op.FieldByName(QStringLiteral("USERHASH"))->AsString();
    v.UserLevel = op.FieldByName(QStringLiteral("USERLEVEL"))->AsVariant();
    return v;
}

QStringList WriteInsertScript(const TOperatorValues &op)
{
    return {QStringLiteral("INSERT INTO Operator (WstGID, UserGID, UserName, UserHash, UserLevel)"),
            QStringLiteral("VALUES (") + number(op.WstGID) + QLatin1Char(',') + number(op.UserGID) +
                QStringLiteral(",'") + literal(op.UserName) + QStringLiteral("','") +
                literal(op.UserHash) + QStringLiteral("',") + number(op.UserLevel) +
                QStringLiteral(");")};
}

QStringList WriteUpdateScript(const TOperatorValues &op)
{
    return {QStringLiteral("UPDATE Operator"),
            QStringLiteral("SET"),
            kTab + QStringLiteral("UserName='") + literal(op.UserName) + QStringLiteral("',"),
            kTab + QStringLiteral("UserHash='") + literal(op.UserHash) + QStringLiteral("',"),
            kTab + QStringLiteral("UserLevel=") + number(op.UserLevel),
            QStringLiteral("WHERE"),
            kTab + QStringLiteral("UserGID=") + number(op.UserGID),
            kTab + QStringLiteral("AND"),
            kTab + QStringLiteral("WstGID=") + number(op.WstGID) + QLatin1Char(';')};
}

QStringList WritePasswordResetScript(const TOperatorValues &op)
{
    return {QStringLiteral("UPDATE Operator"),
            QStringLiteral("SET"),
            kTab + QStringLiteral("UserHash='0'"),
            QStringLiteral("WHERE"),
            kTab + QStringLiteral("UserGID=") + number(op.UserGID),
            kTab + QStringLiteral("AND"),
            kTab + QStringLiteral("WstGID=") + number(op.WstGID) + QLatin1Char(';')};
}

TScriptTarget ScriptTargetOf(TSIEDM &dm, int wstGID)
{
    // The workstation as the export reads it.
    TQuery &q = dm.sqlWstPick;
    q.Close();
    q.ParamByName(QStringLiteral("WSTGID")).SetAsInteger(wstGID);
    q.Open();
    const TCloseOnExit closer{&q};
    if (q.Eof())
        throw Exception(QStringLiteral("Рабочая станция не найдена: WstGID = ") +
                        QString::number(wstGID));
    TScriptTarget t;
    t.WstGID = wstGID;
    t.WstName = q.FieldByName(QStringLiteral("WstName"))->AsString();
    // As for the packages: the hospital when there is one, else the brigade.
    if (!q.FieldByName(QStringLiteral("HspGID"))->IsNull())
        t.OwnerName = q.FieldByName(QStringLiteral("MU"))->AsString();
    else if (!q.FieldByName(QStringLiteral("BrgGID"))->IsNull())
        t.OwnerName = q.FieldByName(QStringLiteral("BrgName"))->AsString();
    else
        throw Exception(QStringLiteral("Нарушена целостность базы данных"));
    return t;
}

QString SaveScript(const QStringList &statement, const TScriptTarget &target,
                   const QString &exportPath, const QDateTime &now)
{
    const QString shortName = SafeFileName(target.WstName).left(12);
    TPackageNames names =
        ComposePackageNames(target.WstGID, target.WstName, target.OwnerName, now, exportPath);
    const QString folder = names.HospitalFolder;
    if (!QFileInfo(folder).isDir() && !QDir().mkdir(folder))
        throw EFileError(kCannotCreate + QLatin1Char('\r') + folder);

    // A script already written in this second is kept: this one takes the next free second.
    QDateTime t = now;
    QString fileName;
    for (int tries = 0;; ++tries) {
        names = ComposePackageNames(target.WstGID, target.WstName, target.OwnerName, t, exportPath);
        fileName = paths::includeTrailing(folder) + shortName + QLatin1Char('_') +
                   t.toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral(".sql");
        if (!QFileInfo::exists(fileName))
            break;
        if (tries > 86400)
            throw EFileError(QStringLiteral("Невозможно записать файл ") + fileName);
        t = t.addSecs(1);
    }

    // Written whole or not at all.
    ReplaceFileLines(
        fileName, QStringList{QStringLiteral("/*"), names.Label, QStringLiteral("*/")} + statement);
    return folder;
}

bool SaveScriptReporting(const QStringList &statement, const TScriptTarget &target,
                         const QString &exportPath, const QDateTime &now)
{
    QString folder;
    try {
        folder = SaveScript(statement, target, exportPath, now);
    } catch (const std::exception &e) {
        ShowError(e);
        return false;
    }
    TDialogs::Information(kReadyIn + folder);
    return true;
}
