#pragma once

#include <QString>

class TDatabase;

// Which database a creation script makes: the central database or the ЕСВС reference database.
enum class SchemaKind
{
    Central,
    Esvs
};

// "central" or "esvs" (case-insensitive); false for anything else.
bool ParseSchemaKind(const QString &text, SchemaKind &kind);

// A schema grows by parts added after its first version, each a script of its own that makes
// its tables and what belongs to them, in the order they came. The central database has:
//   journal.sql        the import journal (IMPORTJOURNAL, IMPORTJOURNALTABLE)
//   importrefused.sql  the rows an import skipped (IMPORTJOURNALREFUSED)
//   exportjournal.sql  the export journal (EXPORTJOURNAL) and the indexes by which the state of
//                      workstations reads both journals
//   importlock.sql     who holds the import lock (IMPORTLOCK), on a server only
// A new database gets every part with the rest (CreateSchema); a database made before a part
// gets it from UpgradeSchema.

// The creation script of a schema for a driver ("SQLITE" or "POSTGRESQL", as in the alias),
// its later parts included. Throws EDatabaseError for a driver that has no script.
QString SchemaScript(SchemaKind kind, const QString &driver);

// Creates every table, index, sequence and trigger of the schema in the open database, in one
// transaction: on failure nothing of the script remains and EDBEngineError carries the engine's
// message and the failing statement.
void CreateSchema(TDatabase &db, SchemaKind kind);

// Makes each later part of the schema that the open database lacks (a part is there when all
// its tables are), in a transaction of its own; touches nothing else. Another program making
// the same part at the same time is no error.
void UpgradeSchema(TDatabase &db, SchemaKind kind);
