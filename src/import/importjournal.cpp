#include "import/importjournal.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/sqlscript.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

namespace {

bool hasTable(const QStringList &tables, const QString &name)
{
    for (const QString &t : tables)
        if (t.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

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

// A short transaction of the journal's own connection: committed by commit(), rolled back when
// left otherwise.
class TShortTransaction
{
public:
    explicit TShortTransaction(TDatabase &db) : m_db(db) { m_db.StartTransaction(); }
    ~TShortTransaction()
    {
        if (m_db.InTransaction()) {
            try {
                m_db.Rollback();
            } catch (const Exception &) {
                // The connection is gone; the transaction went with it.
            }
        }
    }
    TShortTransaction(const TShortTransaction &) = delete;
    TShortTransaction &operator=(const TShortTransaction &) = delete;
    void commit() { m_db.Commit(); }

private:
    TDatabase &m_db;
};

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

void TImportJournal::EnsureTables(TDatabase &db)
{
    const QStringList tables = db.Sql().tables();
    const bool runs = hasTable(tables, QStringLiteral("IMPORTJOURNAL"));
    const bool steps = hasTable(tables, QStringLiteral("IMPORTJOURNALTABLE"));
    if (runs && steps)
        return;
    // The statements of the central creation script that make a missing table and what belongs
    // to it (indexes; on PostgreSQL the numbering's sequence and trigger).
    const bool postgres =
        db.Driver().compare(QLatin1String("POSTGRESQL"), Qt::CaseInsensitive) == 0;
    QFile file(postgres ? QStringLiteral(":/import/postgresql/central.sql")
                        : QStringLiteral(":/import/sqlite/central.sql"));
    if (!file.open(QIODevice::ReadOnly))
        throw EDatabaseError(
            QStringLiteral("Сценарий создания базы данных не найден: %1").arg(file.fileName()));
    static const QRegularExpression runsTable(QStringLiteral("\\bIMPORTJOURNAL(_RUNGID_SEQ)?\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression stepsTable(QStringLiteral("\\bIMPORTJOURNALTABLE\\b"),
                                               QRegularExpression::CaseInsensitiveOption);
    QString run;
    for (const QString &statement : engine::SplitSqlScript(QString::fromUtf8(file.readAll()))) {
        if ((!runs && runsTable.match(statement).hasMatch()) ||
            (!steps && stepsTable.match(statement).hasMatch()))
            run += statement + QStringLiteral(";\n");
    }
    engine::ExecuteScript(db, run);
}

TDatabase &TImportJournal::db()
{
    if (!m_db->Connected()) {
        m_db->Open();
        EnsureTables(*m_db);
        if (m_centralUser.isEmpty())
            m_centralUser = m_db->UserName();
    }
    return *m_db;
}

qint64 TImportJournal::Begin(const TImportPackageInfo &package, const QDateTime &start)
{
    TDatabase &d = db();
    TShortTransaction transaction(d);
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
    transaction.commit();
    return run;
}

void TImportJournal::End(qint64 run, const QString &result, const QString &error,
                         const QList<TImportTableCounts> &tables, const QDateTime &end)
{
    TDatabase &d = db();
    TShortTransaction transaction(d);
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
    transaction.commit();
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
    return user;
}

TJournaledRun::TJournaledRun(TImportJournal &journal, const TImportPackageInfo &package)
    : m_journal(journal), m_run(journal.Begin(package, QDateTime::currentDateTime()))
{
}

void TJournaledRun::TableImported(const TImportTableCounts &counts)
{
    m_tables << counts;
}

void TJournaledRun::Finish(const QString &result, const QString &error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_journal.End(m_run, result, error, m_tables, QDateTime::currentDateTime());
}
