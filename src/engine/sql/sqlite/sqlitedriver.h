#pragma once

// The SQLite driver: an embedded database file ("SQLITE" aliases, DATABASE NAME = file).
//
//   - Connections: a missing file is an error (SQLite would create it); a writable file is kept
//     with a write-ahead log, so that a commit waits for one write to the disk, and durability
//     may be deferred (synchronous=NORMAL) until MakeDurable synchronises the log. Every
//     connection gets the Cyrillic-aware text functions of textfold.h.
//   - Statements run on the library's own handle (sqlitestatement.h); query rows stream.
//   - Tables: rows of a table without a key are addressed by rowid; a new row's number comes
//     from the last inserted rowid instead of RETURNING (which SQLite 3.35 brought, and which
//     shows a row before its AFTER triggers ran); many keys are searched as an OR of terms, each
//     served by the index.
//   - A statement the database refuses is undone alone; a lock is a file beside the database.
//   - Writers take turns: a transaction of a writable connection takes the write lock when it
//     begins (BEGIN IMMEDIATE), and a statement that finds another writer waits in the busy
//     handler as the connection's TBusyWait says.

#include "engine/sql/sqldriver.h"

namespace engine {

class TSqliteDriver final : public TSqlDriver
{
public:
    QString Name() const override { return QStringLiteral("SQLITE"); }
    QString QtDriverName() const override { return QStringLiteral("QSQLITE"); }
    void Open(QSqlDatabase &db, const TConnectionSettings &settings) const override;
    void BeforeClose(const QSqlDatabase &db) const override;
    void ApplyBusyWait(const QSqlDatabase &db, TBusyState &state) const override;
    QString BeginStatement(bool readOnly) const override;
    bool IsServer() const override { return false; }
    bool RefusalAbortsTransaction() const override { return false; }
    void DeferDurability(const QSqlDatabase &db, bool on) const override;
    void MakeDurable(const QSqlDatabase &db) const override;
    QString SnapshotStatement() const override { return {}; }
    bool TryLock(const QSqlDatabase &db, const TLockPlace &place, const QByteArray &holder,
                 std::unique_ptr<THeldLock> &held) const override;
    void Unlock(const QSqlDatabase &db, const TLockPlace &place) const override;
    void DescribeLock(const QSqlDatabase &db, const TLockPlace &place, const QByteArray &holder,
                      THeldLock *held) const override;
    std::optional<QByteArray> LockHolder(const QSqlDatabase &db,
                                         const TLockPlace &place) const override;
    void MoveNumberingPast(const QSqlDatabase &db, const QString &table,
                           const QString &column) const override;
    QVariant BindableDateTime(const QDateTime &dt) const override;

    std::shared_ptr<TStatement::Impl> Prepare(const QSqlDatabase &db,
                                              const QString &sql) const override;
    std::unique_ptr<TCursor> OpenTable(const QSqlDatabase &db, const QString &table,
                                       bool readOnly) const override;
    std::unique_ptr<TQueryRows> OpenQuery(const QSqlDatabase &db, const QString &sql,
                                          const TBoundValues &params,
                                          QSqlQuery *statement) const override;

    TTableInfo DescribeTable(const QSqlDatabase &db, const QString &name) const override;
    const TRowLocator &Locator() const override;
    bool HasReturning() const override;
    bool ReturningAfterTriggers() const override { return false; }
    bool UpdateKeepsLocator() const override { return true; }
    void CheckInsertReported(const TTableInfo &table, const QString &name) const override;
    QString ManyKeysCondition(const QStringList &columns, int count) const override;
};

const TSqliteDriver &SqliteDriver();

// The rows of a query on SQLite, streaming from a statement on the library's handle.
std::unique_ptr<TQueryRows> OpenSqliteQuery(const QSqlDatabase &db, const QString &sql,
                                            const TBoundValues &params);

} // namespace engine
