#include "engine/statement.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/sql/preparedstatement.h"
#include "engine/sql/sqldriver.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace engine {

namespace {

// A statement of Qt's driver: every backend but SQLite.
class QtStatement final : public TStatement::Impl
{
public:
    QtStatement(const QSqlDatabase &db, const QString &sql)
        : Impl(sql), m_query(db), m_driver(db.driver())
    {
        m_query.setForwardOnly(true);
        if (!m_query.prepare(sql))
            throw EDBEngineError(engineMessage(m_query.lastError(), m_query.driver()), sql);
    }

    void exec(const TBoundValues &params) override
    {
        for (int i = 0; i < params.size(); ++i)
            m_query.bindValue(i, BindableValue(params.at(i), m_driver));
        if (!m_query.exec())
            throw EDBEngineError(engineMessage(m_query.lastError(), m_query.driver()), sql);
    }
    bool next() override { return m_query.next(); }
    QVariant value(int column) const override { return m_query.value(column); }
    void finish() override { m_query.finish(); }
    int columnCount() const override { return m_query.record().count(); }
    QString columnName(int column) const override { return m_query.record().fieldName(column); }
    QMetaType columnValueType(int column) const override
    {
        return m_query.record().field(column).metaType();
    }
    QVariant lastInsertId() const override { return m_query.lastInsertId(); }
    int numRowsAffected() const override { return m_query.numRowsAffected(); }

private:
    QSqlQuery m_query;
    const QSqlDriver *m_driver;
};

} // namespace

std::shared_ptr<TStatement::Impl> PrepareThroughQt(const QSqlDatabase &db, const QString &sql)
{
    return std::make_shared<QtStatement>(db, sql);
}

TStatement::TStatement(const QSqlDatabase &db, const QString &sql)
{
    const TSqlDriver *driver = SqlDriverOf(db);
    d = driver ? driver->Prepare(db, sql) : PrepareThroughQt(db, sql);
}

void TStatement::exec(const TBoundValues &params)
{
    d->exec(params);
}

bool TStatement::next()
{
    return d->next();
}

QVariant TStatement::value(int column) const
{
    return d->value(column);
}

TStatement::TNative TStatement::nativeType(int column) const
{
    return d->nativeType(column);
}

qint64 TStatement::nativeInteger(int column) const
{
    return d->nativeInteger(column);
}

double TStatement::nativeFloat(int column) const
{
    return d->nativeFloat(column);
}

void TStatement::finish()
{
    d->finish();
}

int TStatement::columnCount() const
{
    return d->columnCount();
}

QString TStatement::columnName(int column) const
{
    return d->columnName(column);
}

QString TStatement::columnDeclaredType(int column) const
{
    return d->columnDeclaredType(column);
}

QMetaType TStatement::columnValueType(int column) const
{
    return d->columnValueType(column);
}

QVariant TStatement::lastInsertId() const
{
    return d->lastInsertId();
}

int TStatement::numRowsAffected() const
{
    return d->numRowsAffected();
}

const QString &TStatement::lastQuery() const
{
    return d->sql;
}

QVariant FirstValue(const QSqlDatabase &db, const QString &sql, const TBoundValues &params)
{
    TStatement statement(db, sql);
    statement.exec(params);
    const QVariant value = statement.next() ? statement.value(0) : QVariant();
    statement.finish();
    return value;
}

} // namespace engine
