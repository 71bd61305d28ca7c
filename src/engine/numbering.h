#pragma once

// After rows were inserted with identifiers of their own (copied from elsewhere), the
// identifiers the database assigns later must not collide with them:
//
//     MoveNumberingPast(db, "REGION", "REGGID");
//
// moves the numbering of table.column past the highest identifier stored in it (PostgreSQL:
// setval of the column's sequence, the one its default names, else "<table>_<column>_seq";
// SQLite: the sqlite_sequence entry of an AUTOINCREMENT table; a plain rowid table numbers past
// its highest row by itself). Table and column names come from the program, never from input,
// and must be plain identifiers ("PERSON", "kzcenter.city"), otherwise EDatabaseError. Errors
// of the engine are EDBEngineError with its message.

#include <QString>

class TDatabase;

void MoveNumberingPast(TDatabase &db, const QString &table, const QString &column);
