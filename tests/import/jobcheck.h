#pragma once

#include "engine/database.h"
#include "import/importjournal.h"
#include "tabledigest.h"

#include <QCryptographicHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

// What the import tests read the central database by.

// Counts per table as "Table new/edited/mappings/registrations".
inline QStringList countsText(const QList<TImportTableCounts> &counts)
{
    QStringList out;
    for (const TImportTableCounts &c : counts)
        out << QStringLiteral("%1 %2/%3/%4/%5")
                   .arg(c.Table)
                   .arg(c.NewRows)
                   .arg(c.EditedRows)
                   .arg(c.NewMappings)
                   .arg(c.Registrations);
    return out;
}

// The counts the journal holds for a run, in step order.
inline QStringList journalCounts(TDatabase &db, qint64 run)
{
    QSqlQuery q(db.Sql());
    q.prepare(QStringLiteral("SELECT TABLENAME, NEWROWS, EDITEDROWS, NEWMAPPINGS, REGISTRATIONS "
                             "FROM IMPORTJOURNALTABLE WHERE RUNGID = ? ORDER BY STEPNO"));
    q.addBindValue(run);
    if (!q.exec())
        qFatal("%s", qPrintable(q.lastError().text()));
    QList<TImportTableCounts> out;
    while (q.next())
        out.append({q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toLongLong(), 0,
                    q.value(3).toLongLong(), q.value(4).toLongLong()});
    return countsText(out);
}
