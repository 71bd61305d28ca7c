#include "engine/sqlcursor.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/statement.h"

#include <QAtomicInt>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <limits>
#include <optional>
#include <sqlite3.h>

namespace engine {

namespace {

constexpr int PageSize = 256;

[[noreturn]] void fail(const QSqlQuery &q, const QString &sql)
{
    throw EDBEngineError(engineMessage(q.lastError()), sql);
}

void prepare(QSqlQuery &q, const QString &sql)
{
    if (!q.prepare(sql))
        fail(q, sql);
}

void run(QSqlQuery &q, const TBoundValues &params)
{
    for (int i = 0; i < params.size(); ++i)
        q.bindValue(i, BindableValue(params.at(i), q.driver()));
    if (!q.exec())
        fail(q, q.lastQuery());
}

void run(TStatement &statement, const TBoundValues &params)
{
    statement.exec(params);
}

QVariant normalize(const QVariant &v, const TColumn &c)
{
    if (IsNullValue(v))
        return {};
    if (c.DataType == TFieldType::ftUnknown || c.DataType == TFieldType::ftBlob ||
        c.DataType == TFieldType::ftTime)
        return v;
    try {
        return ConvertValue(v, c.DataType, 0, c.Name);
    } catch (const Exception &) {
        return v;
    }
}

// A number's digits appended to a text; for a floating-point number the shortest that read
// back as the same number.
template <typename Number> void appendNumber(QString &text, Number n)
{
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    text += QLatin1StringView(digits, end - digits);
}

// A column of a statement's current row as normalize gives it; numbers SQLite holds as
// numbers are taken as they are stored.
QVariant columnValue(const TStatement &query, int i, const TColumn &c)
{
    switch (query.nativeType(i)) {
    case TStatement::TNative::Null:
        return {};
    case TStatement::TNative::Integer: {
        const qint64 n = query.nativeInteger(i);
        switch (c.DataType) {
        case TFieldType::ftInteger:
            if (n >= std::numeric_limits<int>::min() && n <= std::numeric_limits<int>::max())
                return QVariant(int(n));
            break;
        case TFieldType::ftSmallint:
            if (n >= -32768 && n <= 32767)
                return QVariant(int(n));
            break;
        case TFieldType::ftLargeint:
            return QVariant(qlonglong(n));
        case TFieldType::ftBoolean:
            return QVariant(n != 0);
        default:
            break;
        }
        break;
    }
    case TStatement::TNative::Float:
        if (c.DataType == TFieldType::ftFloat)
            return QVariant(query.nativeFloat(i));
        break;
    default:
        break;
    }
    return normalize(query.value(i), c);
}

QVariant columnValue(const QSqlQuery &query, int i, const TColumn &c)
{
    return normalize(query.value(i), c);
}

TFieldType typeFromMeta(int typeId)
{
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
        return TFieldType::ftInteger;
    case QMetaType::Short:
    case QMetaType::UShort:
        return TFieldType::ftSmallint;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return TFieldType::ftLargeint;
    case QMetaType::Double:
    case QMetaType::Float:
        return TFieldType::ftFloat;
    case QMetaType::Bool:
        return TFieldType::ftBoolean;
    case QMetaType::QDate:
        return TFieldType::ftDate;
    case QMetaType::QDateTime:
        return TFieldType::ftDateTime;
    case QMetaType::QTime:
        return TFieldType::ftTime;
    case QMetaType::QByteArray:
        return TFieldType::ftBlob;
    case QMetaType::QString:
        return TFieldType::ftString;
    default:
        return TFieldType::ftUnknown;
    }
}

// Values for comparison with a column: converted to its type; false when impossible (the
// comparison then cannot match).
bool valueForColumn(const QVariant &v, const TColumn &c, QVariant &out)
{
    try {
        if (IsTextType(c.DataType))
            out = ConvertValue(v, c.DataType, 0, c.Name);
        else if (c.DataType == TFieldType::ftUnknown)
            out = v;
        else
            out = ConvertValue(v, c.DataType, c.Size, c.Name);
        return true;
    } catch (const Exception &) {
        return false;
    }
}

QString q(const QSqlDatabase &db, const QString &name)
{
    return db.driver()->escapeIdentifier(name, QSqlDriver::FieldName);
}

// ------------------------------------------------------------------------------------------
// Table cursor

class SqlTableCursor : public TCursor
{
public:
    SqlTableCursor(QSqlDatabase db, QString name, bool readOnly)
        : m_db(std::move(db)), m_name(std::move(name)), m_readOnly(readOnly),
          m_sqlite(IsSqlite(m_db))
    {
    }

    void Open(const TRowFilter &filter) override
    {
        describe();
        buildFilter(filter);
        m_page.clear();
        m_hasCurrent = false;
        m_pageEnd = false;
        m_open = true;
    }

    void Close() override
    {
        sendHeld();
        m_open = false;
        m_page.clear();
        m_cache.clear();
    }

    const QList<TColumn> &Columns() const override { return m_columns; }

    bool First(TRow &row) override
    {
        sendHeld();
        m_page.clear();
        m_pageEnd = false;
        m_hasCurrent = false;
        fetchPage(false);
        return take(row);
    }

    bool Next(TRow &row) override
    {
        sendHeld();
        if (m_page.empty() && !m_pageEnd)
            fetchPage(m_hasCurrent);
        return take(row);
    }

    int RecordCount() override
    {
        sendHeld();
        QString sql = QStringLiteral("SELECT COUNT(*) FROM ") + m_table;
        if (!m_filterWhere.isEmpty())
            sql += QStringLiteral(" WHERE ") + m_filterWhere;
        return FirstValue(m_db, sql, m_filterParams).toInt();
    }

    bool Locate(const QList<int> &columns, const QVariantList &values, bool caseInsensitive,
                TRow &row) override
    {
        sendHeld();
        // The buffers of the last search: a walk searches row after row.
        TBoundValues &params = m_searchParams;
        QList<int> &shape = m_searchShape;
        params.clear();
        shape.clear();
        shape << -1; // Locate, not Lookup
        if (!keyShape(columns, values, caseInsensitive, shape, params))
            return false;
        params << m_filterParams;
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end()) {
            QStringList conds = keyConditions(columns, shape, 1);
            if (!m_filterWhere.isEmpty())
                conds << QStringLiteral("(") + m_filterWhere + QStringLiteral(")");
            it = m_shapes.insert(shape, prepared(m_selectList + QStringLiteral(" WHERE ") +
                                                 conds.join(QStringLiteral(" AND ")) +
                                                 QStringLiteral(" ORDER BY ") + m_orderBy +
                                                 QStringLiteral(" LIMIT 1")));
        }
        TStatement &query = it.value();
        run(query, params);
        if (!query.next()) {
            query.finish();
            return false;
        }
        row = readRow(query);
        query.finish();
        makeCurrent(row);
        return true;
    }

