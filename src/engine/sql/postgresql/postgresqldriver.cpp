#include "engine/sql/postgresql/postgresqldriver.h"

#include "core/aliases.h"
#include "core/errors.h"
#include "engine/busywait.h"
#include "engine/database.h"
#include "engine/sql/postgresql/pgtablecursor.h"
#include "engine/sql/preparedstatement.h"
#include "engine/sql/queryrows.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <libpq-fe.h>

namespace engine {

namespace {

// The server's notices and the note of a connection it closes go nowhere: what a job must know
// comes as the error of its statement, and a terminal is no place for the rest.
void ignoreNotice(void *, const char *) {}

void quietNotices(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "PGconn*") == 0)
        if (PGconn *connection = *static_cast<PGconn *const *>(handle.constData()))
            PQsetNoticeProcessor(connection, ignoreNotice, nullptr);
}

} // namespace

const TPostgreSqlDriver &PostgreSqlDriver()
{
    static const TPostgreSqlDriver driver;
    return driver;
}

void TPostgreSqlDriver::Open(QSqlDatabase &db, const TConnectionSettings &settings) const
{
    const TAliasStore &aliases = settings.aliases;
    db.setHostName(aliases.GetAliasParam(settings.alias, QStringLiteral("SERVER NAME")));
    const int port = aliases.GetAliasParam(settings.alias, QStringLiteral("PORT")).toInt();
    if (port > 0)
        db.setPort(port);
    db.setDatabaseName(aliases.GetAliasParam(settings.alias, QStringLiteral("DATABASE NAME")));
    db.setUserName(settings.userName);
    db.setPassword(settings.password);
    db.setConnectOptions(QStringLiteral("connect_timeout=15"));
    if (!db.open())
        throw EDBEngineError(engineMessage(db.lastError(), db.driver()));
    quietNotices(db);
    QSqlQuery q(db);
    q.exec(QStringLiteral("SET client_encoding TO 'UTF8'"));
    // Statements are prepared once and run for a whole job while their tables grow from empty.
    // A generic plan made while a table was small stays a sequential scan at any size (a
    // window's look-up of 256 keys in 100,000 persons: seconds instead of a millisecond); a
    // plan for each run follows the table. Servers before 12 have no such setting and keep
    // their own choice.
    q.exec(QStringLiteral("SET plan_cache_mode = force_custom_plan"));
    // The program's statements are index look-ups whose cost the planner overestimates (a
    // correlated look-up per workstation of a large journal); above its threshold the server
    // compiles the plan first, which took longer than running it (160 ms of 320 for the state
    // of 2,000 workstations) and never pays back on statements this short. Servers without
    // the setting ignore it.
    q.exec(QStringLiteral("SET jit = off"));
    if (settings.readOnly)
        q.exec(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"));
}

QString TPostgreSqlDriver::SnapshotStatement() const
{
    return QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
}

namespace {

// Runs a statement with positional values; false when the server refused it.
bool run(QSqlQuery &q, const QString &sql, const QVariantList &values)
{
    q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    return q.exec();
}

} // namespace

bool TPostgreSqlDriver::TryLock(const QSqlDatabase &db, const TLockPlace &place,
                                const QByteArray &holder, std::unique_ptr<THeldLock> &held) const
{
    Q_UNUSED(held);
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("SELECT pg_try_advisory_lock(?)"), {place.ServerKey}) || !q.next())
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()));
    if (!q.value(0).toBool())
        return false;
    if (!place.ServerTable.isEmpty()) {
        // A row left by a holder that is gone describes nobody: it is replaced.
        QSqlQuery w(db);
        run(w, QStringLiteral("DELETE FROM %1 WHERE LOCKKEY = ?").arg(place.ServerTable),
            {place.ServerKey});
        run(w,
            QStringLiteral("INSERT INTO %1 (LOCKKEY, BACKENDPID, HOLDER) VALUES (?, "
                           "pg_backend_pid(), ?)")
                .arg(place.ServerTable),
            {place.ServerKey, QString::fromUtf8(holder)});
    }
    return true;
}

void TPostgreSqlDriver::Unlock(const QSqlDatabase &db, const TLockPlace &place) const
{
    QSqlQuery q(db);
    if (!place.ServerTable.isEmpty())
        run(q,
            QStringLiteral("DELETE FROM %1 WHERE LOCKKEY = ? AND BACKENDPID = pg_backend_pid()")
                .arg(place.ServerTable),
            {place.ServerKey});
    run(q, QStringLiteral("SELECT pg_advisory_unlock(?)"), {place.ServerKey});
}

void TPostgreSqlDriver::DescribeLock(const QSqlDatabase &db, const TLockPlace &place,
                                     const QByteArray &holder, THeldLock *held) const
{
    Q_UNUSED(held);
    if (place.ServerTable.isEmpty())
        return;
    QSqlQuery q(db);
    run(q,
        QStringLiteral("UPDATE %1 SET HOLDER = ? WHERE LOCKKEY = ? AND BACKENDPID = "
                       "pg_backend_pid()")
            .arg(place.ServerTable),
        {QString::fromUtf8(holder), place.ServerKey});
}

