#include "engine/databaselock.h"

#include "engine/database.h"
#include "engine/sql/sqldriver.h"

std::unique_ptr<TDatabaseLock> TDatabaseLock::TryAcquire(TDatabase &db, const TLockPlace &place,
                                                         const QByteArray &holder)
{
    // A folder database has nobody to lock out.
    std::unique_ptr<engine::THeldLock> held;
    if (const engine::TSqlDriver *driver = db.SqlDriver())
        if (!driver->TryLock(db.Sql(), place, holder, held))
            return nullptr;
    return std::make_unique<TDatabaseLock>(Key(), db, place, std::move(held));
}

std::optional<QByteArray> TDatabaseLock::Holder(TDatabase &db, const TLockPlace &place)
{
    if (const engine::TSqlDriver *driver = db.SqlDriver())
        return driver->LockHolder(db.Sql(), place);
    return std::nullopt;
}

TDatabaseLock::TDatabaseLock(Key, TDatabase &db, TLockPlace place,
                             std::unique_ptr<engine::THeldLock> held)
    : m_db(db), m_place(std::move(place)), m_held(std::move(held))
{
}

void TDatabaseLock::Describe(const QByteArray &holder)
{
    const engine::TSqlDriver *driver = m_db.SqlDriver();
    if (!driver || !m_db.Connected())
        return;
    try {
        driver->DescribeLock(m_db.Sql(), m_place, holder, m_held.get());
    } catch (...) {
        // The description is for others' information only.
    }
}

TDatabaseLock::~TDatabaseLock()
{
    const engine::TSqlDriver *driver = m_db.SqlDriver();
    if (!driver || !m_db.Connected())
        return;
    try {
        driver->Unlock(m_db.Sql(), m_place);
    } catch (...) {
        // The lock goes with the connection anyway.
    }
}
