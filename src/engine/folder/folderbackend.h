#pragma once

// The folder backend of the dataset layer: a folder of Paradox tables (a "PARADOX" alias or a
// folder opened with TDatabase::OpenFolder) is a database whose tables are its ".db" files
// (tablefiles.h).
//
//   - A table is read and written by the Paradox table cursor (paradoxcursor.h).
//   - SQL over the folder runs on an in-memory SQLite copy of the tables that the statement
//     names (memorycopy.h); a changing statement writes its table back.
//   - CREATE TABLE (createtable.h) makes an empty Paradox table with its primary key and fails
//     when a table of that name is already there.

#include "engine/cursor.h"

#include <QStringList>

class TDatabase;

namespace engine {

// The backend; installed by InstallFolderBackend, which FolderBackend() does on first use.
std::shared_ptr<TFolderBackend> MakeParadoxFolderBackend();
// Installs the Paradox folder backend unless a backend is installed already.
void InstallFolderBackend();

// Runs the statements of a script against a folder database. A failure removes the tables that
// the script created before it, so that the folder is left as it was found.
void ExecuteFolderScript(TDatabase &db, const QStringList &statements);

} // namespace engine
