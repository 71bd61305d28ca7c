// Many keys at once on PostgreSQL (TDataSet::KeepRows): whole-number keys go as arrays
// ("{1,2,3}"), one statement whatever their number, each key searched in the table through its
// index.

#include "engine/sql/postgresql/arraytext.h"
#include "engine/sql/postgresql/pgtablecursor.h"

#include <QSet>

namespace engine {

// The search is a lateral subquery kept apart from the join (OFFSET 0): as a plain join the
// planner would rather read a small table whole and hash it, which costs more with every row the
// job adds to it.
bool TPgTableCursor::locateAtOnce(const QList<int> &columns, const QList<TBoundValues> &keys,
                                  const QList<int> &results, const QString &select,
                                  const std::function<void(const TRow &)> &visit)
{
    const TTableInfo &t = table();
    for (int c : columns)
        if (!IsIntegerType(t.columns.at(c).DataType))
            return false;
    QList<int> shape{-9};
    shape << columns << -1 << results;
    TStatement &query = shaped(shape, [&]() -> QString {
        QStringList conds, arrays, names;
        for (int i = 0; i < columns.size(); ++i) {
            conds << t.quotedColumns.at(columns.at(i)) + QStringLiteral(" = k.k%1").arg(i);
            arrays << QStringLiteral("?::bigint[]");
            names << QStringLiteral("k%1").arg(i);
        }
        if (!filterWhere().isEmpty())
            conds << QStringLiteral("(") + filterWhere() + QStringLiteral(")");
        return QStringLiteral("SELECT r.* FROM unnest(") + arrays.join(QStringLiteral(", ")) +
               QStringLiteral(") AS k(") + names.join(QStringLiteral(", ")) +
               QStringLiteral(") CROSS JOIN LATERAL (") + select + QStringLiteral(" WHERE ") +
               conds.join(QStringLiteral(" AND ")) + QStringLiteral(" OFFSET 0) AS r");
    });
    // Each key once: a row is wanted once however many rows of a window name it.
    QSet<QList<qlonglong>> seen;
    seen.reserve(keys.size());
    QList<QString> arrays(columns.size(), QStringLiteral("{"));
    for (const TBoundValues &key : keys) {
        QList<qlonglong> numbers;
        numbers.reserve(key.size());
        for (const QVariant &v : key)
            numbers << v.toLongLong();
        if (seen.contains(numbers))
            continue;
        for (int i = 0; i < columns.size(); ++i) {
            if (arrays.at(i).size() > 1)
                arrays[i] += QLatin1Char(',');
            AppendNumber(arrays[i], numbers.at(i));
        }
        seen.insert(std::move(numbers));
    }
    TBoundValues params;
    for (const QString &array : std::as_const(arrays))
        params << QVariant(array + QLatin1Char('}'));
    visitRows(query, params, results, columns, visit);
    return true;
}

} // namespace engine
