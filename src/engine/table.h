#pragma once

#include "engine/dataset.h"

// A table of a database by name. On an SQL database the name may carry a schema
// ("KZCENTER.CITY") and compares without regard to case; rows are read in primary-key order
// (rowid/ctid for a table without one) a page at a time, so a table of millions of rows costs
// no more memory than a small one; Locate, Lookup and derived look-ups are indexed queries;
// Post writes by primary key. On a folder database the name is a file name ("City.DB") and the
// folder backend (cursor.h) serves it.
class TTable : public TDataSet
{
public:
    explicit TTable(TDatabase *database = nullptr, QString tableName = {});
    ~TTable() override;

    TDatabase *Database() const override { return m_database; }
    void SetDatabase(TDatabase *database);
    QString TableName() const { return m_tableName; }
    void SetTableName(const QString &name); // closes the table
    bool ReadOnly = false;

    // Whether the table exists on its database (which must be connected).
    bool Exists() const;
    // Deletes every row (the table must be closed or is re-read).
    void EmptyTable();

protected:
    std::unique_ptr<engine::TCursor> CreateCursor() override;
    std::unique_ptr<engine::TCursor> CreateLookupCursor() override;

private:
    TDatabase *m_database;
    QString m_tableName;
};
