#include "engine/databaselock.h"

#include "core/errors.h"
#include "engine/database.h"

#include <QLockFile>
#include <QSqlError>
#include <QSqlQuery>

std::unique_ptr<TDatabaseLock> TDatabaseLock::TryAcquire(TDatabase &db, qint64 serverKey,
                                                         const QString &fileSuffix)
{
    if (db.IsServer()) {
        QSqlQuery q(db.Sql());
        q.prepare(QStringLiteral("SELECT pg_try_advisory_lock(?)"));
        q.addBindValue(serverKey);
        if (!q.exec() || !q.next())
            throw EDBEngineError(engineMessage(q.lastError()));
        if (!q.value(0).toBool())
            return nullptr;
        return std::make_unique<TDatabaseLock>(Key(), db, serverKey, nullptr);
    }
    std::unique_ptr<QLockFile> file;
    if (!db.IsFolder()) {
        file = std::make_unique<QLockFile>(db.Sql().databaseName() + fileSuffix);
        file->setStaleLockTime(0);
        if (!file->tryLock(0))
            return nullptr;
    }
    return std::make_unique<TDatabaseLock>(Key(), db, serverKey, std::move(file));
}

TDatabaseLock::TDatabaseLock(Key, TDatabase &db, qint64 serverKey, std::unique_ptr<QLockFile> file)
    : m_db(db), m_serverKey(serverKey), m_file(std::move(file))
{
}

TDatabaseLock::~TDatabaseLock()
{
    if (!m_db.IsServer() || !m_db.Connected())
        return;
    try {
        QSqlQuery q(m_db.Sql());
        q.prepare(QStringLiteral("SELECT pg_advisory_unlock(?)"));
        q.addBindValue(m_serverKey);
        q.exec();
    } catch (...) {
        // The lock goes with the connection anyway.
    }
}
