#pragma once

// Datasets in the manner of the engine the system was written for: a cursor over rows with a
// current row buffer, fields read and written by name, edit states, locate, derived (look-up)
// columns, row filters, master/detail links and notifications.
//
//   TTable        table.h     a table of a database by name (SQL) or file (folder database)
//   TQuery        query.h     SQL lines with macros and parameters, optional master data source
//   TMemoryTable  memtable.h  rows held in memory
//
// A dataset, its fields and its data sources are used on one thread, like their TDatabase.

#include "engine/cursor.h"
#include "engine/fieldtypes.h"
#include "engine/filter.h"

#include <QDateTime>
#include <QFlags>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TDataSet;
class TDatabase;
class TDataSource;

enum class TDataSetState
{
    dsInactive,
    dsBrowse,
    dsEdit,
    dsInsert
};

enum class TLocateOption
{
    loCaseInsensitive = 0x1, // text columns compare with folded case (Cyrillic included)
    loPartialKey = 0x2       // accepted; values still compare whole
};
Q_DECLARE_FLAGS(TLocateOptions, TLocateOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TLocateOptions)

enum class TFilterOption
{
    foCaseInsensitive = 0x1,
    foNoPartialCompare = 0x2
};
Q_DECLARE_FLAGS(TFilterOptions, TFilterOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFilterOptions)

// A derived (look-up) column: for the current row, the values of KeyFields (this dataset's
// columns, ";"-joined; stored or derived) are looked up exactly in LookupKeyFields of
// LookupDataSet and the column takes LookupResultField of the first matching row; Null when no
// row matches or a key is Null. Computed afresh each time a row becomes current.
struct TLookupFieldDef
{
    QString FieldName;
    TDataSet *LookupDataSet = nullptr; // not owned; needs no opening for a TTable
    QString KeyFields;
    QString LookupKeyFields;
    QString LookupResultField;
};

// A column of an open dataset. Owned by the dataset; valid until the dataset closes.
class TField
{
public:
    const QString &FieldName() const { return m_column.Name; }
    TFieldType DataType() const { return m_column.DataType; }
    int Size() const { return m_column.Size; }
    bool Required() const { return m_column.Required; }
    // Position in Fields (0-based).
    int Index() const { return m_index; }
    // A derived (look-up) column.
    bool IsLookup() const { return m_lookup != nullptr; }
    TDataSet *DataSet() const { return m_dataSet; }

    // Reading. Null reads as an invalid QVariant, "" , 0, 0.0, an invalid QDateTime and false.
    QVariant AsVariant() const;
    QVariant Value() const { return AsVariant(); }
    QString AsString() const;
    int AsInteger() const;
    qint64 AsLargeInt() const;
    double AsFloat() const;
    QDateTime AsDateTime() const;
    bool AsBoolean() const;
    bool IsNull() const;

    // Writing (the dataset must be in edit or insert state; throws EDatabaseError otherwise).
    // Null (an invalid QVariant) empties the column; text is cut to Size; numbers and text are
    // converted to the column's type.
    void SetAsVariant(const QVariant &value);
    void SetValue(const QVariant &value) { SetAsVariant(value); }
    void SetAsString(const QString &value) { SetAsVariant(value); }
    void SetAsInteger(qint64 value) { SetAsVariant(value); }
    void SetAsFloat(double value) { SetAsVariant(value); }
    void SetAsDateTime(const QDateTime &value) { SetAsVariant(value); }
    void SetAsBoolean(bool value) { SetAsVariant(value); }
    void Clear() { SetAsVariant(QVariant()); }
    // Value and null state of another field, converted to this field's type.
    void Assign(const TField &source) { SetAsVariant(source.AsVariant()); }

    // Made by the dataset only (the key's constructor is private to it).
    class Key
    {
        friend class TDataSet;
        Key() = default;
    };
    TField(Key, TDataSet *dataSet, TColumn column, int index, const TLookupFieldDef *lookup);

private:
    friend class TDataSet;

