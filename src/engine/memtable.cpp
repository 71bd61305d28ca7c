#include "engine/memtable.h"

#include "core/errors.h"

namespace engine {

struct TMemoryStore
{
    QList<TColumn> columns;
    std::vector<TRow> rows; // each row ends with a hidden, never reused row id
    qint64 nextId = 1;
};

namespace {

class TMemoryCursor : public TCursor
{
public:
    explicit TMemoryCursor(std::shared_ptr<TMemoryStore> store) : m_store(std::move(store)) {}

    void Open(const TRowFilter &filter) override
    {
        m_columns = m_store->columns;
        m_filter = filter;
        m_filterCols = filter.Resolve(m_columns);
        m_pos = -1;
    }
    void Close() override { m_pos = -1; }
    const QList<TColumn> &Columns() const override { return m_columns; }

    bool First(TRow &row) override
    {
        m_pos = -1;
        return seekFrom(0, row);
    }

    bool Next(TRow &row) override { return seekFrom(currentIndex() + 1, row); }

    int RecordCount() override
    {
        int n = 0;
        for (const TRow &r : m_store->rows)
            if (passes(r))
                ++n;
        return n;
    }

    bool Locate(const QList<int> &columns, const QVariantList &values, bool caseInsensitive,
                TRow &row) override
    {
        for (size_t i = 0; i < m_store->rows.size(); ++i) {
            const TRow &r = m_store->rows[i];
            if (passes(r) && matches(r, columns, values, caseInsensitive)) {
                row = r;
                setCurrent(static_cast<qsizetype>(i));
                return true;
            }
        }
        return false;
    }

    bool Lookup(const QList<int> &keyColumns, const QVariantList &values,
                const QList<int> &resultColumns, QVariantList &result) override
    {
        for (const TRow &r : m_store->rows)
            if (passes(r) && matches(r, keyColumns, values, false)) {
                result.clear();
                for (int c : resultColumns)
                    result << r.value(c);
                return true;
            }
        return false;
    }

    bool CanModify() const override { return true; }

    void Insert(TRow &row) override
    {
        checkRequired(row);
        TRow stored = row.mid(0, m_columns.size());
        while (stored.size() < m_columns.size())
            stored << QVariant();
        stored << m_store->nextId++;
        m_store->rows.push_back(stored);
        row = stored;
        setCurrent(static_cast<qsizetype>(m_store->rows.size()) - 1);
    }

    void Update(const TRow &oldRow, const QList<int> &, TRow &row) override
    {
        checkRequired(row);
        const qsizetype i = indexOf(oldRow);
        if (i < 0)
            throw EDBEngineError(QStringLiteral("Запись не найдена"));
        TRow stored = row.mid(0, m_columns.size());
        while (stored.size() < m_columns.size())
            stored << QVariant();
        stored << oldRow.value(m_columns.size());
        m_store->rows[static_cast<size_t>(i)] = stored;
        row = stored;
        setCurrent(i);
    }

    void Delete(const TRow &row) override
    {
        const qsizetype i = indexOf(row);
        if (i < 0)
            throw EDBEngineError(QStringLiteral("Запись не найдена"));
        m_store->rows.erase(m_store->rows.begin() + i);
        // Next continues with the row that took the deleted one's place.
        m_pos = i - 1;
        m_currentId =
            i > 0 ? m_store->rows[static_cast<size_t>(i - 1)].value(m_columns.size()) : QVariant();
    }

    bool Refresh(TRow &row) override
    {
        const qsizetype i = indexOf(row);
        if (i < 0)
            return false;
        row = m_store->rows[static_cast<size_t>(i)];
        setCurrent(i);
        return true;
    }

private:
    void checkRequired(const TRow &row) const
    {
        for (int i = 0; i < m_columns.size(); ++i)
            if (m_columns.at(i).Required && IsNullValue(row.value(i)))
                throw EDBEngineError(
                    QStringLiteral("Поле '%1' должно иметь значение").arg(m_columns.at(i).Name));
    }

    bool passes(const TRow &r) const
    {
        return m_filter.IsEmpty() || m_filter.Matches(m_columns, m_filterCols, r);
    }

    bool matches(const TRow &r, const QList<int> &cols, const QVariantList &values, bool ci) const
    {
        for (int i = 0; i < cols.size(); ++i) {
            const TColumn &c = m_columns.at(cols.at(i));
            QVariant want = values.value(i);
            if (!IsNullValue(want) && c.DataType != TFieldType::ftUnknown) {
                try {
                    want = ConvertValue(want, c.DataType, 0, c.Name);
                } catch (const Exception &) {
                    return false;
                }
            }
            if (!ValuesEqual(r.value(cols.at(i)), want, ci))
                return false;
        }
        return true;
    }

