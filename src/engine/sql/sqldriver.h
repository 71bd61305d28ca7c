#pragma once

// One driver per SQL backend (sqlite/, postgresql/) behind one interface: everything the engine
// does differently on SQLite and on PostgreSQL is asked of the connection's driver, never decided
// by comparing names. TDatabase opens and keeps its connection through it, TStatement prepares
// through it, and the table and query cursors (tablecursor.h, querycursor.h) are written once
// against it: the driver describes tables and answers the dialect's questions.

#include "engine/cursor.h"
#include "engine/databaselock.h"
#include "engine/statement.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QSqlDriver;
class QSqlQuery;
class TAliasStore;

namespace engine {

class TQueryRows;
class TBusyState;

// What opening a connection takes from its TDatabase.
struct TConnectionSettings
{
    const TAliasStore &aliases;
    QString alias;
    QString userName;
    QString password;
    bool readOnly = false;
};

// What a table cursor knows of its table from the catalogue (TSqlDriver::DescribeTable).
struct TTableInfo
{
    QString table; // quoted and qualified as statements name it
    QList<TColumn> columns;
    QStringList quotedColumns;
    QList<int> keys; // the primary key's columns, in key order
    QList<int>
        defaulted; // columns with a default (or an identity), left out of an INSERT when Null
    bool hasTriggers = false;
    // Rows of a table without a key can be addressed by the row locator.
    bool rowsLocatable = false;
    // SQLite: a rowid table, whose last inserted rowid the database reports, and its INTEGER
    // PRIMARY KEY column, which is the rowid (-1: none).
    bool hasRowid = false;
    int rowidAlias = -1;
    // PostgreSQL: where the table is (unquoted), and the columns' types when every one has a
    // plain array type of its own (rows may then be sent in groups).
    QString schema;
    QString relation;
    QStringList arrayTypes;
};

// How a row of a table without a primary key is addressed.
struct TRowLocator
{
    QString column; // selected after the columns
    QString order;  // the reading order
    QString equals; // one row, with its locator bound
    QString after;  // the rows after one, with its locator bound
};

// A lock a backend holds by an object of its own (a lock file); giving it back is destroying it.
class THeldLock
{
public:
    virtual ~THeldLock() = default;
};

class TSqlDriver
{
public:
    virtual ~TSqlDriver() = default;

    // --- connections
    // The alias's TYPE ("SQLITE", "POSTGRESQL") and Qt's driver for it ("QSQLITE", "QPSQL").
    virtual QString Name() const = 0;
    virtual QString QtDriverName() const = 0;
    // Opens db, made with QtDriverName, for the settings, and sets the connection up. Throws
    // EDBEngineError with the engine's message, db then closed.
    virtual void Open(QSqlDatabase &db, const TConnectionSettings &settings) const = 0;
    // What must end before a connection closes.
    virtual void BeforeClose(const QSqlDatabase &db) const = 0;
    // Makes an open connection wait for a busy database as state.Wait says; state lives as long
    // as the connection.
    virtual void ApplyBusyWait(const QSqlDatabase &db, TBusyState &state) const = 0;
    // The statement that begins a transaction; empty: Qt's own.
    virtual QString BeginStatement(bool readOnly) const = 0;
    // TDatabase::IsServer and RefusalAbortsTransaction.
    virtual bool IsServer() const = 0;
    virtual bool RefusalAbortsTransaction() const = 0;
    // TDatabase::DeferDurability and MakeDurable on a writable connection.
    virtual void DeferDurability(const QSqlDatabase &db, bool on) const = 0;
    virtual void MakeDurable(const QSqlDatabase &db) const = 0;
    // The statement that makes a transaction just begun see one picture of the database
    // (TReadSnapshot); empty where nothing else commits meanwhile.
    virtual QString SnapshotStatement() const = 0;
    // TDatabaseLock: takes the lock described by holder (false when another holds it); held
    // receives what holds it where the backend locks by a file. Unlock gives back a lock held
    // without one; DescribeLock describes the holder anew; LockHolder reads who holds it.
    virtual bool TryLock(const QSqlDatabase &db, const TLockPlace &place, const QByteArray &holder,
                         std::unique_ptr<THeldLock> &held) const = 0;
    virtual void Unlock(const QSqlDatabase &db, const TLockPlace &place) const = 0;
    virtual void DescribeLock(const QSqlDatabase &db, const TLockPlace &place,
                              const QByteArray &holder, THeldLock *held) const = 0;
    virtual std::optional<QByteArray> LockHolder(const QSqlDatabase &db,
                                                 const TLockPlace &place) const = 0;
    // MoveNumberingPast (numbering.h) of a checked table and column.
    virtual void MoveNumberingPast(const QSqlDatabase &db, const QString &table,
                                   const QString &column) const = 0;
    // A date-time as it must be bound: the columns hold wall-clock times (BindableValue).
    virtual QVariant BindableDateTime(const QDateTime &dt) const = 0;

    // --- statements and cursors
    virtual std::shared_ptr<TStatement::Impl> Prepare(const QSqlDatabase &db,
                                                      const QString &sql) const = 0;
    virtual std::unique_ptr<TCursor> OpenTable(const QSqlDatabase &db, const QString &table,
                                               bool readOnly) const = 0;
    // The rows of a SELECT; statement as for MakeSqlQueryCursor (sqlcursor.h).
    virtual std::unique_ptr<TQueryRows> OpenQuery(const QSqlDatabase &db, const QString &sql,
                                                  const TBoundValues &params,
                                                  QSqlQuery *statement) const = 0;

    // --- the dialect of the table cursor
    // A table by name, case-insensitive; throws EDBEngineError "Таблица не найдена".
    virtual TTableInfo DescribeTable(const QSqlDatabase &db, const QString &name) const = 0;
    virtual const TRowLocator &Locator() const = 0;
    // INSERT and UPDATE report rows with RETURNING.
    virtual bool HasReturning() const = 0;
    // RETURNING reports the row as its triggers left it (otherwise such a row is read again).
    virtual bool ReturningAfterTriggers() const = 0;
    // An UPDATE keeps the row's locator.
    virtual bool UpdateKeepsLocator() const = 0;
    // Throws EDBEngineError when an INSERT into the table could not report the row it stored.
    virtual void CheckInsertReported(const TTableInfo &table, const QString &name) const = 0;
    // The condition that a row's columns (quoted; two or more) equal one of count keys bound in
    // order, served by the table's index.
    virtual QString ManyKeysCondition(const QStringList &columns, int count) const = 0;
};

// The driver of an alias's TYPE; nullptr for a type that names no SQL backend.
const TSqlDriver *SqlDriverNamed(const QString &name);
// The driver of a Qt connection; nullptr for one of no backend the engine knows.
const TSqlDriver *SqlDriverOf(const QSqlDriver *driver);
inline const TSqlDriver *SqlDriverOf(const QSqlDatabase &db)
{
    return SqlDriverOf(db.driver());
}
// The same, throwing EDBEngineError for an unknown one.
const TSqlDriver &SqlDriverFor(const QSqlDatabase &db);

} // namespace engine
