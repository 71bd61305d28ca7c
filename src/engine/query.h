#pragma once

#include "engine/dataset.h"

#include <QHash>
#include <QStringList>

// A query parameter. Each ":name" or "?" in the SQL text is one parameter, in text order; a
// name used twice gives two parameters of that name. An occurrence that was never given a value
// takes the value of the first same-named parameter that was.
class QSqlQuery;

class TParam
{
public:
    QString Name; // empty for "?"
    // Declared type: the value is converted to it when bound (ftUnknown: bound as it is).
    TFieldType DataType = TFieldType::ftUnknown;

    QVariant Value() const { return m_value; }
    bool IsNull() const { return engine::IsNullValue(m_value); }
    bool Bound() const { return m_bound; }
    void SetValue(const QVariant &value)
    {
        m_value = value;
        m_bound = true;
    }
    void SetAsVariant(const QVariant &value) { SetValue(value); }
    void SetAsInteger(qint64 value);
    void SetAsString(const QString &value);
    void SetAsFloat(double value);
    void SetAsDate(const QDate &value);
    void SetAsDateTime(const QDateTime &value);
    void Clear();
    QVariant AsVariant() const { return m_value; }

private:
    QVariant m_value;
    bool m_bound = false;
};

class TParams
{
public:
    int Count() const { return static_cast<int>(m_items.size()); }
    TParam &Items(int index); // throws EDatabaseError when out of range
    TParam &operator[](int index) { return Items(index); }
    TParam *FindParam(const QString &name); // case-insensitive, first occurrence
    TParam &ParamByName(const QString &name); // throws EDatabaseError "Параметр 'X' не найден"
    QStringList Names() const;

private:
    friend class TQuery;
    std::vector<TParam> m_items;
};

// A text macro: "%NAME" in the SQL (outside quotes) is replaced by Value before preparing.
class TMacro
{
public:
    QString Name;
    QString Value;
    void SetAsString(const QString &v) { Value = v; }
    QString AsString() const { return Value; }
};

// SQL given as lines (joined with line breaks). Macros are expanded, then the parameters are
// bound as values (never spliced into the text). With a DataSource, every parameter named like
// a column of the master's current row takes that column's value, and the query re-runs when
// the master's current row changes.
class TQuery : public TDataSet
{
public:
    explicit TQuery(TDatabase *database = nullptr);
    ~TQuery() override;

    TDatabase *Database() const override { return m_database; }
    void SetDatabase(TDatabase *database);

    // Changing the SQL closes the query; parameters are parsed again and keep the values of
    // those with the same name.
    const QStringList &SQL() const { return m_sql; }
    void SetSQL(const QStringList &lines);
    void SetSQL(const QString &text) { SetSQL(text.split(QLatin1Char('\n'))); }
    void SetSQLLine(int index, const QString &line); // throws when out of range
    void AddSQL(const QString &line);
    void ClearSQL() { SetSQL(QStringList{}); }
    // The text as it will be prepared: macros expanded, placeholders still as written.
    QString Text();

    TParams &Params();
    TParam &ParamByName(const QString &name) { return Params().ParamByName(name); }
    int ParamCount() { return Params().Count(); }

    QList<TMacro> &Macros();
    TMacro &MacroByName(const QString &name); // throws EDatabaseError "Макрос 'X' не найден"

    TDataSource *DataSource() const { return m_dataSource; }
    void SetDataSource(TDataSource *source);

    // Runs a statement without result; returns the rows affected (-1 when unknown).
    int ExecSQL();
    int RowsAffected() const { return m_rowsAffected; }

protected:
    std::unique_ptr<engine::TCursor> CreateCursor() override;
    // A cursor of its own, beside the one of Open (it may run at the same time).
    std::unique_ptr<engine::TCursor> CreateLookupCursor() override;
    void MasterChanged() override;
    void MasterSourceGone() override { m_dataSource = nullptr; }

private:
    friend class TDataSource;
    void reparse();
    QString prepared(engine::TBoundValues &values);
    std::unique_ptr<engine::TCursor> makeCursor(bool reuseStatement);
    // The kept statements, dropped when the connection is not the one they were made on.
    void checkStatements();

    TDatabase *m_database;
    // Prepared once and run again for every opening and ExecSQL with the same text.
    std::unique_ptr<QSqlQuery> m_statement;
    std::unique_ptr<QSqlQuery> m_execStatement;
    QString m_statementConnection;
    QStringList m_sql;
    TParams m_params;
    QList<TMacro> m_macros;
    QHash<QString, TParam> m_remembered; // by upper-case name
    QString m_parsedText;
    bool m_dirty = true;
    TDataSource *m_dataSource = nullptr;
    int m_rowsAffected = -1;
};