    // The value converted to a type; Null stays an invalid QVariant.
    QVariant convertedTo(TFieldType type) const;

    TDataSet *m_dataSet;
    TColumn m_column;
    int m_index;
    int m_storedIndex = -1; // position in the row buffer; -1 for a derived column
    const TLookupFieldDef *m_lookup;
};

class TDataSet
{
public:
    using TNotifyEvent = std::function<void(TDataSet &)>;

    virtual ~TDataSet();
    TDataSet(const TDataSet &) = delete;
    TDataSet &operator=(const TDataSet &) = delete;

    // Name used in messages (the member name in the data module, e.g. "itCity").
    QString Name;

    // --- open / close / navigation
    void Open();
    void Close();
    bool Active() const { return m_state != TDataSetState::dsInactive; }
    void SetActive(bool active);
    TDataSetState State() const { return m_state; }

    void First();
    void Next();
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    bool IsEmpty() const { return !m_hasRow; }
    // Rows passing the filter (a count query for SQL tables, not a scan of the rows).
    int RecordCount();

    // --- fields
    int FieldCount() const { return static_cast<int>(m_fields.size()); }
    TField *Fields(int index) const;              // throws EDatabaseError when out of range
    TField *FindField(const QString &name) const; // case-insensitive; nullptr when none
    TField *FieldByName(const QString &name) const; // throws EDatabaseError "Поле 'X' не найдено"
    QStringList FieldNames() const;
    // Column descriptions of the stored columns (available while open).
    QList<TColumn> FieldDefs() const;

    // --- changing rows
    void Append(); // also Insert(): the new row is stored where the storage puts it
    void Insert() { Append(); }
    void Edit();
    void Post();
    void Cancel();
    void Delete();
    // Appends a row with values by position (fewer values leave the rest Null) and posts it.
    void AppendRecord(const QVariantList &values);
    // Re-reads the current row from the storage, so that values assigned by the database on
    // insert become visible; the position stays on that row.
    void Refresh();
    bool CanModify() const;

    // --- searching
    // keyFields: names joined by ";"; values: one per name. Found: the row becomes current.
    bool Locate(const QString &keyFields, const QVariantList &values, TLocateOptions options = {});
    bool Locate(const QString &keyField, const QVariant &value, TLocateOptions options = {})
    {
        return Locate(keyField, QVariantList{value}, options);
    }
    // With CacheLookups the answers of Lookup are kept and a repeated question is answered from
    // memory. Only for a dataset through which every change of its table passes while it is set:
    // its own changes, closing it and rollbacks of its database forget the answers.
    bool CacheLookups = false;
    // Exact look-up that does not move the current row: resultField of the first matching row
    // (several names ";"-joined give a QVariantList); Null when none. A closed TTable is looked
    // up without being opened.
    QVariant Lookup(const QString &keyFields, const QVariantList &values,
                    const QString &resultField);
    // The same look-up by names resolved once: LookupHandle gives a handle, valid for the life
    // of the dataset, for the Lookup by handle.
    int LookupHandle(const QString &keyFields, const QString &resultField);
    QVariant Lookup(int handle, const QVariantList &values);
    // With CacheLookups: reads at once the rows whose keyFields (whole-number columns) equal
    // each of keys, and keeps them, with the keys that have no row, for Lookup and exact Locate
    // by the same fields; with resultFields only those columns are kept, for Lookup alone. The
    // dataset's own changes keep them true; a key matching several rows is left to the
    // database. At most KeptRowsLimit keys are kept: more forget the older ones, and
    // ForgetKeptRows forgets them all, which a caller that keeps rows for a window of work at a
    // time does before each.
    void KeepRows(const QString &keyFields, const QList<QVariantList> &keys,
                  const QString &resultFields = {});
    void ForgetKeptRows();
    static constexpr int KeptRowsLimit = 4096;
    // Inserts held back and sent in groups (a server database, a table with a primary key; the
    // dataset open): Post of a new row inside a transaction returns at once with the row as
    // given and the key that the table numbers itself taken ahead. A group goes out when full,
    // before any other statement of this dataset, and before the database commits or sets a
    // savepoint; a rollback drops it. Only for a table whose triggers change nothing but that
    // key. A group's error is reported by whatever sent it, not by the row at fault. Turning it
    // off, or closing, sends what is held.
    void SetGroupInserts(bool on);
    // A cursor of its own over the rows passing the filter, opened (stored columns only), for
    // reading ahead of the current row.
    std::unique_ptr<engine::TCursor> OpenReader();

