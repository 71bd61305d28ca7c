#include "engine/sql/tablecursor.h"

#include "core/errors.h"
#include "engine/sql/sqlcursor.h"
#include "engine/sql/sqlvalues.h"

#include <algorithm>

namespace engine {

namespace {

constexpr int PageSize = 256;

} // namespace

TSqlTableCursor::TSqlTableCursor(const TSqlDriver &driver, QSqlDatabase db, QString name,
                                 bool readOnly)
    : m_driver(driver), m_db(std::move(db)), m_name(std::move(name)), m_readOnly(readOnly)
{
}

void TSqlTableCursor::Open(const TRowFilter &filter)
{
    describe();
    buildFilter(filter);
    m_page.clear();
    m_hasCurrent = false;
    m_pageEnd = false;
}

void TSqlTableCursor::Close()
{
    SendHeld();
    m_page.clear();
    m_cache.clear();
}

bool TSqlTableCursor::First(TRow &row)
{
    SendHeld();
    m_page.clear();
    m_pageEnd = false;
    m_hasCurrent = false;
    fetchPage(false);
    return take(row);
}

bool TSqlTableCursor::Next(TRow &row)
{
    SendHeld();
    if (m_page.empty() && !m_pageEnd)
        fetchPage(m_hasCurrent);
    return take(row);
}

int TSqlTableCursor::RecordCount()
{
    SendHeld();
    QString sql = QStringLiteral("SELECT COUNT(*) FROM ") + m_info.table;
    if (!m_filterWhere.isEmpty())
        sql += QStringLiteral(" WHERE ") + m_filterWhere;
    return FirstValue(m_db, sql, m_filterParams).toInt();
}

bool TSqlTableCursor::Locate(const QList<int> &columns, const QVariantList &values,
                             bool caseInsensitive, TRow &row)
{
    SendHeld();
    // The buffers of the last search: a walk searches row after row.
    TBoundValues &params = m_searchParams;
    QList<int> &shape = m_searchShape;
    params.clear();
    shape.clear();
    shape << -1; // Locate, not Lookup
    if (!keyShape(columns, values, caseInsensitive, shape, params))
        return false;
    params << m_filterParams;
    TStatement &query = shaped(shape, [&]() -> QString {
        QStringList conds = keyConditions(columns, shape, 1);
        if (!m_filterWhere.isEmpty())
            conds << QStringLiteral("(") + m_filterWhere + QStringLiteral(")");
        return m_selectList + QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND ")) +
               QStringLiteral(" ORDER BY ") + m_orderBy + QStringLiteral(" LIMIT 1");
    });
    if (!readOne(query, params, row))
        return false;
    makeCurrent(row);
    return true;
}

bool TSqlTableCursor::Lookup(const QList<int> &keyColumns, const QVariantList &values,
                             const QList<int> &resultColumns, QVariantList &result)
{
    SendHeld();
    for (const QVariant &v : values)
        if (IsNullValue(v))
            return false;
    TBoundValues &params = m_searchParams;
    QList<int> &shape = m_searchShape;
    params.clear();
    shape.clear();
    shape << -2 - static_cast<int>(resultColumns.size());
    if (!keyShape(keyColumns, values, false, shape, params))
        return false;
    params << m_filterParams;
    shape << resultColumns;
    TStatement &query = shaped(shape, [&]() -> QString {
        QStringList conds = keyConditions(keyColumns, shape, 1);
        if (!m_filterWhere.isEmpty())
            conds << QStringLiteral("(") + m_filterWhere + QStringLiteral(")");
        QStringList cols;
        for (int c : resultColumns)
            cols << m_info.quotedColumns.at(c);
        return QStringLiteral("SELECT ") + cols.join(QStringLiteral(", ")) +
               QStringLiteral(" FROM ") + m_info.table + QStringLiteral(" WHERE ") +
               conds.join(QStringLiteral(" AND ")) + QStringLiteral(" LIMIT 1");
    });
    query.exec(params);
    if (!query.next()) {
        query.finish();
        return false;
    }
    result.clear();
    for (int i = 0; i < resultColumns.size(); ++i)
        result << ColumnValue(query, i, m_info.columns.at(resultColumns.at(i)));
    query.finish();
    return true;
}

// Keys go to the driver's own way first (PostgreSQL: arrays of whole numbers); otherwise as
// "WHERE (k1, k2) IN ((?, ?), ...)" (the driver's condition for several columns) in chunks of 256
// keys, the rest in one chunk of 64, 8 or 1 padded with repeats, so that at most four statements
// are prepared per key.
bool TSqlTableCursor::LocateMany(const QList<int> &columns, const QList<QVariantList> &keys,
                                 const QList<int> &results,
                                 const std::function<void(const TRow &)> &visit)
{
    SendHeld();
    if (columns.isEmpty())
        return false;
    // Whole rows, or the result columns and then the key columns.
    QString select = m_selectList;
    if (!results.isEmpty()) {
        QStringList cols;
        for (int c : results + columns)
            cols << m_info.quotedColumns.at(c);
        select = QStringLiteral("SELECT ") + cols.join(QStringLiteral(", ")) +
                 QStringLiteral(" FROM ") + m_info.table;
    }
    QList<TBoundValues> bound;
    bound.reserve(keys.size());
    for (const QVariantList &key : keys) {
        TBoundValues values;
        bool usable = key.size() == columns.size();
        for (int i = 0; usable && i < columns.size(); ++i) {
            QVariant v;
            usable = !IsNullValue(key.at(i)) &&
                     ValueForColumn(key.at(i), m_info.columns.at(columns.at(i)), v);
            values << v;
        }
        if (usable)
            bound << values;
    }
    if (!bound.isEmpty() && locateAtOnce(columns, bound, results, select, visit))
        return true;
    qsizetype done = 0;
    while (done < bound.size()) {
        const qsizetype left = bound.size() - done;
        int chunk = 256;
        for (int c : {1, 8, 64})
            if (c >= left) {
                chunk = c;
                break;
            }
        QList<int> shape{-8, chunk};
        shape << columns << -1 << results;
        TStatement &query = shaped(shape, [&]() -> QString {
            QStringList cols;
            for (int c : columns)
                cols << m_info.quotedColumns.at(c);
            QString cond;
            if (columns.size() == 1)
                cond = cols.first() + QStringLiteral(" IN (") +
                       QStringList(chunk, QStringLiteral("?")).join(QStringLiteral(", ")) +
                       QStringLiteral(")");
            else
                cond = m_driver.ManyKeysCondition(cols, chunk);
            if (!m_filterWhere.isEmpty())
                cond += QStringLiteral(" AND (") + m_filterWhere + QStringLiteral(")");
            return select + QStringLiteral(" WHERE ") + cond;
        });
        TBoundValues params;
        params.reserve(chunk * columns.size() + m_filterParams.size());
        for (int i = 0; i < chunk; ++i)
            params << bound.at(done + std::min<qsizetype>(i, left - 1));
        visitRows(query, params, results, columns, visit);
        done += std::min<qsizetype>(chunk, left);
    }
    return true;
}

bool TSqlTableCursor::locateAtOnce(const QList<int> &columns, const QList<TBoundValues> &keys,
                                   const QList<int> &results, const QString &select,
                                   const std::function<void(const TRow &)> &visit)
{
    Q_UNUSED(columns);
    Q_UNUSED(keys);
    Q_UNUSED(results);
    Q_UNUSED(select);
    Q_UNUSED(visit);
    return false;
}

void TSqlTableCursor::visitRows(TStatement &query, TBoundValues params, const QList<int> &results,
                                const QList<int> &columns,
                                const std::function<void(const TRow &)> &visit)
{
    params << m_filterParams;
    query.exec(params);
    const QList<int> read = results + columns;
    while (query.next()) {
        if (results.isEmpty()) {
            visit(readRow(query));
            continue;
        }
        TRow row;
        row.reserve(read.size());
        for (int i = 0; i < read.size(); ++i)
            row << ColumnValue(query, i, m_info.columns.at(read.at(i)));
        visit(row);
    }
    query.finish();
}

bool TSqlTableCursor::Reposition(const TRow &row)
{
    // A row without its locator (held back, of a table without a key) cannot be written.
    if (m_info.keys.isEmpty() && row.size() <= m_info.columns.size())
        return false;
    SendHeld();
    makeCurrent(row);
    return true;
}

bool TSqlTableCursor::Refresh(TRow &row)
{
    SendHeld();
    if (!reread(row))
        return false;
    makeCurrent(row);
    return true;
}

void TSqlTableCursor::describe()
{
    m_info = TTableInfo{};
    m_cache.clear();
    m_shapes.clear();
    m_filled.clear();
    m_hasReturning = m_driver.HasReturning();
    m_info = m_driver.DescribeTable(m_db, m_name);
    const TRowLocator &locator = m_driver.Locator();
    QStringList cols = m_info.quotedColumns;
    if (m_info.keys.isEmpty()) {
        if (!m_info.rowsLocatable)
            throw EDBEngineError(
                QStringLiteral("Таблица %1 не имеет первичного ключа").arg(m_name));
        cols << locator.column;
    }
    m_columnList = cols.join(QStringLiteral(", "));
    m_selectList =
        QStringLiteral("SELECT ") + m_columnList + QStringLiteral(" FROM ") + m_info.table;
    QStringList order;
    for (int k : m_info.keys)
        order << m_info.quotedColumns.at(k);
    if (order.isEmpty())
        order << locator.order;
    m_orderBy = order.join(QStringLiteral(", "));
    QStringList ident;
    if (m_info.keys.isEmpty())
        ident << locator.equals;
    for (int k : m_info.keys)
        ident << m_info.quotedColumns.at(k) + QStringLiteral(" = ?");
    m_identify = ident.join(QStringLiteral(" AND "));
    m_filled = m_info.defaulted;
    for (int k : m_info.keys)
        if (!m_filled.contains(k))
            m_filled << k;
    std::sort(m_filled.begin(), m_filled.end());
}

void TSqlTableCursor::buildFilter(const TRowFilter &filter)
{
    m_filterWhere.clear();
    m_filterParams.clear();
    if (filter.IsEmpty())
        return;
    const QList<int> cols = filter.Resolve(m_info.columns);
    QStringList conds;
    for (int i = 0; i < filter.Conditions.size(); ++i) {
        const TFilterCondition &f = filter.Conditions.at(i);
        const TColumn &c = m_info.columns.at(cols.at(i));
        const QString col = m_info.quotedColumns.at(cols.at(i));
        const bool text = IsTextType(c.DataType) || c.DataType == TFieldType::ftUnknown;
        switch (f.Op) {
        case TFilterCondition::IsNull:
            conds << col + QStringLiteral(" IS NULL");
            break;
        case TFilterCondition::NotNull:
            conds << col + QStringLiteral(" IS NOT NULL");
            break;
        case TFilterCondition::Prefix: {
            const QString prefix = f.Value.toString();
            const QString expr = text ? col : QStringLiteral("CAST(%1 AS TEXT)").arg(col);
            if (prefix.isEmpty()) {
                conds << col + QStringLiteral(" IS NOT NULL");
                break;
            }
            const QString sub = QStringLiteral("substr(%1, 1, %2)").arg(expr).arg(prefix.size());
            conds << (filter.CaseInsensitive ? QStringLiteral("UPPER(%1) = UPPER(?)").arg(sub)
                                             : sub + QStringLiteral(" = ?"));
            m_filterParams << prefix;
            break;
        }
        case TFilterCondition::Equal: {
            QVariant v;
            if (!ValueForColumn(text ? QVariant(f.Value.toString()) : f.Value, c, v)) {
                conds << QStringLiteral("1 = 0");
                break;
            }
            if (text && filter.CaseInsensitive)
                conds << QStringLiteral("UPPER(%1) = UPPER(?)").arg(col);
            else
                conds << col + QStringLiteral(" = ?");
            m_filterParams << v;
            break;
        }
        }
    }
    m_filterWhere = conds.join(QStringLiteral(" AND "));
}

// The shape of a key comparison (appended to shape: column, then 0 for IS NULL, 1 for an exact
// comparison, 2 for a folded one) and its parameters; false when a value cannot be compared with
// its column (nothing then matches).
bool TSqlTableCursor::keyShape(const QList<int> &columns, const QVariantList &values, bool ci,
                               QList<int> &shape, TBoundValues &params) const
{
    for (int i = 0; i < columns.size(); ++i) {
        const TColumn &c = m_info.columns.at(columns.at(i));
        const QVariant raw = i < values.size() ? values.at(i) : QVariant();
        shape << columns.at(i);
        if (IsNullValue(raw)) {
            shape << 0;
            continue;
        }
        QVariant v;
        if (!ValueForColumn(raw, c, v))
            return false;
        // A value without letters of either case ("45401", "A-12" is not one) equals the folded
        // column exactly when it equals the column: the plain index serves it.
        bool folded = ci && IsTextType(c.DataType);
        if (folded) {
            const QString text = v.toString();
            folded = text.toUpper() != text || text.toLower() != text;
        }
        shape << (folded ? 2 : 1);
        params << v;
    }
    return true;
}

// The conditions of a key shape starting at shape[offset].
QStringList TSqlTableCursor::keyConditions(const QList<int> &columns, const QList<int> &shape,
                                           int offset) const
{
    QStringList conds;
    for (int i = 0; i < columns.size(); ++i) {
        const QString col = m_info.quotedColumns.at(shape.at(offset + 2 * i));
        switch (shape.at(offset + 2 * i + 1)) {
        case 0:
            conds << col + QStringLiteral(" IS NULL");
            break;
        case 2:
            conds << QStringLiteral("UPPER(%1) = UPPER(?)").arg(col);
            break;
        default:
            conds << col + QStringLiteral(" = ?");
        }
    }
    return conds;
}

// Parameters of m_identify, which addresses one row by its primary key, else its locator.
void TSqlTableCursor::identifyParams(const TRow &row, TBoundValues &params)
{
    if (m_info.keys.isEmpty()) {
        // A row that was held back carries no locator: it is found by its values.
        params << (row.size() > m_info.columns.size() ? row.at(m_info.columns.size())
                                                      : locatorOf(row));
        return;
    }
    for (int k : m_info.keys)
        params << row.value(k);
}

QVariant TSqlTableCursor::locatorOf(const TRow &row)
{
    SendHeld();
    QStringList conds;
    TBoundValues params;
    for (int i = 0; i < m_info.columns.size(); ++i) {
        if (IsNullValue(row.value(i))) {
            conds << m_info.quotedColumns.at(i) + QStringLiteral(" IS NULL");
        } else {
            conds << m_info.quotedColumns.at(i) + QStringLiteral(" = ?");
            params << row.value(i);
        }
    }
    TStatement &query = cached(QStringLiteral("SELECT ") + m_driver.Locator().column +
                               QStringLiteral(" FROM ") + m_info.table + QStringLiteral(" WHERE ") +
                               conds.join(QStringLiteral(" AND ")) + QStringLiteral(" LIMIT 1"));
    query.exec(params);
    const QVariant locator = query.next() ? query.value(0) : QVariant();
    query.finish();
    return locator;
}

bool TSqlTableCursor::reread(TRow &row)
{
    TBoundValues params;
    identifyParams(row, params);
    TStatement &query = shaped(
        {-7}, [&]() -> QString { return m_selectList + QStringLiteral(" WHERE ") + m_identify; });
    return readOne(query, params, row);
}

void TSqlTableCursor::fetchPage(bool after)
{
    QStringList conds;
    TBoundValues params;
    if (!m_filterWhere.isEmpty()) {
        conds << QStringLiteral("(") + m_filterWhere + QStringLiteral(")");
        params << m_filterParams;
    }
    if (after) {
        if (m_info.keys.isEmpty()) {
            conds << m_driver.Locator().after;
            params << m_current.value(m_info.columns.size());
        } else {
            QStringList cols, marks;
            for (int k : m_info.keys) {
                cols << m_info.quotedColumns.at(k);
                marks << QStringLiteral("?");
                params << m_current.value(k);
            }
            if (m_info.keys.size() == 1)
                conds << cols.first() + QStringLiteral(" > ?");
            else
                conds << QStringLiteral("(") + cols.join(QStringLiteral(", ")) +
                             QStringLiteral(") > (") + marks.join(QStringLiteral(", ")) +
                             QStringLiteral(")");
        }
    }
    QString sql = m_selectList;
    if (!conds.isEmpty())
        sql += QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY ") + m_orderBy + QStringLiteral(" LIMIT %1").arg(PageSize);
    TStatement &query = cached(sql);
    query.exec(params);
    int n = 0;
    while (query.next()) {
        m_page.push_back(readRow(query));
        ++n;
    }
    query.finish();
    m_pageEnd = n < PageSize;
}

bool TSqlTableCursor::take(TRow &row)
{
    if (m_page.empty())
        return false;
    row = std::move(m_page.front());
    m_page.pop_front();
    m_current = row;
    m_hasCurrent = true;
    return true;
}

void TSqlTableCursor::makeCurrent(const TRow &row)
{
    m_current = row;
    m_hasCurrent = true;
    m_page.clear();
    m_pageEnd = false;
}

bool TSqlTableCursor::readOne(TStatement &query, const TBoundValues &params, TRow &row) const
{
    query.exec(params);
    const bool found = query.next();
    if (found)
        row = readRow(query);
    query.finish();
    return found;
}

TRow TSqlTableCursor::readRow(const TStatement &query) const
{
    const int n = static_cast<int>(m_info.columns.size());
    const bool located = m_info.keys.isEmpty();
    // Made whole, then filled in place: a wide row is read for every row a walk edits.
    TRow row(n + (located ? 1 : 0));
    QVariant *out = row.data();
    for (int i = 0; i < n; ++i)
        out[i] = ColumnValue(query, i, m_info.columns.at(i));
    if (located)
        out[n] = query.value(n);
    return row;
}

TStatement &TSqlTableCursor::cached(const QString &sql)
{
    auto it = m_cache.find(sql);
    if (it == m_cache.end())
        it = m_cache.insert(sql, TStatement(m_db, sql));
    return it.value();
}

std::unique_ptr<TCursor> MakeSqlTableCursor(const QSqlDatabase &db, const QString &tableName,
                                            bool readOnly)
{
    return SqlDriverFor(db).OpenTable(db, tableName, readOnly);
}

bool SqlTableExists(const QSqlDatabase &db, const QString &tableName)
{
    try {
        MakeSqlTableCursor(db, tableName, true)->Open(TRowFilter());
        return true;
    } catch (const EDBEngineError &) {
        return false;
    }
}

} // namespace engine
