#pragma once

// The SQL table cursor (MakeSqlTableCursor, sqlcursor.h), written once against the connection's
// driver: the driver describes the table and answers the dialect's questions (how a row without
// a key is addressed, what RETURNING reports). A driver with more to offer derives from it (the
// PostgreSQL cursor sends inserts in groups and looks many keys up through arrays).
//
// Every statement is prepared once per cursor and kept by the shape of what it does, a list of
// numbers that starts with a code: -1 Locate, -2 - n Lookup of n results, -3 Insert, -4
// Update, -5 Delete, -6 a row by its last inserted rowid, -7 a row read again, -8 many keys in
// chunks, then the driver's own (-9 and below).

#include "engine/sql/sqldriver.h"
#include "engine/statement.h"

#include <QHash>
#include <deque>
#include <type_traits>

namespace engine {

class TSqlTableCursor : public TCursor
{
public:
    TSqlTableCursor(const TSqlDriver &driver, QSqlDatabase db, QString name, bool readOnly);

    void Open(const TRowFilter &filter) override;
    void Close() override;
    const QList<TColumn> &Columns() const override { return m_info.columns; }
    bool First(TRow &row) override;
    bool Next(TRow &row) override;
    int RecordCount() override;
    bool Locate(const QList<int> &columns, const QVariantList &values, bool caseInsensitive,
                TRow &row) override;
    bool Lookup(const QList<int> &keyColumns, const QVariantList &values,
                const QList<int> &resultColumns, QVariantList &result) override;
    bool LocateMany(const QList<int> &columns, const QList<QVariantList> &keys,
                    const QList<int> &results,
                    const std::function<void(const TRow &)> &visit) override;
    bool Reposition(const TRow &row) override;
    bool CanModify() const override { return !m_readOnly; }
    void Insert(TRow &row) override;
    void Update(const TRow &oldRow, const QList<int> &changed, TRow &row) override;
    void Delete(const TRow &row) override;
    bool Refresh(TRow &row) override;

protected:
    // LocateMany of keys (no Null in them, each value converted for its column) with one
    // statement, where the backend can; false leaves them to the general way.
    virtual bool locateAtOnce(const QList<int> &columns, const QList<TBoundValues> &keys,
                              const QList<int> &results, const QString &select,
                              const std::function<void(const TRow &)> &visit);

    const QSqlDatabase &db() const { return m_db; }
    const TTableInfo &table() const { return m_info; }
    bool readOnly() const { return m_readOnly; }
    // The columns the database fills in an INSERT: those with a default, and the key.
    const QList<int> &filled() const { return m_filled; }
    const QString &filterWhere() const { return m_filterWhere; }

    // The statement of a shape, prepared from makeSql() the first time. makeSql returns a
    // QString, not a string builder that would refer to its own temporaries.
    template <typename MakeSql> TStatement &shaped(const QList<int> &shape, MakeSql makeSql)
    {
        static_assert(std::is_same_v<decltype(makeSql()), QString>);
        auto it = m_shapes.find(shape);
        if (it == m_shapes.end())
            it = m_shapes.insert(shape, TStatement(m_db, makeSql()));
        return it.value();
    }
    // The statement of a text, prepared the first time.
    TStatement &cached(const QString &sql);
    // Runs a statement of LocateMany with params and then the filter's parameters; visit
    // receives each row (the results and then the key columns, or the whole row).
    void visitRows(TStatement &query, TBoundValues params, const QList<int> &results,
                   const QList<int> &columns, const std::function<void(const TRow &)> &visit);
    // The row becomes the current one; Next reads on after it.
    void makeCurrent(const TRow &row);

private:
    void describe();
    void buildFilter(const TRowFilter &filter);
    bool keyShape(const QList<int> &columns, const QVariantList &values, bool ci, QList<int> &shape,
                  TBoundValues &params) const;
    QStringList keyConditions(const QList<int> &columns, const QList<int> &shape, int offset) const;
    void identifyParams(const TRow &row, TBoundValues &params);
    QVariant locatorOf(const TRow &row);
    // Whether a written row must be read back whole: triggers may change any column; a backend
    // without RETURNING cannot return what it filled in.
    bool readsBackWhole() const { return m_info.hasTriggers || !m_hasReturning; }
    bool insertReturnsWhole() const;
    bool lastIdOnly(const QList<int> &shape) const;
    bool updateReturns() const;
    QString insertSql(const QList<int> &shape) const;
    void readInserted(TStatement &query, const QList<int> &shape, TRow &stored, TRow &row);
    TStatement &byLastInsertId();
    bool reread(TRow &row);
    void fetchPage(bool after);
    bool take(TRow &row);
    // Runs a statement that finds at most one row; false when it finds none.
    bool readOne(TStatement &query, const TBoundValues &params, TRow &row) const;
    TRow readRow(const TStatement &query) const;
    void checkWritable() const;

    const TSqlDriver &m_driver;
    QSqlDatabase m_db;
    QString m_name;
    bool m_readOnly;
    TTableInfo m_info;
    bool m_hasReturning = false;
    TBoundValues m_searchParams; // of the last Locate or Lookup, kept for their room
    QList<int> m_searchShape;
    QString m_columnList;
    QString m_selectList;
    QString m_orderBy;
    QString m_filterWhere;
    TBoundValues m_filterParams;
    std::deque<TRow> m_page;
    bool m_pageEnd = false;
    TRow m_current;
    bool m_hasCurrent = false;
    QHash<QString, TStatement> m_cache;
    QHash<QList<int>, TStatement> m_shapes;
    QList<int> m_filled;
    QString m_identify; // WHERE text addressing one row (identifyParams)
};

} // namespace engine
