#pragma once

// Values between the dataset layer and SQL statements, the same for every backend: how a value
// read from a statement becomes a column's value, how a value given for a column is made fit to
// compare with it, and how a result describes its columns.

#include "engine/cursor.h"

#include <QSqlDatabase>
#include <QSqlQuery>

class QSqlRecord;

namespace engine {

class TStatement;

// A value read for a column, converted to the column's type where it can be (Null stays an
// invalid QVariant; a value that does not convert stays as it is).
QVariant NormalizedValue(const QVariant &value, const TColumn &column);
// A column of a statement's current row as NormalizedValue gives it; numbers SQLite holds as
// numbers are taken as they are stored.
QVariant ColumnValue(const TStatement &query, int i, const TColumn &column);
QVariant ColumnValue(const QSqlQuery &query, int i, const TColumn &column);

// The row of a statement's current position: one value per column.
template <typename Statement> TRow ReadRow(const Statement &query, const QList<TColumn> &columns)
{
    TRow row;
    row.reserve(columns.size());
    for (int i = 0; i < columns.size(); ++i)
        row << ColumnValue(query, i, columns.at(i));
    return row;
}

// A value for comparison with a column, converted to its type; false when impossible (the
// comparison then cannot match).
bool ValueForColumn(const QVariant &value, const TColumn &column, QVariant &out);

// The column kind of a Qt type, and of an SQL declared type ("VARCHAR(50)", "numeric(10,2)",
// "timestamp", ...).
TFieldType FieldTypeOfMeta(int typeId);
TColumn ColumnFromDeclaredType(const QString &name, const QString &declaredType);
// The columns of a result as Qt's driver describes them.
QList<TColumn> ColumnsOfRecord(const QSqlRecord &record);

// A table or column name quoted for the connection.
QString QuotedName(const QSqlDatabase &db, const QString &name);

// Statements through Qt's driver: failures throw EDBEngineError with the engine's message and
// the statement.
[[noreturn]] void ThrowSqlError(const QSqlQuery &query, const QString &sql);
void PrepareSql(QSqlQuery &query, const QString &sql);
void RunSql(QSqlQuery &query, const TBoundValues &params);

} // namespace engine
