#pragma once

#include "engine/database.h"
#include "import/importjournal.h"

#include <QCryptographicHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

// What the import tests read the central database by.

// Every table of the database as "name: rows digest-of-its-sorted-rows".
inline QStringList tableDigest(TDatabase &db)
{
    QStringList out;
    QStringList tables = db.Sql().tables();
    tables.sort(Qt::CaseInsensitive);
    for (const QString &t : std::as_const(tables)) {
        if (t.startsWith(QLatin1String("sqlite_")))
            continue;
        QSqlQuery q(db.Sql());
        if (!q.exec(QStringLiteral("SELECT * FROM ") + t))
            qFatal("%s", qPrintable(t));
        QStringList rows;
        while (q.next()) {
            QStringList values;
            for (int i = 0; i < q.record().count(); ++i)
                values << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
            rows << values.join(QLatin1Char('|'));
        }
        rows.sort();
        const QByteArray hash = QCryptographicHash::hash(rows.join(QLatin1Char('\n')).toUtf8(),
                                                         QCryptographicHash::Sha256);
        out << QStringLiteral("%1: %2 %3")
                   .arg(t.toUpper())
                   .arg(rows.size())
                   .arg(QString::fromLatin1(hash.toHex()));
    }
    return out;
}

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
