#include "import/importjournal.h"

#include "core/clock.h"
#include "core/errors.h"
#include "engine/database.h"
#include "engine/transaction.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// A workstation number as the journal keeps it; Null when the package gave none that reads.
QVariant wholeOrNull(const QVariant &value)
{
    bool ok = false;
    const qint64 n = value.toLongLong(&ok);
    return ok ? QVariant(n) : QVariant();
}

using J = TJournalConnection;

} // namespace

TImportJournal::TImportJournal(const TDatabase &center)
    : m_connection(center, center.DatabaseName + QStringLiteral("_Journal"))
{
}

TImportJournal::~TImportJournal() = default;

qint64 TImportJournal::Begin(const TImportPackageInfo &package, const QDateTime &start)
{
    TTransaction transaction(m_connection.Db());
    QSqlQuery q = m_connection.Exec(
        QStringLiteral("INSERT INTO IMPORTJOURNAL (PKGNAME, PKGSIZE, PKGSHA256, PKGLABEL, WSTGID, "
                       "CENTRALUSER, OSUSER, STARTTIME, RESULT) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) "
                       "RETURNING RUNGID"),
        {package.FileName.left(255), package.Size, J::TextOrNull(package.Sha256, 64),
         J::TextOrNull(package.Label, 255), package.WstGID,
         J::TextOrNull(m_connection.CentralUser(), 64), J::TextOrNull(J::MachineUser(), 64), start,
         ImportResultUnfinished});
    if (!q.next())
        throw EDBEngineError(QStringLiteral("Запись журнала импорта не создана"));
    const qint64 run = q.value(0).toLongLong();
    q.finish();
    transaction.Commit();
    return run;
}

void TImportJournal::End(qint64 run, const QString &result, const QString &error,
                         const QList<TImportTableCounts> &tables, const QDateTime &end,
                         const QList<TImportProblem> &refused)
{
    TTransaction transaction(m_connection.Db());
    m_connection.Exec(
        QStringLiteral(
            "UPDATE IMPORTJOURNAL SET ENDTIME = ?, RESULT = ?, ERRORTEXT = ? WHERE RUNGID = ?"),
        {end, result, J::TextOrNull(error, 2000), run});
    m_connection.Exec(QStringLiteral("DELETE FROM IMPORTJOURNALTABLE WHERE RUNGID = ?"), {run});
    int step = 0;
    for (const TImportTableCounts &t : tables) {
        m_connection.Exec(
            QStringLiteral("INSERT INTO IMPORTJOURNALTABLE (RUNGID, STEPNO, TABLENAME, NEWROWS, "
                           "EDITEDROWS, NEWMAPPINGS, REGISTRATIONS) VALUES (?, ?, ?, ?, ?, ?, ?)"),
            {run, ++step, t.Table.left(40), t.NewRows, t.EditedRows, t.NewMappings,
             t.Registrations});
    }
    writeRefused(run, refused);
    transaction.Commit();
}

void TImportJournal::writeRefused(qint64 run, const QList<TImportProblem> &refused)
{
    m_connection.Exec(QStringLiteral("DELETE FROM IMPORTJOURNALREFUSED WHERE RUNGID = ?"), {run});
    if (refused.isEmpty())
        return;
    const QString sql =
        QStringLiteral("INSERT INTO IMPORTJOURNALREFUSED (RUNGID, ROWNO, TABLENAME, "
                       "LOCALID, WSTGID, MESSAGE) VALUES (?, ?, ?, ?, ?, ?)");
    // One statement prepared for every row.
    QSqlQuery q(m_connection.Db().Sql());
    if (!q.prepare(sql))
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
    int row = 0;
    for (const TImportProblem &p : refused) {
        const QVariantList values{run,
                                  ++row,
                                  p.Table.left(40),
                                  J::TextOrNull(p.LocalId.toString(), 40),
                                  wholeOrNull(p.WstGID),
                                  J::TextOrNull(p.Message, 2000)};
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, BindableValue(values[i], q.driver()));
        if (!q.exec())
            throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
    }
}

std::optional<QDateTime> TImportJournal::LastSuccess(const QString &sha256)
{
    if (sha256.isEmpty())
        return std::nullopt;
    QSqlQuery q = m_connection.Exec(QStringLiteral("SELECT MAX(ENDTIME) FROM IMPORTJOURNAL "
                                                   "WHERE PKGSHA256 = ? AND RESULT = ?"),
                                    {sha256, ImportResultSucceeded});
    if (!q.next() || q.value(0).isNull())
        return std::nullopt;
    QVariant v = q.value(0);
    // SQLite hands back its text; PostgreSQL a date-time.
    QDateTime when = v.toDateTime();
    if (!when.isValid())
        when = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    return when;
}

TJournaledRun::TJournaledRun(TImportJournal &journal, const TImportPackageInfo &package)
    : m_journal(journal), m_run(journal.Begin(package, TClock::Now()))
{
}

void TJournaledRun::Finish(const TImportResult &result)
{
    if (m_finished)
        return;
    m_finished = true;
    m_journal.End(m_run, result.Result, result.Error, result.Tables, TClock::Now(), result.Refused);
}

qint64 TImportResult::RowsWritten() const
{
    static const QStringList dictionarySteps = {QStringLiteral("City"), QStringLiteral("Street"),
                                                QStringLiteral("Post"),
                                                QStringLiteral("RegistrationArea")};
    qint64 rows = 0;
    for (const TImportTableCounts &c : Tables)
        rows += dictionarySteps.contains(c.Table) ? c.NewMappings : c.NewRows + c.EditedRows;
    return rows;
}
