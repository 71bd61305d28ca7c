// Kept rows (KeepRows): the rows of many whole-number keys read at once through the cursor
// (TCursor::LocateMany), kept with the keys that have no row, for Lookup and exact Locate; the
// dataset's own inserts, edits and deletes keep them true.

#include "engine/dataset.h"
#include "engine/dataset/datasetparts.h"
#include "engine/statement.h"

#include <QVarLengthArray>
#include <cmath>
#include <cstring>

using engine::FieldPositions;
using engine::SplitFieldNames;
using engine::TRow;

namespace {

// Key values as bytes, the same for equal whole numbers whatever type holds them; false when a
// value is Null or no whole number.
bool keptKey(const QVariant *values, qsizetype count, QByteArray &key)
{
    key.resize(count * qsizetype(sizeof(qint64)));
    char *out = key.data();
    for (qsizetype i = 0; i < count; ++i) {
        const QVariant &v = values[i];
        qint64 n = 0;
        switch (engine::BoundKind(v)) {
        case engine::TBoundKind::Integer:
            n = v.toLongLong();
            break;
        case engine::TBoundKind::Float: {
            const double d = v.toDouble();
            if (!(std::fabs(d) < 9.0e15) || d != std::floor(d))
                return false;
            n = static_cast<qint64>(d);
            break;
        }
        default: // Null, or no number
            return false;
        }
        std::memcpy(out + i * qsizetype(sizeof n), &n, sizeof n);
    }
    return true;
}

bool keptKey(const QVariantList &values, QByteArray &key)
{
    return keptKey(values.constData(), values.size(), key);
}

bool keptKey(const TRow &row, const QList<int> &columns, QByteArray &key)
{
    QVarLengthArray<QVariant, 4> values;
    for (int c : columns)
        values.append(row.value(c));
    return keptKey(values.constData(), values.size(), key);
}

// The kept columns of a row (none: the whole row).
TRow keptPart(const TRow &row, const QList<int> &kept)
{
    if (kept.isEmpty())
        return row;
    TRow part;
    part.reserve(kept.size());
    for (int c : kept)
        part << row.value(c);
    return part;
}

} // namespace

void TDataSet::ForgetKeptRows()
{
    m_kept.clear();
}

const std::optional<TRow> *TDataSet::keptRow(const QList<int> &columns, const QList<int> &needed,
                                             const QVariantList &values,
                                             const KeptRows **from) const
{
    QByteArray key;
    if (m_kept.empty() || !keptKey(values, key))
        return nullptr;
    for (const KeptRows &group : m_kept) {
        if (group.columns != columns)
            continue;
        bool holds = group.kept.isEmpty();
        if (!holds && !needed.isEmpty()) {
            holds = true;
            for (int c : needed)
                holds = holds && group.kept.contains(c);
        }
        if (!holds)
            continue;
        const auto it = group.rows.constFind(key);
        if (it == group.rows.constEnd())
            continue;
        if (from)
            *from = &group;
        return &it.value();
    }
    return nullptr;
}

// After the dataset wrote or deleted a row: keys of the old and the new row no longer say what
// they said, except that a key known to have no row now has the inserted one.
void TDataSet::keepTrue(const TRow *oldRow, const TRow *newRow, bool inserted)
{
    QByteArray key;
    for (KeptRows &group : m_kept) {
        if (oldRow && keptKey(*oldRow, group.columns, key))
            group.rows.remove(key);
        if (!newRow || !keptKey(*newRow, group.columns, key))
            continue;
        const auto it = group.rows.find(key);
        if (it == group.rows.end())
            continue;
        if (inserted && !it->has_value() && (!m_filtered || m_filterText.trimmed().isEmpty()))
            *it = keptPart(*newRow, group.kept);
        else
            group.rows.erase(it);
    }
}

void TDataSet::KeepRows(const QString &keyFields, const QList<QVariantList> &keys,
                        const QString &resultFields)
{
    if (!CacheLookups || keys.isEmpty())
        return;
    lookupMemoCurrent();
    engine::TCursor *cursor = lookupCursor();
    const QList<int> columns = FieldPositions(cursor->Columns(), SplitFieldNames(keyFields), *this);
    const QList<int> kept =
        resultFields.isEmpty()
            ? QList<int>()
            : FieldPositions(cursor->Columns(), SplitFieldNames(resultFields), *this);
    for (int c : columns)
        if (!engine::IsIntegerType(cursor->Columns().at(c).DataType))
            return;
    qsizetype count = 0;
    for (const KeptRows &group : m_kept)
        count += group.rows.size();
    if (count + keys.size() > KeptRowsLimit)
        m_kept.clear();
    auto group = std::find_if(m_kept.begin(), m_kept.end(), [&](const KeptRows &g) {
        return g.columns == columns && g.kept == kept;
    });
    if (group == m_kept.end()) {
        m_kept.push_back(KeptRows{columns, kept, {}});
        group = std::prev(m_kept.end());
    }
    // Keys whose whole rows are kept need nothing more.
    const auto whole = std::find_if(m_kept.begin(), m_kept.end(), [&](const KeptRows &g) {
        return g.columns == columns && g.kept.isEmpty();
    });
    QList<QVariantList> wanted;
    QHash<QByteArray, int> matches; // asked key -> rows found
    QByteArray key;
    for (const QVariantList &values : keys) {
        if (values.size() != columns.size() || !keptKey(values, key) || group->rows.contains(key) ||
            matches.contains(key) ||
            (!kept.isEmpty() && whole != m_kept.end() && whole->rows.contains(key)))
            continue;
        matches.insert(key, 0);
        wanted << values;
    }
    if (wanted.isEmpty())
        return;
    QHash<QByteArray, TRow> found;
    // Partial rows come as the kept columns, then the key columns.
    QList<int> keyAt = columns;
    for (int i = 0; !kept.isEmpty() && i < keyAt.size(); ++i)
        keyAt[i] = int(kept.size()) + i;
    const bool read = cursor->LocateMany(columns, wanted, kept, [&](const TRow &row) {
        QByteArray k;
        const auto it = keptKey(row, keyAt, k) ? matches.find(k) : matches.end();
        if (it == matches.end())
            return;
        ++it.value();
        found.insert(k, kept.isEmpty() ? row : row.mid(0, kept.size()));
    });
    if (!read)
        return;
    for (auto it = matches.cbegin(); it != matches.cend(); ++it) {
        if (it.value() == 0)
            group->rows.insert(it.key(), std::nullopt);
        else if (it.value() == 1)
            group->rows.insert(it.key(), found.value(it.key()));
    }
}
