#include "engine/databaselock.h"

#include "engine/database.h"
#include "engine/sql/sqldriver.h"

std::unique_ptr<TDatabaseLock> TDatabaseLock::TryAcquire(TDatabase &db, qint64 serverKey,
                                                         const QString &fileSuffix)
{
    // A folder database has nobody to lock out.
    std::unique_ptr<engine::THeldLock> held;
    if (const engine::TSqlDriver *driver = db.SqlDriver())
        if (!driver->TryLock(db.Sql(), serverKey, fileSuffix, held))
            return nullptr;
    return std::make_unique<TDatabaseLock>(Key(), db, serverKey, std::move(held));
}

TDatabaseLock::TDatabaseLock(Key, TDatabase &db, qint64 serverKey,
                             std::unique_ptr<engine::THeldLock> held)
    : m_db(db), m_serverKey(serverKey), m_held(std::move(held))
{
}

TDatabaseLock::~TDatabaseLock()
{
    const engine::TSqlDriver *driver = m_db.SqlDriver();
    if (!driver || !m_db.Connected())
        return;
    try {
        driver->Unlock(m_db.Sql(), m_serverKey);
    } catch (...) {
        // The lock goes with the connection anyway.
    }
}
