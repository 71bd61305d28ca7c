#pragma once

#include <QString>
#include <QStringList>

class TDatabase;

namespace engine {

// Splits an SQL script into its statements. A statement ends with ";" outside quotes, comments
// and dollar-quoted bodies; a CREATE TRIGGER whose body is a BEGIN ... END block ends only with
// the ";" after its END. Comments and blanks before a statement are dropped, and so are pieces
// that hold nothing but comments. The terminating ";" is not part of the statement.
QStringList SplitSqlScript(const QString &script);

// Runs the statements of a script in one transaction (or inside the caller's transaction when
// one is open). On the first failure everything done by the script is rolled back and
// EDBEngineError carries the engine's message and the failing statement. Against a folder
// database the statements go to the folder backend (CREATE TABLE makes Paradox tables), and a
// failure removes the tables that the script had created.
void ExecuteScript(TDatabase &db, const QString &script);

// Runs one SQL text as it is, unprepared and without values (savepoint commands, which
// PostgreSQL cannot prepare; several ";"-joined commands go in one round trip). Throws
// EDBEngineError with the engine's message and the text.
void ExecuteStatement(TDatabase &db, const QString &sql);

} // namespace engine
