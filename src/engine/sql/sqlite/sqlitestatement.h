#pragma once

#include "engine/sql/preparedstatement.h"

namespace engine {

// A statement prepared on SQLite's own handle: for the short indexed statements a cursor runs per
// row, Qt's driver spends more than SQLite itself (parameter bookkeeping by generated names, a
// column record built per run, texts converted to UTF-16 and back). Values bind and read back as
// through Qt's driver. The statements of a connection are finalised before it closes
// (FinalizeSqliteStatements, statement.h).
std::shared_ptr<TStatement::Impl> PrepareOnSqlite(const QSqlDatabase &db, const QString &sql);

} // namespace engine
