#pragma once

#include <QString>
#include <memory>

class TDatabase;
namespace engine {
class THeldLock;
}

// A lock that one process at a time holds on a database, across processes and machines, for
// work that must not run twice at once (an import). On a server it is an advisory lock of the
// session, numbered serverKey, which the server drops with the connection; on an SQLite file
// it is a lock file beside the database file (its name + fileSuffix) that the system drops with
// the process. Neither outlives the process that holds it. Used on the thread of its
// TDatabase, which it must not outlive.
class TDatabaseLock
{
public:
    // The lock, or nullptr when another holds it. Throws EDBEngineError when the server
    // cannot be asked, EFileError naming the lock file when it cannot be made.
    static std::unique_ptr<TDatabaseLock> TryAcquire(TDatabase &db, qint64 serverKey,
                                                     const QString &fileSuffix);
    ~TDatabaseLock();
    TDatabaseLock(const TDatabaseLock &) = delete;
    TDatabaseLock &operator=(const TDatabaseLock &) = delete;

    // Made by TryAcquire only.
    class Key
    {
        friend class TDatabaseLock;
        Key() = default;
    };
    TDatabaseLock(Key, TDatabase &db, qint64 serverKey, std::unique_ptr<engine::THeldLock> held);

private:
    TDatabase &m_db;
    qint64 m_serverKey;
    std::unique_ptr<engine::THeldLock> m_held;
};