    bool Lookup(const QList<int> &keyColumns, const QVariantList &values,
                const QList<int> &resultColumns, QVariantList &result) override
    {
        sendHeld();
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
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end()) {
            QStringList conds = keyConditions(keyColumns, shape, 1);
            if (!m_filterWhere.isEmpty())
                conds << QStringLiteral("(") + m_filterWhere + QStringLiteral(")");
            QStringList cols;
            for (int c : resultColumns)
                cols << m_quotedCols.at(c);
            it = m_shapes.insert(
                shape, prepared(QStringLiteral("SELECT ") + cols.join(QStringLiteral(", ")) +
                                QStringLiteral(" FROM ") + m_table + QStringLiteral(" WHERE ") +
                                conds.join(QStringLiteral(" AND ")) + QStringLiteral(" LIMIT 1")));
        }
        TStatement &query = it.value();
        run(query, params);
        if (!query.next()) {
            query.finish();
            return false;
        }
        result.clear();
        for (int i = 0; i < resultColumns.size(); ++i)
            result << columnValue(query, i, m_columns.at(resultColumns.at(i)));
        query.finish();
        return true;
    }

    // Whole-number keys on PostgreSQL go as arrays (locateManyByArrays); others as
    // "WHERE (k1, k2) IN ((?, ?), ...)" (on SQLite an OR of terms) in chunks of 256 keys, the
    // rest in one chunk of 64, 8 or 1 padded with repeats, so that at most four statements are
    // prepared per key.
    bool LocateMany(const QList<int> &columns, const QList<QVariantList> &keys,
                    const QList<int> &results,
                    const std::function<void(const TRow &)> &visit) override
    {
        sendHeld();
        if (columns.isEmpty())
            return false;
        // Whole rows, or the result columns and then the key columns.
        QString select = m_selectList;
        if (!results.isEmpty()) {
            QStringList cols;
            for (int c : results + columns)
                cols << m_quotedCols.at(c);
            select = QStringLiteral("SELECT ") + cols.join(QStringLiteral(", ")) +
                     QStringLiteral(" FROM ") + m_table;
        }
        QList<TBoundValues> bound;
        bound.reserve(keys.size());
        for (const QVariantList &key : keys) {
            TBoundValues values;
            bool usable = key.size() == columns.size();
            for (int i = 0; usable && i < columns.size(); ++i) {
                QVariant v;
                usable = !IsNullValue(key.at(i)) &&
                         valueForColumn(key.at(i), m_columns.at(columns.at(i)), v);
                values << v;
            }
            if (usable)
                bound << values;
        }
        if (!m_sqlite && !bound.isEmpty() &&
            locateManyByArrays(columns, bound, results, select, visit))
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
            auto it = m_shapes.find(shape);
            if (it == m_shapes.end()) {
                QStringList cols;
                for (int c : columns)
                    cols << m_quotedCols.at(c);
                QString cond;
                if (columns.size() == 1) {
                    cond = cols.first() + QStringLiteral(" IN (") +
                           QStringList(chunk, QStringLiteral("?")).join(QStringLiteral(", ")) +
                           QStringLiteral(")");
                } else if (m_sqlite) {
                    // SQLite scans the table for a list of row values, but searches its index
                    // for each term of an OR.
                    const QString term = QStringLiteral("(") +
                                         cols.join(QStringLiteral(" = ? AND ")) +
                                         QStringLiteral(" = ?)");
                    cond = QStringLiteral("(") +
                           QStringList(chunk, term).join(QStringLiteral(" OR ")) +
                           QStringLiteral(")");
                } else {
                    const QString one = QStringLiteral("(") +
                                        QStringList(columns.size(), QStringLiteral("?"))
                                            .join(QStringLiteral(", ")) +
                                        QStringLiteral(")");
                    cond = QStringLiteral("(") + cols.join(QStringLiteral(", ")) +
                           QStringLiteral(") IN (") +
                           QStringList(chunk, one).join(QStringLiteral(", ")) + QStringLiteral(")");
                }
                if (!m_filterWhere.isEmpty())
                    cond += QStringLiteral(" AND (") + m_filterWhere + QStringLiteral(")");
                it = m_shapes.insert(shape, prepared(select + QStringLiteral(" WHERE ") + cond));
            }
            TBoundValues params;
            params.reserve(chunk * columns.size() + m_filterParams.size());
            for (int i = 0; i < chunk; ++i)
                params << bound.at(done + std::min<qsizetype>(i, left - 1));
            visitRows(it.value(), params, results, columns, visit);
            done += std::min<qsizetype>(chunk, left);
        }
        return true;
    }

    // PostgreSQL, whole-number keys: one statement whatever their number, the keys bound as
    // arrays ("{1,2,3}"), each key searched in the table through its index. The search is a
    // lateral subquery kept apart from the join (OFFSET 0): as a plain join the planner would
    // rather read a small table whole and hash it, which costs more with every row the job
    // adds to it.
    bool locateManyByArrays(const QList<int> &columns, const QList<TBoundValues> &bound,
                            const QList<int> &results, const QString &select,
                            const std::function<void(const TRow &)> &visit)
    {
        for (int c : columns)
            if (!IsIntegerType(m_columns.at(c).DataType))
                return false;
        QList<int> shape{-9};
        shape << columns << -1 << results;
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end()) {
            QStringList conds, arrays, names;
            for (int i = 0; i < columns.size(); ++i) {
                conds << m_quotedCols.at(columns.at(i)) + QStringLiteral(" = k.k%1").arg(i);
                arrays << QStringLiteral("?::bigint[]");
                names << QStringLiteral("k%1").arg(i);
            }
            if (!m_filterWhere.isEmpty())
                conds << QStringLiteral("(") + m_filterWhere + QStringLiteral(")");
            it = m_shapes.insert(
                shape, prepared(QStringLiteral("SELECT r.* FROM unnest(") +
                                arrays.join(QStringLiteral(", ")) + QStringLiteral(") AS k(") +
                                names.join(QStringLiteral(", ")) +
                                QStringLiteral(") CROSS JOIN LATERAL (") + select +
                                QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND ")) +
                                QStringLiteral(" OFFSET 0) AS r")));
        }
        // Each key once: a row is wanted once however many rows of a window name it.
        QSet<QList<qlonglong>> seen;
        seen.reserve(bound.size());
        QList<QString> arrays(columns.size(), QStringLiteral("{"));
        for (const TBoundValues &key : bound) {
            QList<qlonglong> numbers;
            numbers.reserve(key.size());
            for (const QVariant &v : key)
                numbers << v.toLongLong();
            if (seen.contains(numbers))
                continue;
            for (int i = 0; i < columns.size(); ++i) {
                if (arrays.at(i).size() > 1)
                    arrays[i] += QLatin1Char(',');
                appendNumber(arrays[i], numbers.at(i));
            }
            seen.insert(std::move(numbers));
        }
        TBoundValues params;
        for (const QString &array : std::as_const(arrays))
            params << QVariant(array + QLatin1Char('}'));
        visitRows(it.value(), params, results, columns, visit);
        return true;
    }

    // Runs a query of LocateMany with params and then the filter's parameters.
    void visitRows(TStatement &query, TBoundValues params, const QList<int> &results,
                   const QList<int> &columns, const std::function<void(const TRow &)> &visit)
    {
        params << m_filterParams;
        run(query, params);
        const QList<int> read = results + columns;
        while (query.next()) {
            if (results.isEmpty()) {
                visit(readRow(query));
                continue;
            }
            TRow row;
            row.reserve(read.size());
            for (int i = 0; i < read.size(); ++i)
                row << columnValue(query, i, m_columns.at(read.at(i)));
            visit(row);
        }
        query.finish();
    }

    bool Reposition(const TRow &row) override
    {
        // A row without its locator (held back, of a table without a key) cannot be written.
        if (m_keys.isEmpty() && row.size() <= m_columns.size())
            return false;
        sendHeld();
        makeCurrent(row);
        return true;
    }

    // PostgreSQL: the row as given, with the key that the table numbers itself taken ahead from
    // its sequence; the rows go out together in one INSERT from column arrays. A row leaving a
    // column with a default to it is not held, nor the row of a table whose columns have no
    // plain array type (an array column, binary data). The row of a table without a key comes
    // without its locator, which is looked up by its values when it is written again.
    bool HoldInsert(TRow &row) override
    {
        if (m_sqlite || m_readOnly || m_arrayTypes.isEmpty())
            return false;
        const qsizetype n = m_columns.size();
        TRow stored(n);
        for (qsizetype i = 0; i < n && i < row.size(); ++i)
            if (!IsNullValue(row.at(i)))
                stored[i] = row.at(i);
        for (int f : m_filled) {
            if (!IsNullValue(stored.at(f)))
                continue;
            if (m_keys.size() != 1 || f != m_keys.first() || m_defaulted.contains(f) ||
                !IsIntegerType(m_columns.at(f).DataType))
                return false;
            const QVariant id = reservedNumber(f);
            if (!id.isValid())
                return false;
            stored[f] = id;
        }
        if (m_held.size() >= HeldRows * n)
            sendHeld();
        m_held << stored;
        row = std::move(stored);
        makeCurrent(row);
        return true;
    }

    void SendHeld() override { sendHeld(); }

    void DropHeld() override { m_held.clear(); }

    bool CanModify() const override { return !m_readOnly; }

    // One statement per table and pattern of Null among the columns the database fills (those
    // with a default, an identity or a serial, and the key): a Null column with a default is
    // left out so that the default applies; every other column is bound, Null or not. Most
    // tables have no such column or one identifier, so a cursor prepares one or two INSERTs for
    // its whole life. The row as stored is the row as bound plus what RETURNING reports of the
    // filled columns; only a table with triggers, which may change any column, is read back
    // whole.
    void Insert(TRow &row) override
    {
        sendHeld();
        checkWritable();
        const qsizetype n = m_columns.size();
        // The row as stored: its values, Null as Null; the statement binds them all but the
        // columns left to their defaults.
        TRow stored = std::move(row);
        stored.resize(n);
        QList<int> shape{-3};
        bool skipped = false;
        for (int i = 0; i < n; ++i) {
            QVariant &v = stored[i];
            if (!IsNullValue(v))
                continue;
            if (v.isValid())
                v = QVariant();
            if (m_filled.contains(i)) {
                shape << i;
                skipped = skipped || m_defaulted.contains(i);
            }
        }
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end())
            it = m_shapes.insert(shape, prepared(insertSql(shape)));
        TStatement &query = it.value();
        if (!skipped) {
            run(query, stored);
        } else {
            TBoundValues params;
            params.reserve(n);
            for (int i = 0; i < n; ++i)
                if (!IsNullValue(stored.at(i)) || !m_defaulted.contains(i))
                    params << stored.at(i);
            run(query, params);
        }
        if (!readsBackWhole() && lastIdOnly(shape)) {
            const QVariant rowid = query.lastInsertId();
            query.finish();
            if (m_rowidAlias >= 0 && shape.size() > 1)
                stored[m_rowidAlias] = rowid.toLongLong();
            if (m_keys.isEmpty())
                stored << rowid;
            row = std::move(stored);
        } else if (!readsBackWhole()) {
            if (shape.size() > 1 || m_keys.isEmpty()) {
                if (!query.next())
                    throw EDBEngineError(QStringLiteral("Вставленная запись не найдена"),
                                         query.lastQuery());
                for (int j = 1; j < shape.size(); ++j)
                    stored[shape.at(j)] = columnValue(query, j - 1, m_columns.at(shape.at(j)));
                if (m_keys.isEmpty())
                    stored << query.value(static_cast<int>(shape.size() - 1));
            }
            query.finish();
            row = std::move(stored);
        } else if (insertReturnsWhole()) {
            if (!query.next())
                throw EDBEngineError(QStringLiteral("Вставленная запись не найдена"),
                                     query.lastQuery());
            row = readRow(query);
            query.finish();
            // On SQLite RETURNING shows the row before AFTER triggers ran: read it again.
            if (m_sqlite && m_hasTriggers) {
                TRow returned = row;
                if (!reread(row))
                    row = returned;
            }
        } else {
            const QVariant rowid = query.lastInsertId();
            query.finish();
            TStatement &again = byRowid();
            run(again, {rowid});
            if (!again.next())
                throw EDBEngineError(QStringLiteral("Вставленная запись не найдена"),
                                     again.lastQuery());
            row = readRow(again);
            again.finish();
        }
        makeCurrent(row);
    }

    // Writes the changed columns; the row as stored is the old row with them, unless triggers
    // may have changed more (then RETURNING or a second read), or the row's locator moves with
    // the update (a PostgreSQL table without key, addressed by ctid).
    void Update(const TRow &oldRow, const QList<int> &changed, TRow &row) override
    {
        sendHeld();
        checkWritable();
        if (changed.isEmpty()) {
            // Nothing to write: the row stays as it was read.
            row = oldRow;
            return;
        }
        TBoundValues params;
        for (int c : changed)
            params << (c < row.size() ? row.at(c) : QVariant());
        identifyParams(oldRow, params);
        const bool whole = readsBackWhole() || (!m_sqlite && m_keys.isEmpty());
        const bool returning = whole && updateReturns();
        QList<int> shape = changed;
        shape.prepend(-4);
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end()) {
            QStringList sets;
            for (int c : changed)
                sets << m_quotedCols.at(c) + QStringLiteral(" = ?");
            QString sql = QStringLiteral("UPDATE ") + m_table + QStringLiteral(" SET ") +
                          sets.join(QStringLiteral(", ")) + QStringLiteral(" WHERE ") + m_identify;
            if (returning)
                sql += QStringLiteral(" RETURNING ") + m_columnList;
            it = m_shapes.insert(shape, prepared(sql));
        }
        TStatement &query = it.value();
        run(query, params);
        const QString gone = QStringLiteral("Запись изменена или удалена другим пользователем");
        if (returning) {
            if (!query.next())
                throw EDBEngineError(gone, query.lastQuery());
            row = readRow(query);
            query.finish();
        } else {
            if (query.numRowsAffected() == 0)
                throw EDBEngineError(gone, query.lastQuery());
            query.finish();
            if (!whole) {
                TRow updated = oldRow;
                while (updated.size() < m_columns.size())
                    updated << QVariant();
                for (int c : changed)
                    updated[c] = c < row.size() ? row.at(c) : QVariant();
                row = std::move(updated);
            } else {
                TRow probe = row;
                if (m_keys.isEmpty() && oldRow.size() > m_columns.size())
                    probe = oldRow; // by rowid, which an update keeps
                if (!reread(probe))
                    throw EDBEngineError(gone, query.lastQuery());
                row = probe;
            }
        }
        makeCurrent(row);
    }

    void Delete(const TRow &row) override
    {
        sendHeld();
        checkWritable();
        TBoundValues params;
        identifyParams(row, params);
        QList<int> shape{-5};
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end())
            it = m_shapes.insert(shape, prepared(QStringLiteral("DELETE FROM ") + m_table +
                                                 QStringLiteral(" WHERE ") + m_identify));
        TStatement &query = it.value();
        run(query, params);
        query.finish();
        // Next continues after the deleted row's key.
        m_current = row;
        m_hasCurrent = true;
        m_page.clear();
        m_pageEnd = false;
    }

    bool Refresh(TRow &row) override
    {
        sendHeld();
        if (!reread(row))
            return false;
        makeCurrent(row);
        return true;
    }

