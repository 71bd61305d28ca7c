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

// The creation script of a schema for a driver ("SQLITE" or "POSTGRESQL", as in the alias).
// Throws EDatabaseError for a driver that has no script.
QString SchemaScript(SchemaKind kind, const QString &driver);

// Creates every table, index, sequence and trigger of the schema in the open database, in one
// transaction: on failure nothing of the script remains and EDBEngineError carries the engine's
// message and the failing statement.
void CreateSchema(TDatabase &db, SchemaKind kind);