    // Visits the rows passing the filter, in order, without moving the current row (a second
    // cursor; stored columns only, described in *columns when given); stops when visit returns
    // false. A closed dataset is read through a cursor of its own and stays closed.
    void ScanRows(const std::function<bool(const QVariantList &row)> &visit,
                  QList<TColumn> *columns = nullptr);

    // --- derived columns (declare before Open; they follow the stored columns in Fields)
    void AddLookupField(const TLookupFieldDef &def);
    void ClearLookupFields();
    const QList<TLookupFieldDef> &LookupFields() const { return m_lookupDefs; }

    // --- row filter (see engine::TRowFilter for the grammar). Changing it re-reads an open
    // dataset from its first row.
    QString Filter() const { return m_filterText; }
    void SetFilter(const QString &text);
    bool Filtered() const { return m_filtered; }
    void SetFiltered(bool on);
    TFilterOptions FilterOptions() const { return m_filterOptions; }
    void SetFilterOptions(TFilterOptions options);

    // --- notifications
    TNotifyEvent AfterOpen;
    TNotifyEvent BeforeClose;
    TNotifyEvent AfterClose;
    // After the current row changed (also once after opening a non-empty dataset).
    TNotifyEvent AfterScroll;
    TNotifyEvent BeforePost;
    TNotifyEvent AfterPost;

    // Turns notifications and master/detail refreshes off while a caller moves through rows.
    void DisableControls() { ++m_disableCount; }
    void EnableControls();

    // The connection (nullptr for a memory table).
    virtual TDatabase *Database() const { return nullptr; }

protected:
    TDataSet();
    // The storage for Open; throws what the storage throws.
    virtual std::unique_ptr<engine::TCursor> CreateCursor() = 0;
    // Called by Lookup on an inactive dataset; the default opens nothing and throws.
    virtual std::unique_ptr<engine::TCursor> CreateLookupCursor();
    // Parameters of a detail are taken from its master's row here (TQuery).
    virtual void MasterChanged() {}
    // The data source this dataset takes its master's row from is being destroyed (TQuery).
    virtual void MasterSourceGone() {}
    void CheckActive() const;
    void CheckInactive() const;
    engine::TCursor *Cursor() const { return m_cursor.get(); }
    void ResetCursorPosition();
    void NotifyScroll();

private:
    friend class TField;
    friend class TDataSource;

    QVariant fieldValue(const TField &field) const;
    void setFieldValue(TField &field, const QVariant &value);
    QVariant computeLookup(const TField &field) const;
    // The current row changed: its derived columns are computed again when read.
    void forgetDerivedValues()
    {
        if (!m_lookupCached.isEmpty())
            m_lookupCached.fill(false);
    }
    void takeRow(bool found, engine::TRow &row);
    void buildFields();
    engine::TRowFilter currentFilter() const;
    void reapplyFilter();
    void checkBrowse(const char *operation);
    void notifyMasterChange();
    // The private parts these name are described in dataset/datasetparts.h.
    struct KeptRows;
    struct LookupPlan;
    struct DerivedKeys;
    engine::TCursor *lookupCursor();
    void lookupMemoCurrent();
    // The kept row (or none) of values, from rows kept by columns that hold the needed columns
    // (none needed: whole rows); nullptr when not kept. *from receives its group.
    const std::optional<engine::TRow> *keptRow(const QList<int> &columns, const QList<int> &needed,
                                               const QVariantList &values,
                                               const KeptRows **from = nullptr) const;
    void keepTrue(const engine::TRow *oldRow, const engine::TRow *newRow, bool inserted);

