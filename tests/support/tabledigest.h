#pragma once

#include "engine/database.h"

#include <QCryptographicHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

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
