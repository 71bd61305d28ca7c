#pragma once

// The storage behind a dataset.
//
// A TDataSet (dataset.h) keeps what the callers see: fields, the current row buffer, the
// edit state, derived columns, notifications and master links. Where the rows come from and
// go to is a TCursor, created by the dataset when it opens:
//
//   - SQL table cursor   (sql/sqlcursor.h)  a table of an SQLite or PostgreSQL database, read
//                                           in key order in small pages, changed by primary key;
//   - SQL query cursor   (sql/sqlcursor.h)  the result of a SELECT with bound parameters;
//   - memory cursor      (memtable.h)       the rows of a TMemoryTable;
//   - folder backend     (below; folder/)   Paradox (or dBASE) tables of a folder database and
//                                           SQL run over such a folder.
//
// Contract for every cursor
// -------------------------
// Rows are QVariantLists with one value per column of Columns(), an invalid QVariant meaning
// Null. A cursor may put extra hidden values after the columns (a row locator such as SQLite's
// rowid); the dataset keeps them with the row and hands the row back unchanged to Update,
// Delete and Refresh.
//
// The cursor has a current row: the last one it returned from First, Next, Locate, Insert,
// Update or Refresh. Next continues after it in the cursor's order (a table's key order).
// Every reading operation honours the row filter given to Open; a cursor that cannot evaluate
// the filter itself uses TRowFilter::Matches.
//
// Memory: a cursor over a table must not hold the whole table; reading streams or pages, and
// Locate/Lookup on key columns are indexed look-ups (e.g. prepared SELECT ... WHERE key = ?).
//
// Errors: anything the storage refuses (missing table, constraint violation, bad SQL) is thrown
// as EDBEngineError carrying the storage's own message.

#include "engine/fieldtypes.h"
#include "engine/filter.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <functional>
#include <memory>

class TDatabase;

namespace engine {

using TRow = QVariantList;

class TCursor
{
public:
    virtual ~TCursor() = default;

    // Opens the storage; afterwards Columns() describes it. The filter may be empty.
    virtual void Open(const TRowFilter &filter) = 0;
    virtual void Close() = 0;
    virtual const QList<TColumn> &Columns() const = 0;

    // First row passing the filter; false when there is none.
    virtual bool First(TRow &row) = 0;
    // The row after the current one; false at the end (the current row then stays).
    virtual bool Next(TRow &row) = 0;
    // Number of rows passing the filter.
    virtual int RecordCount() = 0;

    // First row (in cursor order) passing the filter whose columns equal values (Null matches
    // only Null; caseInsensitive folds text columns). Found: it becomes the current row.
    virtual bool Locate(const QList<int> &columns, const QVariantList &values, bool caseInsensitive,
                        TRow &row) = 0;
    // Exact look-up that leaves the current row alone: values of resultColumns of the first
    // matching row passing the filter.
    virtual bool Lookup(const QList<int> &keyColumns, const QVariantList &values,
                        const QList<int> &resultColumns, QVariantList &result) = 0;
    // The rows passing the filter whose columns equal one of keys (no key has a Null part),
    // read with few statements; visit receives each of them, in no particular order: the whole
    // row as Locate would return it, or with results the values of those columns followed by
    // the key columns. False when the storage cannot do this (then nothing was visited).
    virtual bool LocateMany(const QList<int> &columns, const QList<QVariantList> &keys,
                            const QList<int> &results,
                            const std::function<void(const TRow &)> &visit)
    {
        Q_UNUSED(columns);
        Q_UNUSED(keys);
        Q_UNUSED(results);
        Q_UNUSED(visit);
        return false;
    }
    // Holds a new row back, to be inserted later with others (TDataSet::SetGroupInserts); row
    // receives the row as it will be stored. False, holding nothing, when the row cannot be
    // held. Any other use of the cursor sends what is held first.
    virtual bool HoldInsert(TRow &row)
    {
        Q_UNUSED(row);
        return false;
    }
    virtual void SendHeld() {}
    virtual void DropHeld() {}
    // Makes a row read earlier (by Locate or LocateMany) the current row without reading it
    // again; false when the storage cannot.
    virtual bool Reposition(const TRow &row)
    {
        Q_UNUSED(row);
        return false;
    }

    virtual bool CanModify() const = 0;
    // Stores a new row. Null columns are left out so that the storage fills them (identifiers
    // assigned on insert); row receives the row as stored, which becomes the current row.
    virtual void Insert(TRow &row) = 0;
    // Writes the changed columns of a row read earlier (oldRow, as the cursor returned it);
    // row receives the row as stored, which becomes the current row.
    virtual void Update(const TRow &oldRow, const QList<int> &changed, TRow &row) = 0;
    virtual void Delete(const TRow &row) = 0;
    // Re-reads a row read earlier; false when it is gone. It becomes the current row.
    virtual bool Refresh(TRow &row) = 0;
};

// A statement parameter after the dataset layer has resolved names, master values and types:
// the final SQL uses "?" placeholders and these values in order.
using TBoundValues = QVariantList;

// Tables and SQL of a folder database ("PARADOX"/"DBASE" aliases, TDatabase::IsFolder()).
// Served by the Paradox backend of folder/folderbackend.h unless another one was installed;
// TTable and TQuery call it for a folder database and fail with "Драйвер ... не подключен"
// while none is installed.
class TFolderBackend
{
public:
    virtual ~TFolderBackend() = default;
    // A table by file name ("City.DB"; a name without extension gets the default one).
    virtual std::unique_ptr<TCursor> OpenTable(TDatabase &db, const QString &tableName,
                                               bool readOnly) = 0;
    // A SELECT over the folder's tables.
    virtual std::unique_ptr<TCursor> OpenQuery(TDatabase &db, const QString &sql,
                                               const TBoundValues &params) = 0;
    // A statement without result (CREATE TABLE, INSERT, ...); returns the rows affected or -1.
    virtual int ExecSQL(TDatabase &db, const QString &sql, const TBoundValues &params) = 0;
};

void SetFolderBackend(std::shared_ptr<TFolderBackend> backend);
std::shared_ptr<TFolderBackend> FolderBackend();

} // namespace engine
