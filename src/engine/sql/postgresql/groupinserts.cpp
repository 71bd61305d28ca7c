// Inserts held back on PostgreSQL (TDataSet::SetGroupInserts): a row is held as given, with the
// key that the table numbers itself taken ahead from its sequence, and the rows go out together
// as one INSERT ... SELECT * FROM unnest(...) of column arrays.

#include "engine/sql/postgresql/arraytext.h"
#include "engine/sql/postgresql/pgtablecursor.h"
#include "engine/sql/sqlvalues.h"

namespace engine {

// A row leaving a column with a default to it is not held, nor the row of a table whose columns
// have no plain array type (an array column, binary data). The row of a table without a key
// comes without its locator, which is looked up by its values when it is written again.
bool TPgTableCursor::HoldInsert(TRow &row)
{
    const TTableInfo &t = table();
    if (readOnly() || t.arrayTypes.isEmpty())
        return false;
    const qsizetype n = t.columns.size();
    TRow stored(n);
    for (qsizetype i = 0; i < n && i < row.size(); ++i)
        if (!IsNullValue(row.at(i)))
            stored[i] = row.at(i);
    for (int f : filled()) {
        if (!IsNullValue(stored.at(f)))
            continue;
        if (t.keys.size() != 1 || f != t.keys.first() || t.defaulted.contains(f) ||
            !IsIntegerType(t.columns.at(f).DataType))
            return false;
        const QVariant id = reservedNumber(f);
        if (!id.isValid())
            return false;
        stored[f] = id;
    }
    if (m_held.size() >= HeldRows * n)
        SendHeld();
    m_held << stored;
    row = std::move(stored);
    makeCurrent(row);
    return true;
}

// Sends the held rows as "INSERT ... SELECT * FROM unnest($1::type[], ...)": the driver formats
// a handful of array texts instead of every value of every row, and the server parses one short
// statement.
void TPgTableCursor::SendHeld()
{
    if (m_held.isEmpty())
        return;
    const TBoundValues held = std::move(m_held);
    m_held.clear();
    const TTableInfo &t = table();
    TStatement &query = shaped({-11}, [&]() -> QString {
        QStringList arrays;
        for (const QString &type : t.arrayTypes)
            arrays << QStringLiteral("?::") + type + QStringLiteral("[]");
        return QStringLiteral("INSERT INTO ") + t.table + QStringLiteral(" (") +
               t.quotedColumns.join(QStringLiteral(", ")) +
               QStringLiteral(") SELECT * FROM unnest(") + arrays.join(QStringLiteral(", ")) +
               QStringLiteral(")");
    });
    const qsizetype n = t.columns.size();
    const qsizetype rows = held.size() / n;
    TBoundValues params;
    params.reserve(n);
    for (qsizetype c = 0; c < n; ++c) {
        QString array;
        array.reserve(rows * 12);
        array += QLatin1Char('{');
        for (qsizetype r = 0; r < rows; ++r) {
            if (r > 0)
                array += QLatin1Char(',');
            AppendArrayElement(array, held.at(r * n + c));
        }
        params << QVariant(array + QLatin1Char('}'));
    }
    query.exec(params);
    query.finish();
}

// The next number of the key's sequence, taken in blocks; invalid when it has none.
QVariant TPgTableCursor::reservedNumber(int key)
{
    const TTableInfo &t = table();
    if (m_reserved.isEmpty()) {
        if (!m_sequenceLooked) {
            m_sequenceLooked = true;
            const QString column = t.columns.at(key).Name;
            const QString named = QuotedName(db(), t.schema) + QLatin1Char('.') +
                                  QuotedName(db(), t.relation.toLower() + QLatin1Char('_') +
                                                       column.toLower() + QStringLiteral("_seq"));
            m_sequence = FirstValue(db(),
                                    QStringLiteral("SELECT COALESCE(pg_get_serial_sequence(?, ?), "
                                                   "to_regclass(?)::text)"),
                                    TBoundValues{t.table, column, named})
                             .toString();
        }
        if (m_sequence.isEmpty())
            return {};
        TStatement &query =
            cached(QStringLiteral("SELECT nextval(?::regclass) FROM generate_series(1, %1)")
                       .arg(HeldRows));
        query.exec({m_sequence});
        while (query.next())
            m_reserved << query.value(0).toLongLong();
        query.finish();
        if (m_reserved.isEmpty())
            return {};
    }
    return NormalizedValue(m_reserved.takeFirst(), t.columns.at(key));
}

} // namespace engine
