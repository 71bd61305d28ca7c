#pragma once

// The folder backend of the dataset layer: a folder of Paradox tables (a "PARADOX" alias or a
// folder opened with TDatabase::OpenFolder) is a database whose tables are its ".db" files.
//
//   - A table opens by file name ("City.DB"; without extension ".DB" is added; the name is
//     matched without regard to case). Reading streams the rows through the Paradox reader.
//   - Writing (append, edit by key, delete) loads the table into memory on the first change and
//     writes it back through the Paradox writer when the table closes: the file on disk changes
//     only once and completely, or not at all.
//   - SQL over the folder runs on an in-memory SQLite copy of the tables that the statement
//     names; a changing statement (INSERT, UPDATE, DELETE) writes its table back.
//   - CREATE TABLE makes an empty Paradox table with its primary key and fails when a table of
//     that name is already there.

#include "engine/cursor.h"
#include "engine/paradox/paradoxtable.h"

#include <QString>
#include <QStringList>

class TDatabase;

namespace engine {

// The backend; installed by InstallFolderBackend, which FolderBackend() does on first use.
std::shared_ptr<TFolderBackend> MakeParadoxFolderBackend();
// Installs the Paradox folder backend unless a backend is installed already.
void InstallFolderBackend();

// A parsed CREATE TABLE statement of the package-script dialect:
//   CREATE TABLE name ( column type [NOT NULL] [PRIMARY KEY], ... [, PRIMARY KEY (c1, c2 ...)] )
// with the types INTEGER/INT, SMALLINT, FLOAT/DOUBLE [PRECISION]/REAL/NUMERIC/DECIMAL, MONEY,
// BOOLEAN, DATE, TIME, TIMESTAMP, AUTOINC, CHAR(n)/VARCHAR(n)/CHARACTER(n) (1..255). The key
// columns must be the leading columns in key order, as Paradox keeps them.
struct TCreateTable
{
    QString TableName; // as written, without a ".db" extension
    paradox::Schema Schema;
};

// Null when the statement is not a CREATE TABLE; throws EDBEngineError for a CREATE TABLE that
// does not parse.
std::optional<TCreateTable> ParseCreateTable(const QString &sql);

// File of a table in a folder (folder ends with a separator): the name as given, or the file in
// the folder whose name differs only in case. Throws EDBEngineError for names that would leave
// the folder, and "Таблица не найдена" when mustExist and there is no such file.
QString FolderTablePath(const QString &folder, const QString &tableName, bool mustExist);

// Runs the statements of a script against a folder database. A failure removes the tables that
// the script created before it, so that the folder is left as it was found.
void ExecuteFolderScript(TDatabase &db, const QStringList &statements);

} // namespace engine