    std::unique_ptr<engine::TCursor> m_cursor;
    std::unique_ptr<engine::TCursor> m_lookupCursor; // for Lookup on an inactive dataset
    QHash<QByteArray, QVariant> m_lookupMemo;        // Lookup answers kept by CacheLookups
    quint64 m_lookupMemoRollbacks = 0;
    QByteArray m_memoKey; // the key of the look-up asked last
    std::vector<KeptRows> m_kept;
    // Look-ups and locates by handle.
    std::vector<LookupPlan> m_plans;
    void forgetPlans();
    // The plan of a handle, its names resolved in the cursor that serves it.
    LookupPlan &resolvedPlan(int handle);
    // Per derived column, found at its first use while open: its key fields and look-up.
    mutable std::vector<DerivedKeys> m_derived;
    TDatabase *m_groupInserts = nullptr; // the database that sends the held inserts
    std::vector<std::unique_ptr<TField>> m_fields;
    QList<TLookupFieldDef> m_lookupDefs;
    TDataSetState m_state = TDataSetState::dsInactive;
    engine::TRow m_row;      // current row buffer (stored columns + hidden cursor values)
    engine::TRow m_oldRow;   // row as read before Edit
    engine::TRow m_savedRow; // current row before Append, restored by Cancel
    bool m_savedHasRow = false;
    QList<int> m_changed;            // stored columns written since Edit/Append
    std::vector<bool> m_changedMark; // per stored column: in m_changed (a wide row is set
                                     // column by column)
    void clearChanged()
    {
        for (int c : std::as_const(m_changed))
            m_changedMark[size_t(c)] = false;
        m_changed.clear();
    }
    mutable QList<QVariant> m_lookupCache;
    mutable QList<bool> m_lookupCached;
    mutable int m_lookupDepth = 0;
    bool m_hasRow = false;
    bool m_eof = true;
    bool m_bof = true;
    QString m_filterText;
    bool m_filtered = false;
    TFilterOptions m_filterOptions;
    int m_disableCount = 0;
    QList<TDataSource *> m_sources; // data sources whose DataSet is this
};

// Closes datasets when leaving a scope, whatever happened, in the order given; a close that
// fails never hides the error that brought the scope to its end.
class TCloseOnExit
{
public:
    TCloseOnExit(std::initializer_list<TDataSet *> sets) : m_sets(sets) {}
    explicit TCloseOnExit(std::vector<TDataSet *> sets) : m_sets(std::move(sets)) {}
    ~TCloseOnExit();
    TCloseOnExit(const TCloseOnExit &) = delete;
    TCloseOnExit &operator=(const TCloseOnExit &) = delete;

private:
    std::vector<TDataSet *> m_sets;
};

// A link from a dataset to its details: a TQuery with this as DataSource takes parameter values
// from the dataset's current row and is re-queried when that row changes.
class TDataSource
{
public:
    explicit TDataSource(TDataSet *dataSet = nullptr);
    ~TDataSource();
    TDataSource(const TDataSource &) = delete;
    TDataSource &operator=(const TDataSource &) = delete;

    TDataSet *DataSet() const { return m_dataSet; }
    void SetDataSet(TDataSet *dataSet);

private:
    friend class TDataSet;
    friend class TQuery;
    void masterChanged();
    void attach(TDataSet *detail);
    void detach(TDataSet *detail);

    TDataSet *m_dataSet = nullptr;
    QList<TDataSet *> m_details;
};
