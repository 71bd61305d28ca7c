#include "export/exportjournal.h"

#include "core/errors.h"
#include "engine/database.h"
#include "schema/schema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

QSqlQuery exec(TDatabase &db, const QString &sql, const QVariantList &values)
{
    QSqlQuery q(db.Sql());
    if (!q.prepare(sql))
        throw EDBEngineError(engineMessage(q.lastError()), sql);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, BindableValue(values[i], q.driver()));
    if (!q.exec())
        throw EDBEngineError(engineMessage(q.lastError()), sql);
    return q;
}

QVariant textOrNull(const QString &s, int maxLength)
{
    if (s.isEmpty())
        return {};
    return s.left(maxLength);
}

} // namespace

QString MachineUserName()
{
    QString user = qEnvironmentVariable("USERNAME");
    if (user.isEmpty())
        user = qEnvironmentVariable("USER");
    return user;
}

TExportJournal::TExportJournal(const TDatabase &center)
    : m_db(center.CloneForThread()), m_centralUser(center.UserName())
{
    m_db->DatabaseName = center.DatabaseName + QStringLiteral("_ExportJournal");
}

TExportJournal::~TExportJournal() = default;

TDatabase &TExportJournal::db()
{
    if (!m_db->Connected()) {
        m_db->Open();
        UpgradeSchema(*m_db, SchemaKind::Central);
        if (m_centralUser.isEmpty())
            m_centralUser = m_db->UserName();
    }
    return *m_db;
}

qint64 TExportJournal::Begin(int wstGID, const QDateTime &start)
{
    QSqlQuery q = exec(db(),
                       QStringLiteral("INSERT INTO EXPORTJOURNAL (WSTGID, CENTRALUSER, OSUSER, "
                                      "STARTTIME, RESULT) VALUES (?, ?, ?, ?, ?) RETURNING RUNGID"),
                       {wstGID, textOrNull(m_centralUser, 64), textOrNull(MachineUserName(), 64),
                        start, ExportResultUnfinished});
    if (!q.next())
        throw EDBEngineError(QStringLiteral("Запись журнала экспорта не создана"));
    return q.value(0).toLongLong();
}

void TExportJournal::End(qint64 run, const QString &result, const TExportedPackage &package,
                         const QString &error, const QDateTime &end)
{
    exec(db(),
         QStringLiteral("UPDATE EXPORTJOURNAL SET PKGNAME = ?, PKGSIZE = ?, PKGLABEL = ?, "
                        "ENDTIME = ?, RESULT = ?, ERRORTEXT = ? WHERE RUNGID = ?"),
         {textOrNull(package.Name, 255), package.Name.isEmpty() ? QVariant() : package.Size,
          textOrNull(package.Label, 255), end, result, textOrNull(error, 2000), run});
}
