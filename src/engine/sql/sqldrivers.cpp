// The SQL drivers the engine knows: the one place that names both.

#include "core/errors.h"
#include "engine/sql/postgresql/postgresqldriver.h"
#include "engine/sql/sqldriver.h"
#include "engine/sql/sqlite/sqlitedriver.h"

#include <QSqlDriver>

namespace engine {

const TSqlDriver *SqlDriverNamed(const QString &name)
{
    const TSqlDriver *const drivers[] = {&SqliteDriver(), &PostgreSqlDriver()};
    for (const TSqlDriver *driver : drivers)
        if (driver->Name() == name)
            return driver;
    return nullptr;
}

const TSqlDriver *SqlDriverOf(const QSqlDriver *driver)
{
    switch (driver ? driver->dbmsType() : QSqlDriver::UnknownDbms) {
    case QSqlDriver::SQLite:
        return &SqliteDriver();
    case QSqlDriver::PostgreSQL:
        return &PostgreSqlDriver();
    default:
        return nullptr;
    }
}

const TSqlDriver &SqlDriverFor(const QSqlDatabase &db)
{
    if (const TSqlDriver *driver = SqlDriverOf(db))
        return *driver;
    throw EDBEngineError(QStringLiteral("Соединение с базой данных закрыто"));
}

} // namespace engine
