#include "export/exportjournal.h"

#include "core/errors.h"
#include "engine/database.h"

TExportJournal::TExportJournal(const TDatabase &center)
    : m_connection(center, center.DatabaseName + QStringLiteral("_ExportJournal"))
{
}

qint64 TExportJournal::Begin(int wstGID, const QDateTime &start)
{
    using J = TJournalConnection;
    QSqlQuery q = m_connection.Exec(
        QStringLiteral("INSERT INTO EXPORTJOURNAL (WSTGID, CENTRALUSER, OSUSER, STARTTIME, RESULT) "
                       "VALUES (?, ?, ?, ?, ?) RETURNING RUNGID"),
        {wstGID, J::TextOrNull(m_connection.CentralUser(), 64), J::TextOrNull(J::MachineUser(), 64),
         start, ExportResultUnfinished});
    if (!q.next())
        throw EDBEngineError(QStringLiteral("Запись журнала экспорта не создана"));
    return q.value(0).toLongLong();
}

void TExportJournal::End(qint64 run, const TExportResult &result, const QDateTime &end)
{
    using J = TJournalConnection;
    const TExportedPackage &package = result.Package;
    m_connection.Exec(
        QStringLiteral("UPDATE EXPORTJOURNAL SET PKGNAME = ?, PKGSIZE = ?, PKGLABEL = ?, "
                       "ENDTIME = ?, RESULT = ?, ERRORTEXT = ? WHERE RUNGID = ?"),
        {J::TextOrNull(package.Name, 255), package.Name.isEmpty() ? QVariant() : package.Size,
         J::TextOrNull(package.Label, 255), end, result.Result, J::TextOrNull(result.Error, 2000),
         run});
}
