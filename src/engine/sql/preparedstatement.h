#pragma once

// What stands behind a TStatement (statement.h): a statement prepared by a backend's driver
// (TSqlDriver::Prepare). SQLite's runs on the library's own handle (sqlite/sqlitestatement.cpp);
// the others run through Qt's driver (PrepareThroughQt).

#include "engine/statement.h"

namespace engine {

struct TStatement::Impl
{
    using TNative = TStatement::TNative;

    explicit Impl(QString text) : sql(std::move(text)) {}
    virtual ~Impl() = default;
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;

    virtual void exec(const TBoundValues &params) = 0;
    virtual bool next() = 0;
    virtual QVariant value(int column) const = 0;
    virtual TNative nativeType(int column) const
    {
        Q_UNUSED(column);
        return TNative::NotNative;
    }
    virtual qint64 nativeInteger(int column) const
    {
        Q_UNUSED(column);
        return 0;
    }
    virtual double nativeFloat(int column) const
    {
        Q_UNUSED(column);
        return 0;
    }
    virtual void finish() = 0;
    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;
    virtual QString columnDeclaredType(int column) const
    {
        Q_UNUSED(column);
        return {};
    }
    virtual QMetaType columnValueType(int column) const = 0;
    virtual QVariant lastInsertId() const = 0;
    virtual int numRowsAffected() const = 0;

    const QString sql;
};

// A statement run through Qt's driver, forward only.
std::shared_ptr<TStatement::Impl> PrepareThroughQt(const QSqlDatabase &db, const QString &sql);

} // namespace engine
