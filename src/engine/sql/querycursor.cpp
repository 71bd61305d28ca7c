// The query cursor: the rows of a SELECT as the connection's driver reads them (queryrows.h),
// filtered, counted and searched the same way on every backend. A query's rows cannot change.

#include "core/errors.h"
#include "engine/sql/queryrows.h"
#include "engine/sql/sqlcursor.h"
#include "engine/sql/sqldriver.h"
#include "engine/sql/sqlvalues.h"
#include "engine/statement.h"

namespace engine {

namespace {

class SqlQueryCursor final : public TCursor
{
public:
    SqlQueryCursor(QSqlDatabase db, QString sql, TBoundValues params,
                   std::unique_ptr<TQueryRows> rows)
        : m_db(std::move(db)), m_sql(std::move(sql)), m_params(std::move(params)),
          m_rows(std::move(rows))
    {
    }

    void Open(const TRowFilter &filter) override
    {
        m_filter = filter;
        m_rows->Execute();
        m_filterCols = m_filter.Resolve(Columns());
    }

    void Close() override { m_rows->Close(); }

    const QList<TColumn> &Columns() const override { return m_rows->Columns(); }

    bool First(TRow &row) override
    {
        m_rows->Rewind();
        return advance(row);
    }

    bool Next(TRow &row) override { return advance(row); }

    int RecordCount() override
    {
        if (m_filter.IsEmpty()) {
            const int known = m_rows->KnownCount();
            if (known >= 0)
                return known;
            return FirstValue(m_db,
                              QStringLiteral("SELECT COUNT(*) FROM (") + m_sql +
                                  QStringLiteral(") zoru_count"),
                              m_params)
                .toInt();
        }
        int n = 0;
        scan([&](const TRow &) {
            ++n;
            return false;
        });
        return n;
    }

    bool Locate(const QList<int> &columns, const QVariantList &values, bool caseInsensitive,
                TRow &row) override
    {
        // Rows stream forward: start again from the first one.
        TRow candidate;
        bool ok = First(candidate);
        while (ok) {
            if (keysMatch(candidate, columns, values, caseInsensitive)) {
                row = candidate;
                return true;
            }
            ok = Next(candidate);
        }
        return false;
    }

    bool Lookup(const QList<int> &keyColumns, const QVariantList &values,
                const QList<int> &resultColumns, QVariantList &result) override
    {
        bool found = false;
        scan([&](const TRow &r) {
            if (!keysMatch(r, keyColumns, values, false))
                return false;
            result.clear();
            for (int c : resultColumns)
                result << r.value(c);
            found = true;
            return true;
        });
        return found;
    }

    bool CanModify() const override { return false; }
    void Insert(TRow &) override { readOnly(); }
    void Update(const TRow &, const QList<int> &, TRow &) override { readOnly(); }
    void Delete(const TRow &) override { readOnly(); }
    // Runs the statement again and finds the same row by its values.
    bool Refresh(TRow &row) override
    {
        const TRow wanted = row;
        m_rows->Execute();
        TRow candidate;
        while (advance(candidate)) {
            bool same = candidate.size() == wanted.size();
            for (int i = 0; same && i < candidate.size(); ++i)
                same = ValuesEqual(candidate.at(i), wanted.at(i), false);
            if (same) {
                row = candidate;
                return true;
            }
        }
        return false;
    }

private:
    [[noreturn]] static void readOnly()
    {
        throw EDatabaseError(QStringLiteral("Набор данных только для чтения"));
    }

    bool passes(const TRow &row) const
    {
        return m_filter.IsEmpty() || m_filter.Matches(Columns(), m_filterCols, row);
    }

    // The next row that passes the filter.
    bool advance(TRow &row)
    {
        TRow r;
        while (m_rows->Next(r)) {
            if (passes(r)) {
                row = std::move(r);
                return true;
            }
        }
        return false;
    }

    // Runs the statement once more on its own, leaving the current position alone; stops when
    // visit returns true.
    void scan(const std::function<bool(const TRow &)> &visit)
    {
        QSqlQuery other(m_db);
        other.setForwardOnly(true);
        PrepareSql(other, m_sql);
        RunSql(other, m_params);
        // PostgreSQL: this scan is the only statement running until it ends.
        while (other.next()) {
            TRow r = ReadRow(other, Columns());
            if (!passes(r))
                continue;
            if (visit(r))
                break;
        }
        other.finish();
    }

    bool keysMatch(const TRow &r, const QList<int> &cols, const QVariantList &values, bool ci) const
    {
        for (int i = 0; i < cols.size(); ++i) {
            const QVariant want = values.value(i);
            const TColumn &c = Columns().at(cols.at(i));
            QVariant conv;
            if (!IsNullValue(want) && !ValueForColumn(want, c, conv))
                return false;
            if (!ValuesEqual(r.value(cols.at(i)), IsNullValue(want) ? QVariant() : conv,
                             ci && IsTextType(c.DataType)))
                return false;
        }
        return true;
    }

    QSqlDatabase m_db;
    QString m_sql;
    TBoundValues m_params;
    std::unique_ptr<TQueryRows> m_rows;
    TRowFilter m_filter;
    QList<int> m_filterCols;
};

} // namespace

std::unique_ptr<TCursor> MakeSqlQueryCursor(const QSqlDatabase &db, const QString &sql,
                                            const TBoundValues &params, QSqlQuery *statement)
{
    return std::make_unique<SqlQueryCursor>(db, sql, params,
                                            SqlDriverFor(db).OpenQuery(db, sql, params, statement));
}

int ExecSql(const QSqlDatabase &db, const QString &sql, const TBoundValues &params)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    PrepareSql(query, sql);
    RunSql(query, params);
    const int n = query.numRowsAffected();
    query.finish();
    return n;
}

} // namespace engine
