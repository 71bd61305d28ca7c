#pragma once

#include <QSqlDatabase>

// SQLite folds case only for ASCII; the central database folds Cyrillic too. Every SQLite
// connection of the system gets UTF-8-aware upper(), lower(), a case-insensitive like() (with
// and without ESCAPE) and the collation NOCASE_RU, so that the same SQL behaves the same on
// both. Called by TDatabase::Open for SQLITE aliases; throws EDBEngineError when SQLite refuses.
namespace engine {
void RegisterSqliteTextFolding(const QSqlDatabase &db);
}
