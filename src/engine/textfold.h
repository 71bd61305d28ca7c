#pragma once

#include <QSqlDatabase>

// SQLite folds case only for ASCII, and its LIKE ignores ASCII case; the central database on
// PostgreSQL folds Cyrillic too and matches LIKE with case. Every SQLite connection of the
// system gets UTF-8-aware upper(), lower(), a like() (with and without ESCAPE) that compares
// code points exactly, and the collation NOCASE_RU, so that the same SQL gives the same rows on
// both. Called by the SQLite driver for every connection it opens (implemented beside it, in
// sql/sqlite/textfold.cpp); throws EDBEngineError when SQLite refuses.
namespace engine {
void RegisterSqliteTextFolding(const QSqlDatabase &db);
}
