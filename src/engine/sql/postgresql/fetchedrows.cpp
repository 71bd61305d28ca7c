// The rows of a query on PostgreSQL fetched whole: a statement with parameters, which Qt's
// driver cannot pass to a server-side cursor. Qt's streaming mode there would lose the rows as
// soon as any other statement runs on the connection, and callers interleave statements freely.

#include "engine/sql/postgresql/postgresqldriver.h"
#include "engine/sql/queryrows.h"
#include "engine/sql/sqlvalues.h"

#include <QSqlRecord>

namespace engine {

namespace {

class FetchedRows final : public TQueryRows
{
public:
    FetchedRows(QSqlDatabase db, QString sql, TBoundValues params, QSqlQuery *statement)
        : m_db(std::move(db)), m_sql(std::move(sql)), m_params(std::move(params)), m_query(m_db),
          m_statement(statement)
    {
    }

    // Through the caller's statement when it holds the same SQL on the same connection, so that
    // the server prepares the text once instead of once per opening.
    void Execute() override
    {
        if (m_statement && m_statement->lastQuery() == m_sql &&
            m_statement->driver() == m_db.driver()) {
            m_statement->finish();
            m_run = m_statement;
        } else {
            m_query = QSqlQuery(m_db);
            PrepareSql(m_query, m_sql);
            m_run = &m_query;
            if (m_statement) {
                *m_statement = std::move(m_query);
                m_run = m_statement;
            }
        }
        RunSql(*m_run, m_params);
        m_consumed = false;
        if (m_columns.isEmpty())
            m_columns = ColumnsOfRecord(m_run->record());
    }

    void Rewind() override
    {
        if (m_consumed)
            m_run->seek(QSql::BeforeFirstRow);
    }

    bool Next(TRow &row) override
    {
        const bool found = m_run->next();
        m_consumed = true;
        if (!found)
            return false;
        row = ReadRow(*m_run, m_columns);
        return true;
    }

    int KnownCount() const override { return m_run->size(); }

    void Close() override
    {
        m_run->finish();
        if (m_run == &m_query)
            m_query.clear(); // a statement kept by the caller stays prepared
    }

    const QList<TColumn> &Columns() const override { return m_columns; }

private:
    QSqlDatabase m_db;
    QString m_sql;
    TBoundValues m_params;
    QSqlQuery m_query;
    QSqlQuery *m_statement;      // the caller's, kept between cursors; may be null
    QSqlQuery *m_run = &m_query; // the statement whose rows are read: m_query or m_statement
    bool m_consumed = false;
    QList<TColumn> m_columns;
};

} // namespace

std::unique_ptr<TQueryRows> OpenFetchedRows(const QSqlDatabase &db, const QString &sql,
                                            const TBoundValues &params, QSqlQuery *statement)
{
    return std::make_unique<FetchedRows>(db, sql, params, statement);
}

} // namespace engine
