// The rows of a query on SQLite: they stream from a statement on the library's own handle, which
// the rows keep for their life (SQLite prepares in microseconds), and which runs again when they
// are read from the start once more.

#include "engine/sql/queryrows.h"
#include "engine/sql/sqlite/sqlitedriver.h"
#include "engine/sql/sqlvalues.h"
#include "engine/statement.h"

#include <optional>

namespace engine {

namespace {

class SqliteQueryRows final : public TQueryRows
{
public:
    SqliteQueryRows(QSqlDatabase db, QString sql, TBoundValues params)
        : m_db(std::move(db)), m_sql(std::move(sql)), m_params(std::move(params))
    {
    }

    void Execute() override
    {
        if (!m_statement)
            m_statement.emplace(m_db, m_sql);
        m_statement->exec(m_params);
        m_consumed = false;
        if (m_columns.isEmpty())
            describe();
    }

    void Rewind() override
    {
        if (m_consumed)
            Execute();
    }

    bool Next(TRow &row) override
    {
        const bool found = m_statement->next();
        m_consumed = true;
        if (!found)
            return false;
        row = ReadRow(*m_statement, m_columns);
        return true;
    }

    int KnownCount() const override { return -1; }

    void Close() override
    {
        if (m_statement)
            m_statement->finish();
    }

    const QList<TColumn> &Columns() const override { return m_columns; }

private:
    // A table's column by its declared type, any other by the value in the first row.
    void describe()
    {
        for (int i = 0; i < m_statement->columnCount(); ++i) {
            const QString name = m_statement->columnName(i);
            const QString decl = m_statement->columnDeclaredType(i);
            TColumn c;
            if (!decl.isEmpty()) {
                c = ColumnFromDeclaredType(name, decl);
            } else {
                c.Name = name;
                c.DataType = FieldTypeOfMeta(m_statement->columnValueType(i).id());
            }
            m_columns << c;
        }
    }

    QSqlDatabase m_db;
    QString m_sql;
    TBoundValues m_params;
    std::optional<TStatement> m_statement;
    bool m_consumed = false;
    QList<TColumn> m_columns;
};

} // namespace

std::unique_ptr<TQueryRows> OpenSqliteQuery(const QSqlDatabase &db, const QString &sql,
                                            const TBoundValues &params)
{
    return std::make_unique<SqliteQueryRows>(db, sql, params);
}

} // namespace engine
