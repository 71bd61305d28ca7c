#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

class TDatabase;
namespace engine {
class THeldLock;
}

// Where a lock of a database is kept: on a server an advisory lock of the session numbered
// ServerKey, whose holder is described by a row of ServerTable (LOCKKEY, BACKENDPID, HOLDER;
// empty: not described); beside an SQLite file a lock file (the file's name + FileSuffix) that
// holds the description itself.
struct TLockPlace
{
    qint64 ServerKey = 0;
    QString FileSuffix;
    QString ServerTable;
};

// A lock that one process at a time holds on a database, across processes and machines, for
// work that must not run twice at once (an import). The server drops an advisory lock with the
// connection, the system a lock file's lock with the process: neither outlives the process that
// holds it, and a description left by a killed holder describes nobody. Used on the thread of
// its TDatabase, outside a transaction, and must not outlive the TDatabase.
class TDatabaseLock
{
public:
    // The lock, described by holder (what Holder() reads back), or nullptr when another holds
    // it. Throws EDBEngineError when the server cannot be asked, EFileError naming the lock file
    // when it cannot be made.
    static std::unique_ptr<TDatabaseLock> TryAcquire(TDatabase &db, const TLockPlace &place,
                                                     const QByteArray &holder = {});
    // Who holds the lock now, as the holder described itself (empty when it did not); nothing
    // when it is free.
    static std::optional<QByteArray> Holder(TDatabase &db, const TLockPlace &place);

    ~TDatabaseLock();
    TDatabaseLock(const TDatabaseLock &) = delete;
    TDatabaseLock &operator=(const TDatabaseLock &) = delete;

    // Describes the holder anew (what it is doing now). Best effort: the lock holds either way.
    void Describe(const QByteArray &holder);

    // Made by TryAcquire only.
    class Key
    {
        friend class TDatabaseLock;
        Key() = default;
    };
    TDatabaseLock(Key, TDatabase &db, TLockPlace place, std::unique_ptr<engine::THeldLock> held);

private:
    TDatabase &m_db;
    TLockPlace m_place;
    std::unique_ptr<engine::THeldLock> m_held;
};