private:
    static constexpr int HeldRows = 256;

    // Sends the held rows as "INSERT ... SELECT * FROM unnest($1::type[], ...)": the driver
    // formats a handful of array texts instead of every value of every row, and the server
    // parses one short statement.
    void sendHeld()
    {
        if (m_held.isEmpty())
            return;
        const TBoundValues held = std::move(m_held);
        m_held.clear();
        const QList<int> shape{-11};
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end()) {
            QStringList arrays;
            for (const QString &type : m_arrayTypes)
                arrays << QStringLiteral("?::") + type + QStringLiteral("[]");
            it = m_shapes.insert(
                shape, prepared(QStringLiteral("INSERT INTO ") + m_table + QStringLiteral(" (") +
                                m_quotedCols.join(QStringLiteral(", ")) +
                                QStringLiteral(") SELECT * FROM unnest(") +
                                arrays.join(QStringLiteral(", ")) + QStringLiteral(")")));
        }
        const qsizetype n = m_columns.size();
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
                appendArrayElement(array, held.at(r * n + c));
            }
            params << QVariant(array + QLatin1Char('}'));
        }
        TStatement &query = it.value();
        run(query, params);
        query.finish();
    }

    // An element of a PostgreSQL array text: NULL, a number, or a quoted text in which quotes
    // and backslashes are escaped. The common types go straight from the variant: a group is
    // 256 rows of every column.
    void appendArrayElement(QString &array, const QVariant &value) const
    {
        const void *data = value.constData();
        switch (value.isNull() ? QMetaType::UnknownType : value.typeId()) {
        case QMetaType::Int:
            appendNumber(array, *static_cast<const int *>(data));
            return;
        case QMetaType::LongLong:
            appendNumber(array, *static_cast<const qlonglong *>(data));
            return;
        case QMetaType::Double: {
            const double d = *static_cast<const double *>(data);
            if (!std::isfinite(d))
                break;
            appendNumber(array, d);
            return;
        }
        case QMetaType::QString: {
            const QString &text = *static_cast<const QString *>(data);
            array += QLatin1Char('"');
            if (!text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\\')))
                array += text;
            else
                appendEscaped(array, text);
            array += QLatin1Char('"');
            return;
        }
        case QMetaType::QDateTime: {
            // The wall-clock text, whatever the time's zone, as BindableValue makes it.
            char text[24];
            const int length = TimestampText(*static_cast<const QDateTime *>(data), text);
            if (length > 0) {
                array += QLatin1Char('"');
                array += QLatin1StringView(text, length);
                array += QLatin1Char('"');
                return;
            }
            break;
        }
        default:
            break;
        }
        const QVariant v = BindableValue(value, m_db.driver());
        switch (BoundKind(v)) {
        case TBoundKind::Null:
            array += QLatin1String("NULL");
            return;
        case TBoundKind::Integer:
            array += QString::number(v.toLongLong());
            return;
        case TBoundKind::Float:
            array += QString::number(v.toDouble(), 'g', 17);
            return;
        case TBoundKind::Boolean:
            array += v.toBool() ? QLatin1Char('t') : QLatin1Char('f');
            return;
        case TBoundKind::Bytes: // no table with binary columns sends arrays
        case TBoundKind::Text:
            break;
        }
        array += QLatin1Char('"');
        appendEscaped(array, BoundText(v));
        array += QLatin1Char('"');
    }

    static void appendEscaped(QString &array, const QString &text)
    {
        for (const QChar ch : text) {
            if (ch == QLatin1Char('"') || ch == QLatin1Char('\\'))
                array += QLatin1Char('\\');
            array += ch;
        }
    }

    // The next number of the key's sequence, taken in blocks; invalid when it has none.
    QVariant reservedNumber(int key)
    {
        if (m_reserved.isEmpty()) {
            if (!m_sequenceLooked) {
                m_sequenceLooked = true;
                const QString column = m_columns.at(key).Name;
                const QString named = q(m_db, m_pgSchema) + QLatin1Char('.') +
                                      q(m_db, m_pgRelation.toLower() + QLatin1Char('_') +
                                                  column.toLower() + QStringLiteral("_seq"));
                m_sequence =
                    FirstValue(m_db,
                               QStringLiteral("SELECT COALESCE(pg_get_serial_sequence(?, ?), "
                                              "to_regclass(?)::text)"),
                               TBoundValues{m_table, column, named})
                        .toString();
            }
            if (m_sequence.isEmpty())
                return {};
            TStatement &query =
                cached(QStringLiteral("SELECT nextval(?::regclass) FROM generate_series(1, %1)")
                           .arg(HeldRows));
            run(query, {m_sequence});
            while (query.next())
                m_reserved << query.value(0).toLongLong();
            query.finish();
            if (m_reserved.isEmpty())
                return {};
        }
        return normalize(m_reserved.takeFirst(), m_columns.at(key));
    }

    void checkWritable() const
    {
        if (m_readOnly)
            throw EDatabaseError(
                QStringLiteral("Таблица %1 открыта только для чтения").arg(m_name));
    }

    void describe()
    {
        m_columns.clear();
        m_quotedCols.clear();
        m_keys.clear();
        m_cache.clear();
        m_shapes.clear();
        m_defaulted.clear();
        m_filled.clear();
        m_hasTriggers = false;
        m_hasReturning = !m_sqlite || sqlite3_libversion_number() >= 3035000;
        if (m_sqlite)
            describeSqlite();
        else
            describePg();
        QStringList cols = m_quotedCols;
        if (m_keys.isEmpty()) {
            if (m_sqlite && !m_hasRowid)
                throw EDBEngineError(
                    QStringLiteral("Таблица %1 не имеет первичного ключа").arg(m_name));
            cols << (m_sqlite ? QStringLiteral("rowid") : QStringLiteral("ctid::text"));
        }
        m_columnList = cols.join(QStringLiteral(", "));
        m_selectList =
            QStringLiteral("SELECT ") + m_columnList + QStringLiteral(" FROM ") + m_table;
        QStringList order;
        for (int k : m_keys)
            order << m_quotedCols.at(k);
        if (order.isEmpty())
            order << (m_sqlite ? QStringLiteral("rowid") : QStringLiteral("ctid"));
        m_orderBy = order.join(QStringLiteral(", "));
        QStringList ident;
        if (m_keys.isEmpty())
            ident << (m_sqlite ? QStringLiteral("rowid = ?") : QStringLiteral("ctid = ?::tid"));
        for (int k : m_keys)
            ident << m_quotedCols.at(k) + QStringLiteral(" = ?");
        m_identify = ident.join(QStringLiteral(" AND "));
        m_filled = m_defaulted;
        for (int k : m_keys)
            if (!m_filled.contains(k))
                m_filled << k;
        std::sort(m_filled.begin(), m_filled.end());
    }

    void describeSqlite()
    {
        QString table = m_name.trimmed();
        if (table.contains(QLatin1Char('.')))
            table = table.section(QLatin1Char('.'), -1);
        const QVariant real =
            FirstValue(m_db,
                       QStringLiteral("SELECT name FROM sqlite_master WHERE type IN "
                                      "('table','view') AND lower(name) = lower(?)"),
                       {table});
        if (IsNullValue(real))
            throw EDBEngineError(QStringLiteral("Таблица не найдена: %1").arg(m_name));
        const QString realName = real.toString();
        m_table = q(m_db, realName);
        QSqlQuery info(m_db);
        if (!info.exec(QStringLiteral("PRAGMA table_info(") + m_table + QStringLiteral(")")))
            fail(info, info.lastQuery());
        QList<QPair<int, int>> pk;
        QStringList types;
        while (info.next()) {
            types << info.value(2).toString().trimmed().toUpper();
            TColumn c = ColumnFromDeclaredType(info.value(1).toString(), info.value(2).toString());
            c.Required = info.value(3).toInt() != 0;
            if (!info.isNull(4))
                m_defaulted << static_cast<int>(m_columns.size());
            const int pkOrder = info.value(5).toInt();
            if (pkOrder > 0)
                pk << qMakePair(pkOrder, static_cast<int>(m_columns.size()));
            m_quotedCols << q(m_db, c.Name);
            m_columns << c;
        }
        std::sort(pk.begin(), pk.end());
        for (const auto &p : pk)
            m_keys << p.second;
        m_rowidAlias = -1;
        if (m_keys.size() == 1 && types.at(m_keys.first()) == QLatin1String("INTEGER"))
            m_rowidAlias = m_keys.first();
        QSqlQuery probe(m_db);
        m_hasRowid =
            probe.exec(QStringLiteral("SELECT rowid FROM ") + m_table + QStringLiteral(" LIMIT 0"));
        if (!m_hasRowid)
            m_rowidAlias = -1;
        m_hasTriggers = FirstValue(m_db,
                                   QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = "
                                                  "'trigger' AND lower(tbl_name) = lower(?)"),
                                   {realName})
                            .toInt() > 0;
    }

    void describePg()
    {
        QString schema = QLatin1String(""), table = m_name.trimmed(); // never bound as Null
        if (table.contains(QLatin1Char('.'))) {
            schema = table.section(QLatin1Char('.'), 0, -2);
            table = table.section(QLatin1Char('.'), -1);
        }
        QSqlQuery find(m_db);
        prepare(find,
                QStringLiteral(
                    "SELECT c.oid::bigint, n.nspname, c.relname FROM pg_class c "
                    "JOIN pg_namespace n ON n.oid = c.relnamespace "
                    "WHERE c.relkind IN ('r','v','p','m','f') AND lower(c.relname) = lower(?) "
                    "AND ((coalesce(?, '') = '' AND n.nspname = ANY(current_schemas(false))) "
                    "OR lower(n.nspname) = lower(?)) "
                    "ORDER BY coalesce(array_position(current_schemas(false), n.nspname), "
                    "1000) LIMIT 1"));
        run(find, {table, schema, schema});
        if (!find.next())
            throw EDBEngineError(QStringLiteral("Таблица не найдена: %1").arg(m_name));
        const qint64 oid = find.value(0).toLongLong();
        m_pgSchema = find.value(1).toString();
        m_pgRelation = find.value(2).toString();
        m_table = q(m_db, m_pgSchema) + QLatin1Char('.') + q(m_db, m_pgRelation);
        find.finish();
        QSqlQuery cols(m_db);
        prepare(cols,
                QStringLiteral("SELECT attname, format_type(atttypid, atttypmod), attnotnull, "
                               "atthasdef OR attidentity <> '' OR attgenerated <> '' "
                               "FROM pg_attribute WHERE attrelid = ? AND attnum > 0 "
                               "AND NOT attisdropped ORDER BY attnum"));
        run(cols, {oid});
        QStringList types;
        while (cols.next()) {
            TColumn c = ColumnFromDeclaredType(cols.value(0).toString(), cols.value(1).toString());
            c.Required = cols.value(2).toBool();
            if (cols.value(3).toBool())
                m_defaulted << static_cast<int>(m_columns.size());
            m_quotedCols << q(m_db, c.Name);
            m_columns << c;
            types << cols.value(1).toString();
        }
        // Rows are held back only where every type has a plain array of its own (not an array
        // column, not binary data: their array texts are not worth the trouble).
        const bool plain = std::none_of(types.begin(), types.end(), [](const QString &t) {
            return t.isEmpty() || t.endsWith(QLatin1Char(']')) || t == QLatin1String("bytea");
        });
        m_arrayTypes = plain ? types : QStringList();
        QSqlQuery pk(m_db);
        prepare(pk, QStringLiteral("SELECT a.attname FROM pg_index i JOIN pg_attribute a "
                                   "ON a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey) "
                                   "WHERE i.indrelid = ? AND i.indisprimary "
                                   "ORDER BY array_position(i.indkey::int2[], a.attnum)"));
        run(pk, {oid});
        while (pk.next()) {
            const QString name = pk.value(0).toString();
            for (int i = 0; i < m_columns.size(); ++i)
                if (m_columns.at(i).Name == name)
                    m_keys << i;
        }
        m_hasRowid = false;
        m_hasTriggers =
            FirstValue(m_db,
                       QStringLiteral("SELECT COUNT(*) FROM pg_trigger WHERE tgrelid = ? AND NOT "
                                      "tgisinternal"),
                       {oid})
                .toInt() > 0;
    }

    void buildFilter(const TRowFilter &filter)
    {
        m_filterWhere.clear();
        m_filterParams.clear();
        if (filter.IsEmpty())
            return;
        const QList<int> cols = filter.Resolve(m_columns);
        QStringList conds;
        for (int i = 0; i < filter.Conditions.size(); ++i) {
            const TFilterCondition &f = filter.Conditions.at(i);
            const TColumn &c = m_columns.at(cols.at(i));
            const QString col = m_quotedCols.at(cols.at(i));
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
                const QString sub =
                    QStringLiteral("substr(%1, 1, %2)").arg(expr).arg(prefix.size());
                conds << (filter.CaseInsensitive ? QStringLiteral("UPPER(%1) = UPPER(?)").arg(sub)
                                                 : sub + QStringLiteral(" = ?"));
                m_filterParams << prefix;
                break;
            }
            case TFilterCondition::Equal: {
                QVariant v;
                if (!valueForColumn(text ? QVariant(f.Value.toString()) : f.Value, c, v)) {
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

    // The shape of a key comparison (appended to shape: column, then 0 for IS NULL, 1 for an
    // exact comparison, 2 for a folded one) and its parameters; false when a value cannot be
    // compared with its column (nothing then matches).
    bool keyShape(const QList<int> &columns, const QVariantList &values, bool ci, QList<int> &shape,
                  TBoundValues &params) const
    {
        for (int i = 0; i < columns.size(); ++i) {
            const TColumn &c = m_columns.at(columns.at(i));
            const QVariant raw = i < values.size() ? values.at(i) : QVariant();
            shape << columns.at(i);
            if (IsNullValue(raw)) {
                shape << 0;
                continue;
            }
            QVariant v;
            if (!valueForColumn(raw, c, v))
                return false;
            // A value without letters of either case ("45401", "A-12" is not one) equals the
            // folded column exactly when it equals the column: the plain index serves it.
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
    QStringList keyConditions(const QList<int> &columns, const QList<int> &shape, int offset) const
    {
        QStringList conds;
        for (int i = 0; i < columns.size(); ++i) {
            const QString col = m_quotedCols.at(shape.at(offset + 2 * i));
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

    // Parameters of m_identify, which addresses one row by its primary key, else its
    // rowid/ctid.
    void identifyParams(const TRow &row, TBoundValues &params)
    {
        if (m_keys.isEmpty()) {
            // A row that was held back carries no locator: it is found by its values.
            params << (row.size() > m_columns.size() ? row.at(m_columns.size()) : locatorOf(row));
            return;
        }
        for (int k : m_keys)
            params << row.value(k);
    }

    QVariant locatorOf(const TRow &row)
    {
        sendHeld();
        QStringList conds;
        TBoundValues params;
        for (int i = 0; i < m_columns.size(); ++i) {
            if (IsNullValue(row.value(i))) {
                conds << m_quotedCols.at(i) + QStringLiteral(" IS NULL");
            } else {
                conds << m_quotedCols.at(i) + QStringLiteral(" = ?");
                params << row.value(i);
            }
        }
        TStatement &query =
            cached(QStringLiteral("SELECT ") +
                   (m_sqlite ? QStringLiteral("rowid") : QStringLiteral("ctid::text")) +
                   QStringLiteral(" FROM ") + m_table + QStringLiteral(" WHERE ") +
                   conds.join(QStringLiteral(" AND ")) + QStringLiteral(" LIMIT 1"));
        run(query, params);
        const QVariant locator = query.next() ? query.value(0) : QVariant();
        query.finish();
        return locator;
    }

    // Whether a written row must be read back whole: triggers may change any column; SQLite
    // before 3.35 cannot return what it filled in.
    bool readsBackWhole() const { return m_hasTriggers || !m_hasReturning; }

    // SQLite returns rows from INSERT and UPDATE since 3.35; AFTER triggers (the operator's
    // number) change the row after RETURNING has shown it, so such tables are read again.
    bool insertReturnsWhole() const
    {
        if (!m_sqlite)
            return true;
        return m_hasReturning && (!m_hasRowid || !m_hasTriggers);
    }

    // On SQLite the row's number, the only thing the database filled in, comes without
    // RETURNING (which costs SQLite a temporary table per statement).
    bool lastIdOnly(const QList<int> &shape) const
    {
        if (!m_sqlite || !m_hasRowid)
            return false;
        for (int j = 1; j < shape.size(); ++j)
            if (shape.at(j) != m_rowidAlias)
                return false;
        return true;
    }

    bool updateReturns() const { return !m_sqlite || (m_hasReturning && !m_hasTriggers); }

    QString insertSql(const QList<int> &shape) const
    {
        QStringList cols, marks;
        for (int i = 0; i < m_columns.size(); ++i) {
            if (m_defaulted.contains(i) && shape.indexOf(i, 1) > 0)
                continue;
            cols << m_quotedCols.at(i);
            marks << QStringLiteral("?");
        }
        QString sql = QStringLiteral("INSERT INTO ") + m_table;
        if (cols.isEmpty())
            sql += QStringLiteral(" DEFAULT VALUES");
        else
            sql += QStringLiteral(" (") + cols.join(QStringLiteral(", ")) +
                   QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) +
                   QStringLiteral(")");
        if (m_sqlite && !m_hasRowid && !m_hasReturning)
            throw EDBEngineError(
                QStringLiteral("SQLite %1 не умеет возвращать вставленную запись таблицы %2")
                    .arg(QString::fromLatin1(sqlite3_libversion()), m_name));
        if (readsBackWhole()) {
            if (insertReturnsWhole())
                sql += QStringLiteral(" RETURNING ") + m_columnList;
            return sql;
        }
        if (lastIdOnly(shape))
            return sql;
        QStringList returned;
        for (int j = 1; j < shape.size(); ++j)
            returned << m_quotedCols.at(shape.at(j));
        if (m_keys.isEmpty())
            returned << (m_sqlite ? QStringLiteral("rowid") : QStringLiteral("ctid::text"));
        if (!returned.isEmpty())
            sql += QStringLiteral(" RETURNING ") + returned.join(QStringLiteral(", "));
        return sql;
    }

    TStatement &byRowid()
    {
        const QList<int> shape{-6};
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end())
            it =
                m_shapes.insert(shape, prepared(m_selectList + QStringLiteral(" WHERE rowid = ?")));
        return it.value();
    }

    bool reread(TRow &row)
    {
        TBoundValues params;
        identifyParams(row, params);
        const QList<int> shape{-7};
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end())
            it = m_shapes.insert(shape,
                                 prepared(m_selectList + QStringLiteral(" WHERE ") + m_identify));
        TStatement &query = it.value();
        run(query, params);
        if (!query.next()) {
            query.finish();
            return false;
        }
        row = readRow(query);
        query.finish();
        return true;
    }

    void fetchPage(bool after)
    {
        QStringList conds;
        TBoundValues params;
        if (!m_filterWhere.isEmpty()) {
            conds << QStringLiteral("(") + m_filterWhere + QStringLiteral(")");
            params << m_filterParams;
        }
        if (after) {
            if (m_keys.isEmpty()) {
                conds << (m_sqlite ? QStringLiteral("rowid > ?") : QStringLiteral("ctid > ?::tid"));
                params << m_current.value(m_columns.size());
            } else {
                QStringList cols, marks;
                for (int k : m_keys) {
                    cols << m_quotedCols.at(k);
                    marks << QStringLiteral("?");
                    params << m_current.value(k);
                }
                if (m_keys.size() == 1)
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
        run(query, params);
        int n = 0;
        while (query.next()) {
            m_page.push_back(readRow(query));
            ++n;
        }
        query.finish();
        m_pageEnd = n < PageSize;
    }

    bool take(TRow &row)
    {
        if (m_page.empty())
            return false;
        row = std::move(m_page.front());
        m_page.pop_front();
        m_current = row;
        m_hasCurrent = true;
        return true;
    }

    void makeCurrent(const TRow &row)
    {
        m_current = row;
        m_hasCurrent = true;
        m_page.clear();
        m_pageEnd = false;
    }

    TRow readRow(const TStatement &query) const
    {
        const int n = static_cast<int>(m_columns.size());
        // Made whole, then filled in place: a wide row is read for every row a walk edits.
        TRow row(n + (m_keys.isEmpty() ? 1 : 0));
        QVariant *out = row.data();
        for (int i = 0; i < n; ++i)
            out[i] = columnValue(query, i, m_columns.at(i));
        if (m_keys.isEmpty())
            out[n] = query.value(n);
        return row;
    }

    TStatement prepared(const QString &sql) const { return TStatement(m_db, sql); }

    TStatement &cached(const QString &sql)
    {
        auto it = m_cache.find(sql);
        if (it == m_cache.end())
            it = m_cache.insert(sql, prepared(sql));
        return it.value();
    }

    QSqlDatabase m_db;
    QString m_pgSchema, m_pgRelation; // PostgreSQL: where the table is
    TBoundValues m_held;              // rows held back, column after column
    TBoundValues m_searchParams;      // of the last Locate or Lookup, kept for their room
    QList<int> m_searchShape;
    QList<qint64> m_reserved; // numbers of the key's sequence taken ahead
    QString m_sequence;
    bool m_sequenceLooked = false;
    QStringList m_arrayTypes; // PostgreSQL: the columns' types, when rows can be held back
    QString m_name;
    bool m_readOnly;
    bool m_sqlite;
    bool m_open = false;
    bool m_hasRowid = false;
    QString m_table;
    QList<TColumn> m_columns;
    QStringList m_quotedCols;
    QList<int> m_keys;
    QString m_columnList;
    QString m_selectList;
    QString m_orderBy;
    QString m_filterWhere;
    TBoundValues m_filterParams;
    std::deque<TRow> m_page;
    bool m_pageEnd = false;
    TRow m_current;
    bool m_hasCurrent = false;
    QHash<QString, TStatement> m_cache;
    // Statements prepared once per cursor, by the shape of what they do (see the callers).
    QHash<QList<int>, TStatement> m_shapes;
    QList<int> m_defaulted; // columns with a default, left out of an INSERT when Null
    QList<int> m_filled;    // m_defaulted and the key: what RETURNING reports after an INSERT
    QString m_identify;     // WHERE text addressing one row (identifyParams)
    bool m_hasTriggers = false;
    bool m_hasReturning = false;
    int m_rowidAlias = -1; // SQLite: the INTEGER PRIMARY KEY column, which is the rowid
};

// ------------------------------------------------------------------------------------------
// Query cursor

class SqlQueryCursor : public TCursor
{
public:
    SqlQueryCursor(QSqlDatabase db, QString sql, TBoundValues params, QSqlQuery *statement)
        : m_db(std::move(db)), m_sql(std::move(sql)), m_params(std::move(params)),
          m_sqlite(IsSqlite(m_db)), m_query(m_db), m_serverSide(serverSideCandidate()),
          m_statement(statement)
    {
    }

    ~SqlQueryCursor() override
    {
        try {
            closeServerCursor();
        } catch (...) {
            // The connection may be gone; the server drops the cursor with it.
        }
    }

    void Open(const TRowFilter &filter) override
    {
        m_filter = filter;
        execute();
        m_filterCols = m_filter.Resolve(m_columns);
    }

    void Close() override
    {
        if (m_native)
            m_native->finish();
        m_run->finish();
        if (m_run == &m_query)
            m_query.clear(); // a statement kept by the caller stays prepared
        dropPage();
        closeServerCursor();
    }

    const QList<TColumn> &Columns() const override { return m_columns; }

    bool First(TRow &row) override
    {
        if (m_serverSide && m_onFirstPage) {
            // Still within the first page (opening the dataset read its first row): no second
            // run of the query.
            m_pagePos = 0;
        } else if (m_consumed) {
            if (m_sqlite || m_serverSide)
                execute();
            else
                m_run->seek(QSql::BeforeFirstRow);
        }
        return advance(row);
    }

    bool Next(TRow &row) override { return advance(row); }

    int RecordCount() override
    {
        if (m_filter.IsEmpty() && !m_sqlite && !m_serverSide && m_run->size() >= 0)
            return m_run->size();
        if (m_filter.IsEmpty() && m_serverSide && m_pageEnd)
            return int(m_fetchedBefore + qint64(m_page.size()));
        if (m_filter.IsEmpty()) {
            return FirstValue(m_db,
                              QStringLiteral("SELECT COUNT(*) FROM (") + m_sql +
                                  QStringLiteral(") zoru_count"),
                              m_params)
                .toInt();
        }
        int n = 0;
        scan([&](const TRow &) {
            ++n;
            return false;
        });
        return n;
    }

    bool Locate(const QList<int> &columns, const QVariantList &values, bool caseInsensitive,
                TRow &row) override
    {
        // Rows stream forward: start again from the first one.
        TRow candidate;
        bool ok = First(candidate);
        while (ok) {
            if (keysMatch(candidate, columns, values, caseInsensitive)) {
                row = candidate;
                return true;
            }
            ok = Next(candidate);
        }
        return false;
    }

    bool Lookup(const QList<int> &keyColumns, const QVariantList &values,
                const QList<int> &resultColumns, QVariantList &result) override
    {
        bool found = false;
        scan([&](const TRow &r) {
            if (!keysMatch(r, keyColumns, values, false))
                return false;
            result.clear();
            for (int c : resultColumns)
                result << r.value(c);
            found = true;
            return true;
        });
        return found;
    }

    bool CanModify() const override { return false; }
    void Insert(TRow &) override { readOnly(); }
    void Update(const TRow &, const QList<int> &, TRow &) override { readOnly(); }
    void Delete(const TRow &) override { readOnly(); }
    // Runs the statement again and finds the same row by its values.
    bool Refresh(TRow &row) override
    {
        const TRow wanted = row;
        execute();
        TRow candidate;
        while (advance(candidate)) {
            bool same = candidate.size() == wanted.size();
            for (int i = 0; same && i < candidate.size(); ++i)
                same = ValuesEqual(candidate.at(i), wanted.at(i), false);
            if (same) {
                row = candidate;
                return true;
            }
        }
        return false;
    }

private:
    [[noreturn]] static void readOnly()
    {
        throw EDatabaseError(QStringLiteral("Набор данных только для чтения"));
    }

    // A parameterless SELECT on PostgreSQL is read through a server-side cursor a page at a
    // time, so that a large result costs the client one page, and the connection stays free for
    // other statements between pages. Other statements (with parameters, which the Qt driver
    // cannot pass to DECLARE) are fetched whole.
    bool serverSideCandidate() const
    {
        if (m_sqlite || !m_params.isEmpty())
            return false;
        static const QRegularExpression select(QStringLiteral("^\\s*SELECT\\b"),
                                               QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression locking(
            QStringLiteral("\\bFOR\\s+(UPDATE|SHARE|NO\\s+KEY|KEY)\\b"),
            QRegularExpression::CaseInsensitiveOption);
        QString text = m_sql.trimmed();
        while (text.endsWith(QLatin1Char(';')))
            text.chop(1);
        return select.match(text).hasMatch() && !text.contains(QLatin1Char(';')) &&
               !locking.match(text).hasMatch();
    }

    void execute()
    {
        if (m_serverSide) {
            closeServerCursor();
            declareCursor();
            m_page.clear();
            m_fetchedBefore = 0;
            m_pageEnd = false;
            m_consumed = false;
            fetchPage();
            m_onFirstPage = true;
            return;
        }
        if (m_sqlite) {
            // SQLite prepares in microseconds: the cursor keeps its own native statement.
            if (!m_native)
                m_native.emplace(m_db, m_sql);
            m_native->exec(m_params);
            m_consumed = false;
            if (m_columns.isEmpty())
                describe(*m_native);
            return;
        }
        if (m_statement && m_statement->lastQuery() == m_sql &&
            m_statement->driver() == m_db.driver()) {
            m_statement->finish();
            m_run = m_statement;
        } else {
            m_query = QSqlQuery(m_db);
            // PostgreSQL loses a streaming result once another statement runs on the
            // connection, and callers interleave statements freely; SQLite streams safely.
            m_query.setForwardOnly(m_sqlite);
            prepare(m_query, m_sql);
            m_run = &m_query;
            if (m_statement) {
                *m_statement = std::move(m_query);
                m_run = m_statement;
            }
        }
        run(*m_run, m_params);
        m_consumed = false;
        if (m_columns.isEmpty())
            describe(*m_run);
    }

    void describe(const TStatement &statement)
    {
        for (int i = 0; i < statement.columnCount(); ++i) {
            const QString name = statement.columnName(i);
            const QString decl = statement.columnDeclaredType(i);
            TColumn c;
            if (!decl.isEmpty()) {
                c = ColumnFromDeclaredType(name, decl);
            } else {
                c.Name = name;
                c.DataType = typeFromMeta(statement.columnValueType(i).id());
            }
            m_columns << c;
        }
    }

    void describe(const QSqlQuery &query)
    {
        const QSqlRecord rec = query.record();
        sqlite3_stmt *stmt = nullptr;
        if (m_sqlite && query.result()) {
            const QVariant h = query.result()->handle();
            if (h.isValid() && qstrcmp(h.typeName(), "sqlite3_stmt*") == 0)
                stmt = *static_cast<sqlite3_stmt *const *>(h.constData());
        }
        for (int i = 0; i < rec.count(); ++i) {
            const QSqlField f = rec.field(i);
            TColumn c;
            const char *decl = stmt ? sqlite3_column_decltype(stmt, i) : nullptr;
            if (decl) {
                c = ColumnFromDeclaredType(f.name(), QString::fromUtf8(decl));
            } else {
                c.Name = f.name();
                c.DataType = typeFromMeta(f.metaType().id());
                if (c.DataType == TFieldType::ftString && f.length() > 0)
                    c.Size = f.length();
                if (!m_sqlite && c.DataType == TFieldType::ftString && f.length() < 0)
                    c.Size = 0;
            }
            m_columns << c;
        }
    }

    // Inside a transaction the cursor lives until the transaction ends, and the server makes
    // the rows only as they are fetched. Outside one it is held past the commit of its own
    // statement, for which the server makes the whole result at once.
    void declareCursor()
    {
        static QAtomicInt counter;
        m_cursorName = QStringLiteral("zoru_rows_%1").arg(counter.fetchAndAddRelaxed(1) + 1);
        m_cursorSerial = TransactionSerial(m_db);
        QString text = m_sql.trimmed();
        while (text.endsWith(QLatin1Char(';')))
            text.chop(1);
        QSqlQuery declare(m_db);
        const QString sql =
            QStringLiteral("DECLARE ") + m_cursorName +
            (m_cursorSerial != 0 ? QStringLiteral(" NO SCROLL CURSOR FOR ")
                                 : QStringLiteral(" NO SCROLL CURSOR WITH HOLD FOR ")) +
            text;
        if (!declare.exec(sql)) {
            m_cursorName.clear();
            fail(declare, sql);
        }
    }

    // The transaction of the cursor ended before every row was read, and took the cursor with
    // it: the statement runs again and the rows read so far are skipped, so that reading goes
    // on where it was (over the rows as they are now).
    void redeclareCursor(qint64 rowsRead)
    {
        closeServerCursor();
        declareCursor();
        if (rowsRead == 0)
            return;
        QSqlQuery move(m_db);
        const QString sql = QStringLiteral("MOVE FORWARD %1 FROM ").arg(rowsRead) + m_cursorName;
        if (!move.exec(sql))
            fail(move, sql);
    }

    void fetchPage()
    {
        m_fetchedBefore += qint64(m_page.size());
        m_page.clear();
        m_pagePos = 0;
        m_onFirstPage = false;
        if (m_cursorSerial != 0 && TransactionSerial(m_db) != m_cursorSerial)
            redeclareCursor(m_fetchedBefore);
        // The first page is of 1024 rows, the next ones of about 16K values (1024 to 8192 rows):
        // a narrow result needs few round trips, and a page stays as small as before for a
        // result of 16 columns or more.
        const int rows = m_columns.isEmpty() ? PageSize * 4
                                             : std::clamp(16384 / int(m_columns.size()),
                                                          PageSize * 4, PageSize * 32);
        QSqlQuery fetch(m_db);
        fetch.setForwardOnly(true);
        const QString sql = QStringLiteral("FETCH FORWARD %1 FROM ").arg(rows) + m_cursorName;
        if (!fetch.exec(sql))
            fail(fetch, sql);
        if (m_columns.isEmpty())
            describe(fetch);
        while (fetch.next())
            m_page.push_back(read(fetch));
        fetch.finish();
        m_pageEnd = m_page.size() < size_t(rows);
        if (m_pageEnd) {
            // Every row is here: the cursor, which certainly exists, is closed at once.
            QSqlQuery close(m_db);
            close.exec(QStringLiteral("CLOSE ") + m_cursorName);
            m_cursorName.clear();
        }
    }

    void dropPage()
    {
        m_page.clear();
        m_pagePos = 0;
        m_onFirstPage = false;
    }

    void closeServerCursor()
    {
        if (m_cursorName.isEmpty())
            return;
        const QString name = m_cursorName;
        m_cursorName.clear();
        dropPage();
        if (!m_db.isOpen())
            return;
        // A cursor whose transaction ended is gone, and so is one declared in a transaction that
        // was rolled back; closing it then would fail and spoil the transaction that runs now.
        const quint64 serial = TransactionSerial(m_db);
        if (m_cursorSerial != 0 && serial == 0)
            return;
        if ((m_cursorSerial == 0 || serial != m_cursorSerial) &&
            FirstValue(m_db, QStringLiteral("SELECT COUNT(*) FROM pg_cursors WHERE name = ?"),
                       {name})
                    .toInt() == 0)
            return;
        QSqlQuery close(m_db);
        close.exec(QStringLiteral("CLOSE ") + name);
    }

    bool advance(TRow &row)
    {
        if (m_serverSide) {
            for (;;) {
                if (m_pagePos >= m_page.size()) {
                    if (m_pageEnd || m_cursorName.isEmpty()) {
                        m_consumed = true;
                        return false;
                    }
                    fetchPage();
                    continue;
                }
                m_consumed = true;
                TRow r = m_page[m_pagePos++];
                if (m_filter.IsEmpty() || m_filter.Matches(m_columns, m_filterCols, r)) {
                    row = std::move(r);
                    return true;
                }
            }
        }
        return m_native ? advanceOn(*m_native, row) : advanceOn(*m_run, row);
    }

    // The next row of the statement that passes the filter.
    template <typename Statement> bool advanceOn(Statement &statement, TRow &row)
    {
        while (statement.next()) {
            m_consumed = true;
            TRow r = read(statement);
            if (m_filter.IsEmpty() || m_filter.Matches(m_columns, m_filterCols, r)) {
                row = std::move(r);
                return true;
            }
        }
        m_consumed = true;
        return false;
    }

    template <typename Statement> TRow read(const Statement &query) const
    {
        TRow row;
        row.reserve(m_columns.size());
        for (int i = 0; i < m_columns.size(); ++i)
            row << columnValue(query, i, m_columns.at(i));
        return row;
    }

    // Runs the statement once more on its own, leaving the current position alone; stops when
    // visit returns true.
    void scan(const std::function<bool(const TRow &)> &visit)
    {
        QSqlQuery other(m_db);
        other.setForwardOnly(true);
        prepare(other, m_sql);
        run(other, m_params);
        // PostgreSQL: this scan is the only statement running until it ends.
        while (other.next()) {
            TRow r = read(other);
            if (!m_filter.IsEmpty() && !m_filter.Matches(m_columns, m_filterCols, r))
                continue;
            if (visit(r))
                break;
        }
        other.finish();
    }

    bool keysMatch(const TRow &r, const QList<int> &cols, const QVariantList &values, bool ci) const
    {
        for (int i = 0; i < cols.size(); ++i) {
            const QVariant want = values.value(i);
            const TColumn &c = m_columns.at(cols.at(i));
            QVariant conv;
            if (!IsNullValue(want) && !valueForColumn(want, c, conv))
                return false;
            if (!ValuesEqual(r.value(cols.at(i)), IsNullValue(want) ? QVariant() : conv,
                             ci && IsTextType(c.DataType)))
                return false;
        }
        return true;
    }

    QSqlDatabase m_db;
    QString m_sql;
    TBoundValues m_params;
    bool m_sqlite;
    QSqlQuery m_query;
    bool m_serverSide;
    std::optional<TStatement> m_native; // SQLite: the statement, run on the library's handle
    QSqlQuery *m_statement;             // the caller's, kept between cursors; may be null
    QSqlQuery *m_run = &m_query;        // the statement whose rows are read: m_query or m_statement
    QString m_cursorName;
    quint64 m_cursorSerial = 0; // the transaction the cursor lives in; 0: held past commits
    std::vector<TRow> m_page;   // the page fetched last, read up to m_pagePos
    size_t m_pagePos = 0;
    qint64 m_fetchedBefore = 0; // rows of the pages before m_page
    bool m_onFirstPage = false; // m_page is the first page of the result
    bool m_pageEnd = false;
    bool m_consumed = false;
    QList<TColumn> m_columns;
    TRowFilter m_filter;
    QList<int> m_filterCols;
};

} // namespace

TColumn ColumnFromDeclaredType(const QString &name, const QString &declaredType)
{
    TColumn c;
    c.Name = name;
    const QString t = declaredType.trimmed().toUpper();
    static const QRegularExpression sizeRe(QStringLiteral("\\(\\s*(\\d+)"));
    int size = 0;
    const auto m = sizeRe.match(t);
    if (m.hasMatch())
        size = m.captured(1).toInt();
    if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("TEXT")) ||
        t.contains(QLatin1String("CLOB")) || t.contains(QLatin1String("STRING"))) {
        c.DataType = TFieldType::ftString;
        c.Size = size;
    } else if (t.startsWith(QLatin1String("BOOL"))) {
        c.DataType = TFieldType::ftBoolean;
    } else if (t.startsWith(QLatin1String("TIMESTAMP")) ||
               t.startsWith(QLatin1String("DATETIME"))) {
        c.DataType = TFieldType::ftDateTime;
    } else if (t == QLatin1String("DATE")) {
        c.DataType = TFieldType::ftDate;
    } else if (t.startsWith(QLatin1String("TIME"))) {
        c.DataType = TFieldType::ftTime;
    } else if (t.contains(QLatin1String("SMALLINT")) || t == QLatin1String("INT2")) {
        c.DataType = TFieldType::ftSmallint;
    } else if (t.contains(QLatin1String("BIGINT")) || t == QLatin1String("INT8")) {
        c.DataType = TFieldType::ftLargeint;
    } else if (t.contains(QLatin1String("INT"))) {
        c.DataType = TFieldType::ftInteger;
    } else if (t.startsWith(QLatin1String("NUMERIC")) || t.startsWith(QLatin1String("DECIMAL")) ||
               t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("DOUBLE")) ||
               t.contains(QLatin1String("FLOAT")) || t == QLatin1String("NUMBER") ||
               t.startsWith(QLatin1String("NUMBER("))) {
        c.DataType = TFieldType::ftFloat;
    } else if (t.contains(QLatin1String("BLOB")) || t == QLatin1String("BYTEA")) {
        c.DataType = TFieldType::ftBlob;
    }
    return c;
}

std::unique_ptr<TCursor> MakeSqlTableCursor(const QSqlDatabase &db, const QString &tableName,
                                            bool readOnly)
{
    return std::make_unique<SqlTableCursor>(db, tableName, readOnly);
}

std::unique_ptr<TCursor> MakeSqlQueryCursor(const QSqlDatabase &db, const QString &sql,
                                            const TBoundValues &params, QSqlQuery *statement)
{
    return std::make_unique<SqlQueryCursor>(db, sql, params, statement);
}

int ExecSql(const QSqlDatabase &db, const QString &sql, const TBoundValues &params)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    prepare(query, sql);
    run(query, params);
    const int n = query.numRowsAffected();
    query.finish();
    return n;
}

bool SqlTableExists(const QSqlDatabase &db, const QString &tableName)
{
    try {
        SqlTableCursor c(db, tableName, true);
        c.Open(TRowFilter());
        return true;
    } catch (const EDBEngineError &) {
        return false;
    }
}

} // namespace engine
