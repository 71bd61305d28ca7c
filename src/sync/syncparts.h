#pragma once

// What the steps of the synchronisation share: how central rows are met by the ЕСВС keys they
// keep, and the transaction that keeps what a step wrote.

#include "engine/database.h"
#include "engine/dataset.h"
#include "engine/fieldtypes.h"

#include <QHash>
#include <QString>
#include <QVariant>

namespace esvs {

// Text without its trailing blanks: ЕСВС pads its fixed-length codes, and an older program left
// some central codes padded.
inline QString WithoutTrailingBlanks(QString text)
{
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    return text;
}

// The value column of an open table by its key column, rows with a Null key left out; the first
// row of a key wins, as a look-up would find it.
template <typename Key, typename KeyOf>
QHash<Key, QVariant> ValuesByKey(TDataSet &table, const QString &keyName, const QString &valueName,
                                 KeyOf keyOf)
{
    const int key = table.FieldByName(keyName)->Index();
    const int value = table.FieldByName(valueName)->Index();
    QHash<Key, QVariant> values;
    table.ScanRows([&](const QVariantList &row) {
        if (engine::IsNullValue(row.at(key)))
            return true;
        const Key k = keyOf(row.at(key));
        if (!values.contains(k))
            values.insert(k, row.at(value));
        return true;
    });
    return values;
}

// A transaction committed whether the step that holds it ends well or not, since every row in it
// was written on purpose (a row the database refused was undone already).
class KeepWrittenRows
{
public:
    explicit KeepWrittenRows(TDatabase &db) : m_db(db) { m_db.StartTransaction(); }
    ~KeepWrittenRows()
    {
        if (!m_db.InTransaction())
            return;
        try {
            m_db.Commit();
        } catch (...) {
            // Reached only while another error leaves the step; that one is reported.
        }
    }
    KeepWrittenRows(const KeepWrittenRows &) = delete;
    KeepWrittenRows &operator=(const KeepWrittenRows &) = delete;
    void Commit() { m_db.Commit(); }

private:
    TDatabase &m_db;
};

} // namespace esvs
