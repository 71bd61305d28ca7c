#pragma once

// The PostgreSQL driver: a server reached over a connection ("POSTGRESQL" aliases: SERVER NAME,
// PORT, DATABASE NAME), where every statement is a round trip.
//
//   - Connections talk UTF-8 and plan every run of a prepared statement (plan_cache_mode): a
//     generic plan made while a job's table was small would scan it whole at any size.
//   - Statements run through Qt's driver. A parameterless query streams through a server-side
//     cursor (servercursor.cpp); one with parameters is fetched whole (fetchedrows.cpp).
//   - Tables: rows of a table without a key are addressed by ctid, which an update moves;
//     RETURNING reports what the database filled in. Many whole-number keys are searched with
//     arrays (keyarrays.cpp), and new rows may be held back and sent in groups of column arrays
//     with keys taken ahead from the table's sequence (groupinserts.cpp).
//   - A refused statement aborts the whole transaction; a snapshot is a REPEATABLE READ, READ
//     ONLY transaction; a lock is an advisory lock of the session.

#include "engine/sql/sqldriver.h"

namespace engine {

class TPostgreSqlDriver final : public TSqlDriver
{
public:
    QString Name() const override { return QStringLiteral("POSTGRESQL"); }
    QString QtDriverName() const override { return QStringLiteral("QPSQL"); }
    void Open(QSqlDatabase &db, const TConnectionSettings &settings) const override;
    void BeforeClose(const QSqlDatabase &db) const override { Q_UNUSED(db); }
    void ApplyBusyWait(const QSqlDatabase &db, TBusyState &state) const override;
    QString BeginStatement(bool readOnly) const override
    {
        Q_UNUSED(readOnly);
        return {};
    }
    bool IsServer() const override { return true; }
    bool RefusalAbortsTransaction() const override { return true; }
    // Commits always wait for the server's disk.
    void DeferDurability(const QSqlDatabase &db, bool on) const override
    {
        Q_UNUSED(db);
        Q_UNUSED(on);
    }
    void MakeDurable(const QSqlDatabase &db) const override { Q_UNUSED(db); }
    QString SnapshotStatement() const override;
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
    bool HasReturning() const override { return true; }
    bool ReturningAfterTriggers() const override { return true; }
    bool UpdateKeepsLocator() const override { return false; }
    void CheckInsertReported(const TTableInfo &table, const QString &name) const override
    {
        Q_UNUSED(table);
        Q_UNUSED(name);
    }
    QString ManyKeysCondition(const QStringList &columns, int count) const override;
};

const TPostgreSqlDriver &PostgreSqlDriver();

// The rows of a parameterless SELECT, read a page at a time through a server-side cursor.
std::unique_ptr<TQueryRows> OpenServerCursor(const QSqlDatabase &db, const QString &sql);
// The rows of a SELECT fetched whole, through the caller's kept statement when given.
std::unique_ptr<TQueryRows> OpenFetchedRows(const QSqlDatabase &db, const QString &sql,
                                            const TBoundValues &params, QSqlQuery *statement);

} // namespace engine
