#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

// What the state of workstations reads from the journals, as the import and export write it.

// The result of a run that succeeded.
inline const QString JournalSucceeded = QStringLiteral("успешно");
// The label of the import's step that writes persons (IMPORTJOURNALTABLE.TABLENAME).
inline const QString PersonStep = QStringLiteral("Person");

// A journal time as a query gives it: a date-time, or SQLite's text of one (an expression over a
// column has no declared type there); invalid for Null.
QDateTime JournalTime(const QVariant &value);
