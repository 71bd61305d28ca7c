#include "engine/numbering.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/statement.h"

#include <QRegularExpression>

namespace {

// A table or column name written by the program. Unquoted, so that PostgreSQL folds it as it
// folded the names of the creation scripts.
const QString &identifier(const QString &name)
{
    static const QRegularExpression plain(
        QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*(\\.[A-Za-z_][A-Za-z0-9_]*)?$"));
    if (!plain.match(name).hasMatch())
        throw EDatabaseError(QStringLiteral("Недопустимое имя в запросе: %1").arg(name));
    return name;
}

// The first value of a statement's first row; an invalid value when it gives no row.
QVariant first(TDatabase &db, const QString &sql, const engine::TBoundValues &params)
{
    engine::TStatement s(db.Sql(), sql);
    s.exec(params);
    const QVariant v = s.next() ? s.value(0) : QVariant();
    s.finish();
    return v;
}

// The last part of a possibly schema-qualified name, as SQLite stores it.
QString bareName(const QString &table)
{
    return table.section(QLatin1Char('.'), -1);
}

} // namespace

void MoveNumberingPast(TDatabase &db, const QString &table, const QString &column)
{
    if (!db.Connected())
        db.Open();
    if (db.IsFolder())
        throw EDatabaseError(
            QStringLiteral("База данных %1 не нумерует записи сама").arg(db.DatabaseName));
    identifier(table);
    identifier(column);
    if (db.Driver() != QLatin1String("SQLITE")) {
        const QString sequence =
            first(db,
                  QStringLiteral("SELECT COALESCE(pg_get_serial_sequence(?, ?), "
                                 "to_regclass(lower(?))::text)"),
                  {table.toLower(), column.toLower(),
                   QString(bareName(table) + QLatin1Char('_') + column + QStringLiteral("_seq"))})
                .toString();
        if (sequence.isEmpty())
            throw EDBEngineError(
                QStringLiteral("Для поля %1 таблицы %2 нет последовательности").arg(column, table));
        // nextval first, so that a number handed out meanwhile is never taken back.
        first(db,
              QStringLiteral("SELECT setval(?::regclass, GREATEST(nextval(?::regclass), "
                             "(SELECT MAX(%1) FROM %2)))")
                  .arg(column, table),
              {sequence, sequence});
        return;
    }
    const bool autoincrement =
        first(db,
              QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND "
                             "lower(name) = lower(?)"),
              {bareName(table)})
            .toString()
            .contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
    if (!autoincrement)
        return; // a rowid table numbers past its highest row by itself
    const qint64 highest =
        first(db, QStringLiteral("SELECT COALESCE(MAX(%1), 0) FROM %2").arg(column, table), {})
            .toLongLong();
    first(db,
          QStringLiteral("UPDATE sqlite_sequence SET seq = ? WHERE lower(name) = lower(?) AND "
                         "seq < ?"),
          {highest, bareName(table), highest});
    const qint64 present =
        first(db,
              QStringLiteral("SELECT COUNT(*) FROM sqlite_sequence WHERE lower(name) = lower(?)"),
              {bareName(table)})
            .toLongLong();
    if (present == 0 && highest > 0)
        first(db, QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)"),
              {bareName(table), highest});
}
