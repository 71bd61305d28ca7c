#include "engine/sql/postgresql/postgresqldriver.h"

#include "core/aliases.h"
#include "core/errors.h"
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

bool TPostgreSqlDriver::TryLock(const QSqlDatabase &db, qint64 serverKey, const QString &fileSuffix,
                                std::unique_ptr<THeldLock> &held) const
{
    Q_UNUSED(fileSuffix);
    Q_UNUSED(held);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT pg_try_advisory_lock(?)"));
    q.addBindValue(serverKey);
    if (!q.exec() || !q.next())
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()));
    return q.value(0).toBool();
}

void TPostgreSqlDriver::Unlock(const QSqlDatabase &db, qint64 serverKey) const
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT pg_advisory_unlock(?)"));
    q.addBindValue(serverKey);
    q.exec();
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
