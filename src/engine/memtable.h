#pragma once

#include "engine/dataset.h"

namespace engine {
struct TMemoryStore;
}

// Rows held in memory: define columns, fill, then use like any dataset (iterate, locate,
// filter, edit). Rows survive Close/Open; EmptyTable removes them.
class TMemoryTable : public TDataSet
{
public:
    TMemoryTable();
    ~TMemoryTable() override;

    // Column definitions (closes the table and drops its rows when they change).
    void SetFieldDefs(const QList<TColumn> &columns);
    void AddFieldDef(const QString &name, TFieldType type, int size = 0, bool required = false);
    QList<TColumn> ColumnDefs() const;

    void EmptyTable();
    // Takes the source's columns and refills with the source's rows in its order, subject to its
    // filter; this table's own filtering is switched off and it is left open on its first row.
    // The source is opened if needed and left open or closed as it was found (an open source
    // keeps its current row).
    void LoadFromDataSet(TDataSet &source);

protected:
    std::unique_ptr<engine::TCursor> CreateCursor() override;
    std::unique_ptr<engine::TCursor> CreateLookupCursor() override;

private:
    std::shared_ptr<engine::TMemoryStore> m_store;
};
