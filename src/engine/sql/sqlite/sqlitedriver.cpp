#include "engine/sql/sqlite/sqlitedriver.h"

#include "core/aliases.h"
#include "core/errors.h"
#include "engine/busywait.h"
#include "engine/database.h"
#include "engine/sql/queryrows.h"
#include "engine/sql/sqlite/lockfile.h"
#include "engine/sql/sqlite/sqlitestatement.h"
#include "engine/sql/tablecursor.h"
#include "engine/textfold.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <sqlite3.h>

namespace engine {

const TSqliteDriver &SqliteDriver()
{
    static const TSqliteDriver driver;
    return driver;
}

void TSqliteDriver::Open(QSqlDatabase &db, const TConnectionSettings &settings) const
{
    const QString file =
        settings.aliases.GetAliasPathParam(settings.alias, QStringLiteral("DATABASE NAME"));
    // SQLite would silently create a missing file: an alias to nothing is an error.
    if (file.isEmpty() || !QFileInfo(file).isFile())
        throw EDBEngineError(QStringLiteral("Файл базы данных не найден: %1").arg(file));
    db.setDatabaseName(file);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000");
    if (settings.readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
    if (!db.open())
        throw EDBEngineError(engineMessage(db.lastError(), db.driver()));
    {
        // The statement must be finalised before functions are registered: SQLite refuses to
        // change functions while a statement is active.
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA foreign_keys=OFF"));
        if (!settings.readOnly) {
            // A commit waits for one write of the log, not for the journal and the database
            // file in turn.
            q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
            q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
        }
        q.finish();
    }
    try {
        RegisterSqliteTextFolding(db);
    } catch (const Exception &e) {
        db.close();
        throw EDBEngineError(e.Message());
    }
}

namespace {

int busyHandler(void *state, int turn)
{
    return static_cast<TBusyState *>(state)->KeepWaiting(turn) ? 1 : 0;
}

} // namespace

void TSqliteDriver::ApplyBusyWait(const QSqlDatabase &db, TBusyState &state) const
{
    // Replaces the timeout Qt set: the handler waits, tells and stops as the state says.
    sqlite3_busy_handler(SqliteHandle(db), busyHandler, &state);
}

QString TSqliteDriver::BeginStatement(bool readOnly) const
{
    return readOnly ? QString() : QStringLiteral("BEGIN IMMEDIATE");
}

void TSqliteDriver::BeforeClose(const QSqlDatabase &db) const
{
    // SQLite does not close a connection that still has statements.
    FinalizeSqliteStatements(db);
}

void TSqliteDriver::DeferDurability(const QSqlDatabase &db, bool on) const
{
    // Deferred: commits do not wait, the log is copied into the file less often, and twice
    // SQLite's default of pages is kept; otherwise SQLite's defaults with full waits.
    const char *const settings[] = {on ? "synchronous=NORMAL" : "synchronous=FULL",
                                    on ? "wal_autocheckpoint=10000" : "wal_autocheckpoint=1000",
                                    on ? "cache_size=-4096" : "cache_size=-2000"};
    QSqlQuery q(db);
    for (const char *setting : settings)
        if (!q.exec(QStringLiteral("PRAGMA ") + QLatin1String(setting)))
            throw EDBEngineError(engineMessage(q.lastError(), q.driver()));
}

void TSqliteDriver::MakeDurable(const QSqlDatabase &db) const
{
    SyncSqliteLog(db);
}

void SyncSqliteLog(const QSqlDatabase &db)
{
    sqlite3 *h = SqliteHandle(db);
    sqlite3_file *log = nullptr;
    if (sqlite3_file_control(h, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) != SQLITE_OK || !log ||
        !log->pMethods)
        return; // no log open: nothing waits
    if (log->pMethods->xSync(log, SQLITE_SYNC_NORMAL) != SQLITE_OK)
        throw EDBEngineError(QStringLiteral("Не удалось записать журнал базы данных на диск"));
}

bool TSqliteDriver::TryLock(const QSqlDatabase &db, const TLockPlace &place,
                            const QByteArray &holder, std::unique_ptr<THeldLock> &held) const
{
    held = TLockFile::TryLock(db.databaseName() + place.FileSuffix, holder);
    return held != nullptr;
}

void TSqliteDriver::Unlock(const QSqlDatabase &db, const TLockPlace &place) const
{
    // The lock file gives the lock back when it goes.
    Q_UNUSED(db);
    Q_UNUSED(place);
}

void TSqliteDriver::DescribeLock(const QSqlDatabase &db, const TLockPlace &place,
                                 const QByteArray &holder, THeldLock *held) const
{
    Q_UNUSED(db);
    Q_UNUSED(place);
    if (auto *file = dynamic_cast<TLockFile *>(held))
        file->Describe(holder);
}

std::optional<QByteArray> TSqliteDriver::LockHolder(const QSqlDatabase &db,
                                                    const TLockPlace &place) const
{
    return TLockFile::Holder(db.databaseName() + place.FileSuffix);
}

void TSqliteDriver::MoveNumberingPast(const QSqlDatabase &db, const QString &table,
                                      const QString &column) const
{
    // The last part of a possibly schema-qualified name, as SQLite stores it.
    const QString bare = table.section(QLatin1Char('.'), -1);
    const bool autoincrement =
        FirstValue(db,
                   QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND "
                                  "lower(name) = lower(?)"),
                   {bare})
            .toString()
            .contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
    if (!autoincrement)
        return; // a rowid table numbers past its highest row by itself
    const qint64 highest =
        FirstValue(db, QStringLiteral("SELECT COALESCE(MAX(%1), 0) FROM %2").arg(column, table))
            .toLongLong();
    FirstValue(db,
               QStringLiteral("UPDATE sqlite_sequence SET seq = ? WHERE lower(name) = lower(?) AND "
                              "seq < ?"),
               {highest, bare, highest});
    const qint64 present =
        FirstValue(
            db, QStringLiteral("SELECT COUNT(*) FROM sqlite_sequence WHERE lower(name) = lower(?)"),
            {bare})
            .toLongLong();
    if (present == 0 && highest > 0)
        FirstValue(db, QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)"),
                   {bare, highest});
}

QVariant TSqliteDriver::BindableDateTime(const QDateTime &dt) const
{
    // SQLite keeps the ISO text of a local date-time, which carries no offset.
    char text[24];
    if (dt.timeSpec() == Qt::LocalTime)
        if (const int n = TimestampText(dt, text); n > 0)
            return QString::fromLatin1(text, n);
    return dt;
}

std::shared_ptr<TStatement::Impl> TSqliteDriver::Prepare(const QSqlDatabase &db,
                                                         const QString &sql) const
{
    return PrepareOnSqlite(db, sql);
}

std::unique_ptr<TCursor> TSqliteDriver::OpenTable(const QSqlDatabase &db, const QString &table,
                                                  bool readOnly) const
{
    return std::make_unique<TSqlTableCursor>(*this, db, table, readOnly);
}

std::unique_ptr<TQueryRows> TSqliteDriver::OpenQuery(const QSqlDatabase &db, const QString &sql,
                                                     const TBoundValues &params,
                                                     QSqlQuery *statement) const
{
    // SQLite prepares in microseconds: the rows keep a native statement of their own.
    Q_UNUSED(statement);
    return OpenSqliteQuery(db, sql, params);
}

} // namespace engine

bool RemoveSqliteFile(const QString &path)
{
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
    return !QFileInfo::exists(path) || QFile::remove(path);
}