    void setCurrent(qsizetype i)
    {
        m_pos = i;
        m_currentId = m_store->rows[static_cast<size_t>(i)].value(m_columns.size());
    }

    // Position of the current row, found again by its id when rows were added or removed.
    qsizetype currentIndex() const
    {
        if (m_pos < 0)
            return -1;
        const auto &rows = m_store->rows;
        if (m_pos < static_cast<qsizetype>(rows.size()) &&
            rows[static_cast<size_t>(m_pos)].value(m_columns.size()) == m_currentId)
            return m_pos;
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].value(m_columns.size()) == m_currentId)
                return static_cast<qsizetype>(i);
        return std::min<qsizetype>(m_pos, static_cast<qsizetype>(rows.size())) - 1;
    }

    qsizetype indexOf(const TRow &row) const
    {
        const QVariant id = row.value(m_columns.size());
        const auto &rows = m_store->rows;
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].value(m_columns.size()) == id)
                return static_cast<qsizetype>(i);
        return -1;
    }

    bool seekFrom(qsizetype start, TRow &row)
    {
        const auto &rows = m_store->rows;
        for (qsizetype i = std::max<qsizetype>(start, 0); i < static_cast<qsizetype>(rows.size());
             ++i)
            if (passes(rows[static_cast<size_t>(i)])) {
                row = rows[static_cast<size_t>(i)];
                setCurrent(i);
                return true;
            }
        return false;
    }

    std::shared_ptr<TMemoryStore> m_store;
    QList<TColumn> m_columns;
    TRowFilter m_filter;
    QList<int> m_filterCols;
    qsizetype m_pos = -1;
    QVariant m_currentId;
};

} // namespace
} // namespace engine

TMemoryTable::TMemoryTable() : m_store(std::make_shared<engine::TMemoryStore>()) {}

TMemoryTable::~TMemoryTable() = default;

void TMemoryTable::SetFieldDefs(const QList<TColumn> &columns)
{
    bool same = columns.size() == m_store->columns.size();
    for (int i = 0; same && i < columns.size(); ++i)
        same = columns.at(i).Name == m_store->columns.at(i).Name &&
               columns.at(i).DataType == m_store->columns.at(i).DataType &&
               columns.at(i).Size == m_store->columns.at(i).Size;
    if (same)
        return;
    Close();
    m_store->columns = columns;
    m_store->rows.clear();
}

void TMemoryTable::AddFieldDef(const QString &name, TFieldType type, int size, bool required)
{
    QList<TColumn> columns = m_store->columns;
    TColumn c;
    c.Name = name;
    c.DataType = type;
    c.Size = size;
    c.Required = required;
    columns << c;
    SetFieldDefs(columns);
}

QList<TColumn> TMemoryTable::ColumnDefs() const
{
    return m_store->columns;
}

void TMemoryTable::EmptyTable()
{
    m_store->rows.clear();
    if (Active())
        ResetCursorPosition();
}

void TMemoryTable::LoadFromDataSet(TDataSet &source)
{
    QList<TColumn> columns;
    std::vector<engine::TRow> rows;
    qint64 id = m_store->nextId;
    source.ScanRows(
        [&](const QVariantList &row) {
            engine::TRow r = row;
            rows.push_back(std::move(r));
            return true;
        },
        &columns);
    // The copy is a list of its own: it may hold rows the source would refuse (a row standing
    // for "none" with Null in required columns).
    for (TColumn &c : columns) {
        c.ReadOnly = false;
        c.Required = false;
    }
    SetFieldDefs(columns);
    for (engine::TRow &r : rows) {
        r = r.mid(0, columns.size());
        while (r.size() < columns.size())
            r << QVariant();
        r << id++;
    }
    m_store->nextId = id;
    m_store->rows = std::move(rows);
    if (Filtered())
        SetFiltered(false);
    if (!Active())
        Open();
    else
        First();
}

std::unique_ptr<engine::TCursor> TMemoryTable::CreateCursor()
{
    return std::make_unique<engine::TMemoryCursor>(m_store);
}

std::unique_ptr<engine::TCursor> TMemoryTable::CreateLookupCursor()
{
    return CreateCursor();
}
