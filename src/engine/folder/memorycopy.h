#pragma once

// SQL over a folder database: the statement runs on an in-memory SQLite copy of the folder's
// tables that it names (a word or quoted name that is a table file's name, with or without its
// extension; a qualified column names its table before the dot), through the SQL cursors.

#include "engine/cursor.h"

class TDatabase;

namespace engine {

// A SELECT; the copy lives as long as the cursor.
std::unique_ptr<TCursor> OpenQueryOverCopy(const QString &folder, const QString &sql,
                                           const TBoundValues &params);

// A statement without result; a changing statement (INSERT, UPDATE, DELETE) writes the table it
// changes back, and is refused on a read-only database. Returns the rows affected or -1.
int ExecOverCopy(TDatabase &db, const QString &sql, const TBoundValues &params);

} // namespace engine
