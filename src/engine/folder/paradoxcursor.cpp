#include "engine/folder/paradoxcursor.h"

#include "core/errors.h"
#include "engine/folder/storedvalues.h"
#include "engine/paradox/paradoxtable.h"

#include <QFileInfo>
#include <map>
#include <optional>

namespace engine {

namespace {

// Order of key values: Null first, numbers numerically, text by code points, dates by value.
// A number held by v, read without Qt's general conversion (a key comparison runs for every
// row a table takes); false for anything that is not a number.
bool numberOf(const QVariant &v, double &out)
{
    const void *p = v.constData();
    switch (v.typeId()) {
    case QMetaType::Int:
        out = *static_cast<const int *>(p);
        return true;
    case QMetaType::UInt:
        out = *static_cast<const uint *>(p);
        return true;
    case QMetaType::LongLong:
        out = static_cast<double>(*static_cast<const qlonglong *>(p));
        return true;
    case QMetaType::ULongLong:
        out = static_cast<double>(*static_cast<const qulonglong *>(p));
        return true;
    case QMetaType::Double:
        out = *static_cast<const double *>(p);
        return true;
    case QMetaType::Float:
        out = *static_cast<const float *>(p);
        return true;
    case QMetaType::Bool:
        out = *static_cast<const bool *>(p) ? 1 : 0;
        return true;
    case QMetaType::Short:
        out = *static_cast<const short *>(p);
        return true;
    case QMetaType::UShort:
        out = *static_cast<const ushort *>(p);
        return true;
    default:
        return false;
    }
}

int compareValues(const QVariant &a, const QVariant &b)
{
    const bool an = IsNullValue(a), bn = IsNullValue(b);
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    double x = 0, y = 0;
    const bool ax = numberOf(a, x), by = numberOf(b, y);
    if (ax && by)
        return x < y ? -1 : (x > y ? 1 : 0);
    if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString) {
        const int c = static_cast<const QString *>(a.constData())
                          ->compare(*static_cast<const QString *>(b.constData()));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (a.typeId() == QMetaType::QDate && b.typeId() == QMetaType::QDate)
        return a.toDate() < b.toDate() ? -1 : (b.toDate() < a.toDate() ? 1 : 0);
    if (a.typeId() == QMetaType::QDateTime && b.typeId() == QMetaType::QDateTime)
        return a.toDateTime() < b.toDateTime() ? -1 : (b.toDateTime() < a.toDateTime() ? 1 : 0);
    if (a.typeId() == QMetaType::QTime && b.typeId() == QMetaType::QTime)
        return a.toTime() < b.toTime() ? -1 : (b.toTime() < a.toTime() ? 1 : 0);
    const int c = a.toString().compare(b.toString());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Identity of a row in memory: its key values in a keyed table, its position in an unkeyed one.
struct RowKey
{
    QVariantList values;
    qint64 ordinal = 0;
};

struct RowKeyLess
{
    bool operator()(const RowKey &a, const RowKey &b) const
    {
        for (qsizetype i = 0; i < a.values.size() && i < b.values.size(); ++i)
            if (const int c = compareValues(a.values[i], b.values[i]); c != 0)
                return c < 0;
        return a.ordinal < b.ordinal;
    }
};

class ParadoxTableCursor final : public TCursor
{
public:
    ParadoxTableCursor(QString path, bool readOnly) : m_path(std::move(path)), m_readOnly(readOnly)
    {
    }

    void Open(const TRowFilter &filter) override
    {
        m_reader.emplace(m_path);
        m_schema = m_reader->schema();
        m_keyed = m_schema.keyFieldCount > 0;
        m_columns.clear();
        for (size_t i = 0; i < m_schema.fields.size(); ++i)
            m_columns.append(
                ColumnOf(m_schema.fields[i], static_cast<int>(i) < m_schema.keyFieldCount));
        m_filter = filter;
        m_filterCols = filter.IsEmpty() ? QList<int>{} : filter.Resolve(m_columns);
        m_streamOrdinal = 0;
        m_current.reset();
    }

    void Close() override
    {
        if (m_appending) {
            // Written at most once, as below; a failure leaves the old table and no staged files.
            const std::unique_ptr<paradox::TableRewriter> appending = std::move(m_appending);
            appending->commit();
        }
        if (m_dirty) {
            // Whatever happens next, these changes are written at most once. When writing fails
            // the cursor stays as it was (its dataset stays open), so the error is raised and
            // nothing dangles.
            m_dirty = false;
            std::vector<paradox::Row> rows;
            rows.reserve(m_rows.size());
            for (const auto &[key, row] : m_rows)
                rows.emplace_back(row.begin(), row.begin() + m_columns.size());
            paradox::rewriteTable(m_path, m_schema, rows);
        }
        m_reader.reset();
        m_lookupReader.reset();
        m_rows.clear();
        m_loaded = false;
    }

    const QList<TColumn> &Columns() const override { return m_columns; }

    bool First(TRow &row) override
    {
        settle();
        if (m_loaded)
            return memoryFrom(m_rows.begin(), row);
        m_reader->rewind();
        m_streamOrdinal = 0;
        return streamNext(row);
    }

    bool Next(TRow &row) override
    {
        settle();
        if (m_loaded) {
            if (!m_current)
                return memoryFrom(m_rows.begin(), row);
            return memoryFrom(m_rows.upper_bound(*m_current), row);
        }
        return streamNext(row);
    }

    int RecordCount() override
    {
        settle();
        if (m_loaded) {
            if (m_filter.IsEmpty())
                return static_cast<int>(m_rows.size());
            int n = 0;
            for (const auto &[key, row] : m_rows)
                n += passes(row) ? 1 : 0;
            return n;
        }
        if (m_filter.IsEmpty())
            return static_cast<int>(m_reader->recordCount());
        int n = 0;
        scanFile([&](const TRow &row, qint64) {
            n += passes(row) ? 1 : 0;
            return true;
        });
        return n;
    }

    bool Locate(const QList<int> &columns, const QVariantList &values, bool caseInsensitive,
                TRow &row) override
    {
        settle();
        const auto matches = [&](const TRow &r) {
            if (!passes(r))
                return false;
            for (qsizetype i = 0; i < columns.size(); ++i)
                if (!ValuesEqual(r.at(columns[i]), values.value(i), caseInsensitive))
                    return false;
            return true;
        };
        if (m_loaded) {
            for (auto it = m_rows.begin(); it != m_rows.end(); ++it)
                if (matches(it->second)) {
                    m_current = it->first;
                    row = it->second;
                    return true;
                }
            return false;
        }
        // Found on a second reader first, so that a failed search leaves the position alone.
        std::optional<qint64> found;
        scanFile([&](const TRow &r, qint64 ordinal) {
            if (matches(r)) {
                found = ordinal;
                return false;
            }
            return true;
        });
        if (!found)
            return false;
        return streamTo(*found, row);
    }

    bool Lookup(const QList<int> &keyColumns, const QVariantList &values,
                const QList<int> &resultColumns, QVariantList &result) override
    {
        settle();
        const auto take = [&](const TRow &r) {
            if (!passes(r))
                return false;
            for (qsizetype i = 0; i < keyColumns.size(); ++i)
                if (!ValuesEqual(r.at(keyColumns[i]), values.value(i), false))
                    return false;
            result.clear();
            for (int c : resultColumns)
                result.append(r.at(c));
            return true;
        };
        if (m_loaded) {
            for (const auto &[key, r] : m_rows)
                if (take(r))
                    return true;
            return false;
        }
        bool found = false;
        scanFile([&](const TRow &r, qint64) {
            found = take(r);
            return !found;
        });
        return found;
    }

    bool CanModify() const override
    {
        if (m_readOnly)
            return false;
        for (const paradox::Field &f : m_schema.fields)
            if (!f.isWritable())
                return false;
        return true;
    }

    void Insert(TRow &row) override
    {
        checkModifiable();
        if (!m_loaded && !m_appending && m_reader->recordCount() == 0 && !hasAutoInc())
            m_appending = std::make_unique<paradox::TableRewriter>(m_path, m_schema);
        if (m_appending) {
            TRow stored = normalised(row);
            if (!m_appending->appendUnique(paradox::Row(stored.begin(), stored.end())))
                throw keyViolation(stored);
            RowKey key = keyOf(stored, m_nextOrdinal++);
            if (!m_keyed)
                stored.append(key.ordinal);
            m_current = std::move(key);
            row = std::move(stored);
            return;
        }
        ensureLoaded();
        TRow stored = normalised(row);
        for (size_t i = 0; i < m_schema.fields.size(); ++i) {
            if (m_schema.fields[i].type == paradox::FieldType::AutoInc &&
                IsNullValue(stored[static_cast<qsizetype>(i)]))
                stored[static_cast<qsizetype>(i)] = nextAutoInc(static_cast<int>(i));
        }
        RowKey key = keyOf(stored, m_nextOrdinal);
        // Rows usually come in key order (a copy into an empty table): then the new row goes
        // after the last one with a single comparison instead of a search.
        RowKeyLess less;
        auto hint = m_rows.end();
        if (!m_rows.empty() && !less(key, std::prev(m_rows.end())->first)) {
            if (m_keyed && !less(std::prev(m_rows.end())->first, key))
                throw keyViolation(stored);
        } else {
            hint = m_rows.lower_bound(key);
            if (m_keyed && hint != m_rows.end() && !less(key, hint->first))
                throw keyViolation(stored);
        }
        ++m_nextOrdinal;
        if (!m_keyed)
            stored.append(key.ordinal);
        const auto placed = m_rows.emplace_hint(hint, key, std::move(stored));
        m_current = key;
        m_dirty = true;
        row = placed->second;
    }

    void Update(const TRow &oldRow, const QList<int> &changed, TRow &row) override
    {
        checkModifiable();
        ensureLoaded();
        const auto it = m_rows.find(identityOf(oldRow));
        if (it == m_rows.end())
            throw EDBEngineError(
                QStringLiteral("Запись не найдена в таблице %1").arg(QFileInfo(m_path).fileName()));
        TRow updated = it->second;
        const TRow values = normalised(row);
        for (int c : changed)
            if (c >= 0 && c < m_columns.size())
                updated[c] = values[c];
        RowKey key = keyOf(updated, it->first.ordinal);
        if (m_keyed) {
            RowKeyLess less;
            const bool sameKey = !less(key, it->first) && !less(it->first, key);
            if (!sameKey && m_rows.count(key))
                throw keyViolation(updated);
            checkKeyNotNull(updated);
        }
        m_rows.erase(it);
        m_rows.emplace(key, updated);
        m_current = key;
        m_dirty = true;
        row = updated;
    }

    void Delete(const TRow &row) override
    {
        checkModifiable();
        ensureLoaded();
        const auto it = m_rows.find(identityOf(row));
        if (it == m_rows.end())
            throw EDBEngineError(
                QStringLiteral("Запись не найдена в таблице %1").arg(QFileInfo(m_path).fileName()));
        m_current = it->first;
        m_rows.erase(it);
        m_dirty = true;
    }

    bool Refresh(TRow &row) override
    {
        settle();
        const RowKey wanted = identityOf(row);
        if (m_loaded) {
            const auto it = m_rows.find(wanted);
            if (it == m_rows.end())
                return false;
            m_current = it->first;
            row = it->second;
            return true;
        }
        std::optional<qint64> found;
        RowKeyLess less;
        scanFile([&](const TRow &r, qint64 ordinal) {
            const RowKey k = keyOf(r, ordinal);
            if (!less(k, wanted) && !less(wanted, k)) {
                found = ordinal;
                return false;
            }
            return true;
        });
        return found && streamTo(*found, row);
    }

private:
    bool passes(const TRow &row) const
    {
        return m_filter.IsEmpty() || m_filter.Matches(m_columns, m_filterCols, row);
    }

    RowKey keyOf(const TRow &row, qint64 ordinal) const
    {
        RowKey k;
        if (m_keyed) {
            for (int i = 0; i < m_schema.keyFieldCount; ++i)
                k.values.append(row.value(i));
        } else {
            k.ordinal = ordinal;
        }
        return k;
    }

    // The identity of a row that this cursor handed out (unkeyed rows carry their position
    // after the columns).
    RowKey identityOf(const TRow &row) const
    {
        return keyOf(row, m_keyed ? 0 : row.value(m_columns.size()).toLongLong());
    }

    bool streamNext(TRow &row)
    {
        TRow candidate;
        while (m_reader->next(candidate, m_keyed ? 0 : 1)) {
            const qint64 ordinal = m_streamOrdinal++;
            if (!passes(candidate))
                continue;
            if (!m_keyed)
                candidate.append(ordinal);
            m_current = keyOf(candidate, ordinal);
            row = std::move(candidate);
            return true;
        }
        return false;
    }

    // Puts the streaming reader just after the row at this position and returns that row.
    bool streamTo(qint64 ordinal, TRow &row)
    {
        m_reader->rewind();
        m_streamOrdinal = 0;
        TRow r;
        while (m_reader->next(r, m_keyed ? 0 : 1)) {
            if (m_streamOrdinal++ == ordinal) {
                row = std::move(r);
                if (!m_keyed)
                    row.append(ordinal);
                m_current = keyOf(row, ordinal);
                return true;
            }
        }
        return false;
    }

    // Walks the file on a second reader, leaving the main one where it is.
    template <typename Visit> void scanFile(Visit visit)
    {
        if (!m_lookupReader)
            m_lookupReader.emplace(m_path);
        else
            m_lookupReader->rewind();
        TRow r;
        qint64 ordinal = 0;
        while (m_lookupReader->next(r)) {
            if (!visit(r, ordinal++))
                return;
        }
    }

    bool memoryFrom(std::map<RowKey, TRow, RowKeyLess>::iterator it, TRow &row)
    {
        for (; it != m_rows.end(); ++it) {
            if (passes(it->second)) {
                m_current = it->first;
                row = it->second;
                return true;
            }
        }
        return false;
    }

    // Rows appended as they came are written out first; the table in memory goes on from there.
    void settle()
    {
        if (m_appending)
            ensureLoaded();
    }

    bool hasAutoInc() const
    {
        return std::any_of(
            m_schema.fields.begin(), m_schema.fields.end(),
            [](const paradox::Field &f) { return f.type == paradox::FieldType::AutoInc; });
    }

    void ensureLoaded()
    {
        if (m_loaded)
            return;
        if (m_appending) {
            const std::unique_ptr<paradox::TableRewriter> appending = std::move(m_appending);
            appending->commit();
        }
        paradox::TableReader reader(m_path);
        qint64 ordinal = 0;
        std::map<RowKey, TRow, RowKeyLess> rows;
        TRow row;
        while (reader.next(row, m_keyed ? 0 : 1)) {
            if (!m_keyed)
                row.append(ordinal);
            rows.emplace(keyOf(row, ordinal), std::move(row));
            ++ordinal;
        }
        m_rows = std::move(rows);
        m_nextOrdinal = ordinal;
        m_loaded = true;
        m_lookupReader.reset();
    }

    void checkModifiable() const
    {
        if (m_readOnly)
            throw EDBEngineError(QStringLiteral("Таблица %1 открыта только для чтения")
                                     .arg(QFileInfo(m_path).fileName()));
        for (const paradox::Field &f : m_schema.fields)
            if (!f.isWritable())
                throw EDBEngineError(
                    QStringLiteral("Таблица %1 не может быть изменена: поле %2 типа %3")
                        .arg(QFileInfo(m_path).fileName(), f.name, paradox::typeName(f.type)));
    }

    TRow normalised(const TRow &row) const
    {
        TRow out;
        out.reserve(m_columns.size() + 1);
        for (size_t i = 0; i < m_schema.fields.size(); ++i)
            out.append(ToStored(m_path, m_schema.fields[i], row.value(static_cast<qsizetype>(i))));
        checkKeyNotNull(out);
        return out;
    }

    void checkKeyNotNull(const TRow &row) const
    {
        for (int i = 0; i < m_schema.keyFieldCount; ++i) {
            const paradox::Field &f = m_schema.fields[static_cast<size_t>(i)];
            if (IsNullValue(row.value(i)) && f.type != paradox::FieldType::AutoInc)
                throw EDBEngineError(QStringLiteral("Поле '%1' должно иметь значение").arg(f.name));
        }
    }

    int nextAutoInc(int column) const
    {
        int top = 0;
        for (const auto &[key, row] : m_rows)
            top = std::max(top, row.value(column).toInt());
        return top + 1;
    }

    EDBEngineError keyViolation(const TRow &row) const
    {
        QStringList key;
        for (int i = 0; i < m_schema.keyFieldCount; ++i)
            key << row.value(i).toString();
        return EDBEngineError(
            QStringLiteral("Нарушение уникальности ключа в таблице %1: %2")
                .arg(QFileInfo(m_path).fileName(), key.join(QLatin1String(", "))));
    }

    QString m_path;
    bool m_readOnly;
    std::optional<paradox::TableReader> m_reader;
    std::optional<paradox::TableReader> m_lookupReader;
    paradox::Schema m_schema;
    bool m_keyed = false;
    QList<TColumn> m_columns;
    TRowFilter m_filter;
    QList<int> m_filterCols;
    qint64 m_streamOrdinal = 0;
    std::optional<RowKey> m_current;

    // A table that is empty when first written and then only receives new rows (a copy into a
    // new package table) is written as the rows come: each is encoded once into a staged table
    // instead of being held in memory, and the table is replaced on close. Any other use writes
    // the staged rows out and goes on with the table in memory.
    std::unique_ptr<paradox::TableRewriter> m_appending;

    bool m_loaded = false;
    bool m_dirty = false;
    std::map<RowKey, TRow, RowKeyLess> m_rows;
    qint64 m_nextOrdinal = 0;
};

} // namespace

std::unique_ptr<TCursor> OpenParadoxTable(const QString &path, bool readOnly)
{
    return std::make_unique<ParadoxTableCursor>(path, readOnly);
}

} // namespace engine
