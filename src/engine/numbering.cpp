#include "engine/numbering.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/sql/sqldriver.h"

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
    db.SqlDriver()->MoveNumberingPast(db.Sql(), table, column);
}
