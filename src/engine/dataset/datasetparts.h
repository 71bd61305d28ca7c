#pragma once

// What the files of the dataset base share: field names and messages, and the private parts of
// TDataSet that its public header only names.

#include "engine/dataset.h"

namespace engine {

// Names joined by ";", each trimmed; empty names are dropped.
QStringList SplitFieldNames(const QString &names);
// " (Name)" of a named dataset, for messages; empty for one without a name.
QString DataSetLabel(const TDataSet &ds);
// Positions of the named columns (names compared without regard to case); a name that is not
// there is an error naming the dataset.
QList<int> FieldPositions(const QList<TColumn> &columns, const QStringList &names,
                          const TDataSet &ds);

} // namespace engine

// Kept rows (KeepRows) of one set of key columns: key text -> the row (whole, or the kept columns
// in their order), or none.
struct TDataSet::KeptRows
{
    QList<int> columns;
    QList<int> kept; // empty: whole rows
    QHash<QByteArray, std::optional<engine::TRow>> rows;
};

// A look-up or locate by handle: its names, and the columns resolved in the cursor that serves
// it.
struct TDataSet::LookupPlan
{
    QString keyFields;
    QString resultField;
    QList<int> keys;
    QList<int> results;
    bool resolved = false;
    // How often remembered answers answered again: a look-up whose keys hardly repeat (a row's
    // own parent) stops remembering, which costs more than it saves.
    int memoHits = 0;
    int memoMisses = 0;
    bool memoWorthKeeping() const { return memoMisses < 512 || memoHits * 8 >= memoMisses; }
};

// A derived column, found at its first use while open: its key fields and look-up.
struct TDataSet::DerivedKeys
{
    std::vector<const TField *> fields;
    int handle = -1;
};
