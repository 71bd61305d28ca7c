#include "centraldb.h"

#include <QFile>
#include <QSqlError>
#include <QtTest>

CentralDb::CentralDb(const QString &backend, SchemaKind kind) : m_backend(backend)
{
    m_aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    if (backend == QLatin1String("SQLITE")) {
        const QString file = m_dir.filePath(QStringLiteral("central.db"));
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.close();
        m_aliases.AddAlias(QStringLiteral("CENTER"), backend,
                           {QStringLiteral("DATABASE NAME=") + file});
    } else {
        m_pg = testsupport::pgServer();
        m_pgDatabase = testsupport::createPgDatabase(*m_pg, kind == SchemaKind::Central
                                                                ? QStringLiteral("zoru_central")
                                                                : QStringLiteral("zoru_esvs"));
        m_aliases.AddAlias(QStringLiteral("CENTER"), backend,
                           {QStringLiteral("SERVER NAME=") + m_pg->host,
                            QStringLiteral("PORT=%1").arg(m_pg->port),
                            QStringLiteral("DATABASE NAME=") + m_pgDatabase});
    }
    m_db = Connect();
    m_db->Open();
    CreateSchema(*m_db, kind);
}

CentralDb::~CentralDb()
{
    m_db.reset();
    if (m_pg)
        testsupport::dropPgDatabase(*m_pg, m_pgDatabase);
}

std::unique_ptr<TDatabase> CentralDb::Connect(const QString &databaseName)
{
    auto db = std::make_unique<TDatabase>(databaseName, &m_aliases);
    db->AliasName = QStringLiteral("CENTER");
    db->LoginPrompt = false;
    if (m_pg)
        db->Params = {QStringLiteral("USER NAME=") + m_pg->user,
                      QStringLiteral("PASSWORD=") + m_pg->password};
    return db;
}

void CentralDb::Exec(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(m_db->Sql());
    if (!q.prepare(sql))
        qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, BindableValue(values[i], q.driver()));
    if (!q.exec())
        qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
}

QVariant CentralDb::Scalar(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(m_db->Sql());
    if (!q.prepare(sql))
        qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, BindableValue(values[i], q.driver()));
    if (!q.exec() || !q.next())
        qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    return q.value(0);
}