std::optional<QByteArray> TPostgreSqlDriver::LockHolder(const QSqlDatabase &db,
                                                        const TLockPlace &place) const
{
    // The server shows a held advisory lock of a bigint key with its halves in classid and
    // objid; the row of the session that holds it describes the holder.
    const QString holder = place.ServerTable.isEmpty()
                               ? QStringLiteral("NULL")
                               : QStringLiteral("(SELECT HOLDER FROM %1 WHERE LOCKKEY = ? AND "
                                                "BACKENDPID = k.pid)")
                                     .arg(place.ServerTable);
    QVariantList values;
    if (!place.ServerTable.isEmpty())
        values << place.ServerKey;
    values << qint64(quint64(place.ServerKey) >> 32) << qint64(place.ServerKey & 0xFFFFFFFFLL);
    QSqlQuery q(db);
    if (!run(q,
             QStringLiteral("SELECT %1 FROM pg_locks k WHERE k.locktype = 'advisory' AND "
                            "k.granted AND k.classid::bigint = ? AND k.objid::bigint = ? AND "
                            "k.objsubid = 1 AND k.database = (SELECT oid FROM pg_database WHERE "
                            "datname = current_database())")
                 .arg(holder),
             values))
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()));
    if (!q.next())
        return std::nullopt;
    return q.value(0).toString().toUtf8();
}

void TPostgreSqlDriver::ApplyBusyWait(const QSqlDatabase &db, TBusyState &state) const
{
    // Row locks another session holds are waited for up to the limit; the server then fails
    // the statement with its lock timeout (55P03), which the engine's message names as busy.
    QSqlQuery q(db);
    q.exec(QStringLiteral("SET lock_timeout = %1").arg(qint64(state.Wait.Seconds) * 1000));
}

void TPostgreSqlDriver::MoveNumberingPast(const QSqlDatabase &db, const QString &table,
                                          const QString &column) const
{
    const QString bare = table.section(QLatin1Char('.'), -1);
    const QString sequence =
        FirstValue(db,
                   QStringLiteral("SELECT COALESCE(pg_get_serial_sequence(?, ?), "
                                  "to_regclass(lower(?))::text)"),
                   {table.toLower(), column.toLower(),
                    QString(bare + QLatin1Char('_') + column + QStringLiteral("_seq"))})
            .toString();
    if (sequence.isEmpty())
        throw EDBEngineError(
            QStringLiteral("Для поля %1 таблицы %2 нет последовательности").arg(column, table));
    // nextval first, so that a number handed out meanwhile is never taken back.
    FirstValue(db,
               QStringLiteral("SELECT setval(?::regclass, GREATEST(nextval(?::regclass), "
                              "(SELECT MAX(%1) FROM %2)))")
                   .arg(column, table),
               {sequence, sequence});
}

QVariant TPostgreSqlDriver::BindableDateTime(const QDateTime &dt) const
{
    // Qt's driver would send a bound QDateTime converted to UTC, shifting it by the local
    // offset: it goes as the ISO text of its own date and time instead.
    char text[24];
    if (const int n = TimestampText(dt, text); n > 0)
        return QString::fromLatin1(text, n);
    return dt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

std::shared_ptr<TStatement::Impl> TPostgreSqlDriver::Prepare(const QSqlDatabase &db,
                                                             const QString &sql) const
{
    return PrepareThroughQt(db, sql);
}

std::unique_ptr<TCursor> TPostgreSqlDriver::OpenTable(const QSqlDatabase &db, const QString &table,
                                                      bool readOnly) const
{
    return std::make_unique<TPgTableCursor>(*this, db, table, readOnly);
}

namespace {

// A parameterless SELECT is read through a server-side cursor a page at a time, so that a large
// result costs the client one page, and the connection stays free for other statements between
// pages. Other statements (with parameters, which Qt's driver cannot pass to DECLARE, or locking
// rows) are fetched whole.
bool serverSideCandidate(const QString &sql, const TBoundValues &params)
{
    if (!params.isEmpty())
        return false;
    static const QRegularExpression select(QStringLiteral("^\\s*SELECT\\b"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression locking(
        QStringLiteral("\\bFOR\\s+(UPDATE|SHARE|NO\\s+KEY|KEY)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    QString text = sql.trimmed();
    while (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    return select.match(text).hasMatch() && !text.contains(QLatin1Char(';')) &&
           !locking.match(text).hasMatch();
}

} // namespace

std::unique_ptr<TQueryRows> TPostgreSqlDriver::OpenQuery(const QSqlDatabase &db, const QString &sql,
                                                         const TBoundValues &params,
                                                         QSqlQuery *statement) const
{
    if (serverSideCandidate(sql, params))
        return OpenServerCursor(db, sql);
    return OpenFetchedRows(db, sql, params, statement);
}

} // namespace engine
