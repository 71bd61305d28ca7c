#pragma once

#include "core/aliases.h"
#include "engine/database.h"
#include "schema/schema.h"
#include "testsupport.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <memory>

// A fresh central database (or, with SchemaKind::Esvs, an ЕСВС database) on one backend, created
// from the schema scripts, reached through a run-only alias "CENTER" of its own alias store.
class CentralDb
{
public:
    // backend "SQLITE" or "POSTGRESQL"; the caller has made sure a server is configured.
    explicit CentralDb(const QString &backend, SchemaKind kind = SchemaKind::Central);
    ~CentralDb();

    TAliasStore &Aliases() { return m_aliases; }
    // A connection to it on the calling thread (not opened).
    std::unique_ptr<TDatabase> Connect(const QString &databaseName = QStringLiteral("KZCenter"));
    // The connection opened by the constructor (on the test's thread).
    TDatabase &Db() { return *m_db; }

    // Runs a statement with positional values; fails the test on error.
    void Exec(const QString &sql, const QVariantList &values = {});
    QVariant Scalar(const QString &sql, const QVariantList &values = {});

private:
    QString m_backend;
    QTemporaryDir m_dir;
    std::optional<testsupport::PgServer> m_pg;
    QString m_pgDatabase;
    TAliasStore m_aliases;
    std::unique_ptr<TDatabase> m_db;
};
