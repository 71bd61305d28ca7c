#pragma once

// Detached copies of one row of a central table, as the administration dialogs edit them: the
// values are held by column name, loaded from the table by key values and saved back (edit of
// the row found by the key fields, or append of a new one).

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

class TDataSet;

// One held value; Null (an invalid QVariant) marks an absent value.
class TValue
{
public:
    explicit TValue(const QVariant &value = {}) : Value(value) {}
    QVariant Value;
};

// Values by name (compared exactly). Put replaces a value held under the same name.
class TFieldSet
{
public:
    void Put(const QString &name, const QVariant &value);
    bool Contains(const QString &name) const { return m_values.contains(name); }
    // The value under name; Null when there is none.
    QVariant Get(const QString &name) const;
    QStringList Names() const { return m_values.keys(); }
    int Count() const { return static_cast<int>(m_values.size()); }

private:
    QHash<QString, TValue> m_values;
};

// One record of a dataset (a table opened by the caller at creation, which is not owned).
// Column names are held in upper case; the key list ("UserGID;WstGID") names the columns that
// find the row again on Save; names that are not columns are dropped.
class TSimpleDBObject
{
public:
    // The dataset must be open (its columns are read here). With initial values, loads by them.
    TSimpleDBObject(TDataSet &dataSet, const TFieldSet *initial, const QString &keyFields);
    TSimpleDBObject(const TSimpleDBObject &) = delete;
    TSimpleDBObject &operator=(const TSimpleDBObject &) = delete;

    static std::unique_ptr<TSimpleDBObject> Create(TDataSet &dataSet, const TFieldSet *initial,
                                                   const QString &keyFields)
    {
        return std::make_unique<TSimpleDBObject>(dataSet, initial, keyFields);
    }

    // Copies the row whose columns equal the given values (exact match) into the object; nothing
    // changes when no row matches. Returns whether a row was found. The dataset is left open or
    // closed as it was found, also on failure.
    bool Load(const TFieldSet &values);
    // Load by the key fields, given their values in the order of KeyFields().
    bool LoadByKey(const QVariantList &keyValues);
    // Writes every column into the row found by the key fields (appended when none), posts it and
    // reads the stored row back (identifiers assigned by the database included). On failure the
    // pending row is cancelled, the held values are unchanged and the dataset's open state is
    // restored; the engine's error propagates.
    void Save();

    // By column name in any case; throws EDatabaseError for a name that is not a column.
    QVariant GetValue(const QString &name) const;
    void SetValue(const QString &name, const QVariant &value);

    const QStringList &KeyFields() const { return m_keyFields; }
    // Upper-case column names in the dataset's order.
    const QStringList &FieldNames() const { return m_names; }
    TDataSet &DataSet() const { return m_dataSet; }

private:
    void readFields();
    QString checkedName(const QString &name) const;

    TFieldSet m_values;
    QStringList m_names;
    QStringList m_keyFields;
    TDataSet &m_dataSet;
};

// "" for Null, else the text form.
QString NullToStr(const QVariant &v);
// 0 for Null, else the integer form.
int NullToInt(const QVariant &v);
