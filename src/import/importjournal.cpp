#include "import/importjournal.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/transaction.h"
#include "schema/schema.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

QSqlQuery exec(TDatabase &db, const QString &sql, const QVariantList &values)
{
    QSqlQuery q(db.Sql());
    if (!q.prepare(sql))
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, BindableValue(values[i], q.driver()));
    if (!q.exec())
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
    return q;
}

// Commits a journal transaction; one whose commit failed is not left open on the journal's
// connection, where the next record would otherwise become a savepoint of it.
void commit(TTransaction &transaction, TDatabase &db)
{
    try {
        transaction.Commit();
    } catch (...) {
        try {
            if (db.InTransaction())
                db.Rollback();
        } catch (const Exception &) {
            // The connection is gone; the transaction went with it.
        }
        throw;
    }
}

// A workstation number as the journal keeps it; Null when the package gave none that reads.
QVariant wholeOrNull(const QVariant &value)
{
    bool ok = false;
    const qint64 n = value.toLongLong(&ok);
    return ok ? QVariant(n) : QVariant();
}

QVariant textOrNull(const QString &s, int maxLength)
{
    if (s.isEmpty())
        return {};
    return s.left(maxLength);
}

} // namespace

TImportJournal::TImportJournal(const TDatabase &center)
    : m_db(center.CloneForThread()), m_centralUser(center.UserName())
{
    m_db->DatabaseName = center.DatabaseName + QStringLiteral("_Journal");
}

TImportJournal::~TImportJournal() = default;

TDatabase &TImportJournal::db()
{
    if (!m_db->Connected()) {
        m_db->Open();
        UpgradeSchema(*m_db, SchemaKind::Central);
        if (m_centralUser.isEmpty())
            m_centralUser = m_db->UserName();
    }
    return *m_db;
}

qint64 TImportJournal::Begin(const TImportPackageInfo &package, const QDateTime &start)
{
    TDatabase &d = db();
    TTransaction transaction(d);
    QSqlQuery q = exec(
        d,
        QStringLiteral("INSERT INTO IMPORTJOURNAL (PKGNAME, PKGSIZE, PKGSHA256, PKGLABEL, WSTGID, "
                       "CENTRALUSER, OSUSER, STARTTIME, RESULT) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) "
                       "RETURNING RUNGID"),
        {package.FileName.left(255), package.Size, textOrNull(package.Sha256, 64),
         textOrNull(package.Label, 255), package.WstGID, textOrNull(m_centralUser, 64),
         textOrNull(MachineUser(), 64), start, ImportResultUnfinished});
    if (!q.next())
        throw EDBEngineError(QStringLiteral("Запись журнала импорта не создана"));
    const qint64 run = q.value(0).toLongLong();
    q.finish();
    commit(transaction, d);
    return run;
}

void TImportJournal::End(qint64 run, const QString &result, const QString &error,
                         const QList<TImportTableCounts> &tables, const QDateTime &end,
                         const QList<TImportProblem> &refused)
{
    TDatabase &d = db();
    TTransaction transaction(d);
    exec(d,
         QStringLiteral(
             "UPDATE IMPORTJOURNAL SET ENDTIME = ?, RESULT = ?, ERRORTEXT = ? WHERE RUNGID = ?"),
         {end, result, textOrNull(error, 2000), run});
    exec(d, QStringLiteral("DELETE FROM IMPORTJOURNALTABLE WHERE RUNGID = ?"), {run});
    int step = 0;
    for (const TImportTableCounts &t : tables) {
        exec(d,
             QStringLiteral("INSERT INTO IMPORTJOURNALTABLE (RUNGID, STEPNO, TABLENAME, NEWROWS, "
                            "EDITEDROWS, NEWMAPPINGS, REGISTRATIONS) VALUES (?, ?, ?, ?, ?, ?, ?)"),
             {run, ++step, t.Table.left(40), t.NewRows, t.EditedRows, t.NewMappings,
              t.Registrations});
    }
    writeRefused(d, run, refused);
    commit(transaction, d);
}

void TImportJournal::writeRefused(TDatabase &d, qint64 run, const QList<TImportProblem> &refused)
{
    exec(d, QStringLiteral("DELETE FROM IMPORTJOURNALREFUSED WHERE RUNGID = ?"), {run});
    if (refused.isEmpty())
        return;
    const QString sql =
        QStringLiteral("INSERT INTO IMPORTJOURNALREFUSED (RUNGID, ROWNO, TABLENAME, "
                       "LOCALID, WSTGID, MESSAGE) VALUES (?, ?, ?, ?, ?, ?)");
    QSqlQuery q(d.Sql());
    if (!q.prepare(sql))
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
    int row = 0;
    for (const TImportProblem &p : refused) {
        const QVariantList values{run,
                                  ++row,
                                  p.Table.left(40),
                                  textOrNull(p.LocalId.toString(), 40),
                                  wholeOrNull(p.WstGID),
                                  textOrNull(p.Message, 2000)};
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
    QSqlQuery q = exec(db(),
                       QStringLiteral("SELECT MAX(ENDTIME) FROM IMPORTJOURNAL "
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

QString TImportJournal::MachineUser()
{
    QString user = qEnvironmentVariable("USERNAME");
    if (user.isEmpty())
        user = qEnvironmentVariable("USER");
    if (!user.isEmpty())
        return user;
        // A service or a cron job runs without them: the account's own name.
#ifdef Q_OS_WIN
    wchar_t name[256];
    DWORD size = 256;
    if (GetUserNameW(name, &size) && size > 0)
        return QString::fromWCharArray(name, int(size) - 1);
#else
    if (const passwd *account = ::getpwuid(::geteuid()); account && account->pw_name)
        return QString::fromLocal8Bit(account->pw_name);
#endif
    return {};
}

TJournaledRun::TJournaledRun(TImportJournal &journal, const TImportPackageInfo &package)
    : m_journal(journal), m_run(journal.Begin(package, QDateTime::currentDateTime()))
{
}

void TJournaledRun::TableImported(const TImportTableCounts &counts)
{
    m_tables << counts;
}

void TJournaledRun::Finish(const QString &result, const QString &error,
                           const QList<TImportProblem> &refused)
{
    if (m_finished)
        return;
    m_finished = true;
    m_journal.End(m_run, result, error, m_tables, QDateTime::currentDateTime(), refused);
}
