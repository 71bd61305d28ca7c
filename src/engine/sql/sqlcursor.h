#pragma once

// Cursors over a Qt SQL connection (SQLite or PostgreSQL): the SQL backend's door for TTable and
// TQuery, and for a folder backend that runs SQL on an SQLite copy of its tables. Each asks the
// connection's driver (sqldriver.h) for what its backend does.

#include "engine/cursor.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace engine {

// A table by name ("CITY", "kzcenter.city"; case-insensitive, resolved against the catalogue).
// Reads a page of rows at a time in primary-key order (SQLite rowid or PostgreSQL ctid for a
// table without a primary key), so memory does not depend on the table's size. Every statement
// is prepared once per cursor and shape: Locate/Lookup are SELECT ... WHERE key = ? (a
// case-insensitive text key compares UPPER(col) = UPPER(?), which an index on UPPER(col)
// serves; a value without letters compares the column itself, which its plain index serves);
// Insert binds every column, Null or not, except a Null column with a default (one INSERT per
// pattern of such Nulls, usually one in all) and learns the filled-in key from RETURNING or
// SQLite's last rowid instead of reading the row again; Update writes the changed columns by
// primary key. A table with triggers, which may change any column, is read back whole.
std::unique_ptr<TCursor> MakeSqlTableCursor(const QSqlDatabase &db, const QString &tableName,
                                            bool readOnly);

// The rows of a SELECT with "?" placeholders bound to params in order. On SQLite the rows
// stream (forward-only). On PostgreSQL a SELECT without parameters is read a page at a time
// through a server-side cursor (held past commits); one with parameters is fetched whole,
// because Qt's streaming mode there loses the rows as soon as any other statement runs on the
// connection and its driver cannot bind parameters of DECLARE.
//
// statement, when given, is a prepared statement kept by the caller between cursors (a TQuery
// opened again and again with new values): the cursor runs the statement through it when it
// holds the same SQL on the same connection, and prepares it there otherwise, so that a
// PostgreSQL server prepares the text once instead of once per opening. Only one cursor at a
// time may use a given statement.
std::unique_ptr<TCursor> MakeSqlQueryCursor(const QSqlDatabase &db, const QString &sql,
                                            const TBoundValues &params,
                                            QSqlQuery *statement = nullptr);

// Runs a statement without result; returns the rows affected (-1 when unknown).
int ExecSql(const QSqlDatabase &db, const QString &sql, const TBoundValues &params);

// Whether a table of that name exists (same resolution as MakeSqlTableCursor).
bool SqlTableExists(const QSqlDatabase &db, const QString &tableName);

} // namespace engine
