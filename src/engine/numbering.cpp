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
            engine::FirstValue(
                db.Sql(),
                QStringLiteral("SELECT COALESCE(pg_get_serial_sequence(?, ?), "
                               "to_regclass(lower(?))::text)"),
                {table.toLower(), column.toLower(),
                 QString(bareName(table) + QLatin1Char('_') + column + QStringLiteral("_seq"))})
                .toString();
        if (sequence.isEmpty())
            throw EDBEngineError(
                QStringLiteral("Для поля %1 таблицы %2 нет последовательности").arg(column, table));
        // nextval first, so that a number handed out meanwhile is never taken back.
        engine::FirstValue(
            db.Sql(),
            QStringLiteral("SELECT setval(?::regclass, GREATEST(nextval(?::regclass), "
                           "(SELECT MAX(%1) FROM %2)))")
                .arg(column, table),
            {sequence, sequence});
        return;
    }
    const bool autoincrement =
        engine::FirstValue(db.Sql(),
                           QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND "
                                          "lower(name) = lower(?)"),
                           {bareName(table)})
            .toString()
            .contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
    if (!autoincrement)
        return; // a rowid table numbers past its highest row by itself
    const qint64 highest =
        engine::FirstValue(db.Sql(),
                           QStringLiteral("SELECT COALESCE(MAX(%1), 0) FROM %2").arg(column, table))
            .toLongLong();
    engine::FirstValue(
        db.Sql(),
        QStringLiteral("UPDATE sqlite_sequence SET seq = ? WHERE lower(name) = lower(?) AND "
                       "seq < ?"),
        {highest, bareName(table), highest});
    const qint64 present =
        engine::FirstValue(
            db.Sql(),
            QStringLiteral("SELECT COUNT(*) FROM sqlite_sequence WHERE lower(name) = lower(?)"),
            {bareName(table)})
            .toLongLong();
    if (present == 0 && highest > 0)
        engine::FirstValue(db.Sql(),
                           QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)"),
                           {bareName(table), highest});
}
