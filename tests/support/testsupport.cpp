#include "testsupport.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QtTest>
#include <ctime>

namespace testsupport {

std::optional<PgServer> pgServer()
{
    const QString host = qEnvironmentVariable("ZORU_TEST_PGHOST");
    if (host.isEmpty())
        return std::nullopt;
    PgServer s;
    s.host = host;
    s.port = qEnvironmentVariableIntValue("ZORU_TEST_PGPORT");
    if (s.port == 0)
        s.port = 5432;
    s.user = qEnvironmentVariable("ZORU_TEST_PGUSER");
    s.password = qEnvironmentVariable("ZORU_TEST_PGPASSWORD");
    s.database = qEnvironmentVariable("ZORU_TEST_PGDATABASE", QStringLiteral("postgres"));
    return s;
}

bool pgRequired()
{
    return !qEnvironmentVariableIsEmpty("ZORU_REQUIRE_PG");
}

namespace {

void runOnAdmin(const PgServer &server, const QString &sql)
{
    const QString conn =
        QStringLiteral("zoru_test_admin_") + QUuid::createUuid().toString(QUuid::Id128);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), conn);
        db.setHostName(server.host);
        db.setPort(server.port);
        db.setUserName(server.user);
        db.setPassword(server.password);
        db.setDatabaseName(server.database);
        if (!db.open())
            qFatal("cannot connect to the test PostgreSQL server: %s",
                   qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        if (!q.exec(sql))
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(conn);
}

} // namespace

QString createPgDatabase(const PgServer &server, const QString &prefix)
{
    const QString name =
        prefix.toLower() + QLatin1Char('_') + QUuid::createUuid().toString(QUuid::Id128).left(12);
    runOnAdmin(server, QStringLiteral("CREATE DATABASE ") + name +
                           QStringLiteral(" ENCODING 'UTF8' TEMPLATE template0"));
    return name;
}

void dropPgDatabase(const PgServer &server, const QString &name)
{
    runOnAdmin(server,
               QStringLiteral("DROP DATABASE IF EXISTS ") + name + QStringLiteral(" WITH (FORCE)"));
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QString testDataDir()
{
    const QString fromEnv = qEnvironmentVariable("ZORU_TESTDATA_DIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QDir(qEnvironmentVariable("ZORU_SOURCE_DIR"))
        .absoluteFilePath(QStringLiteral("../shared/testdata"));
}

} // namespace testsupport

testsupport::ScopedTimeZone::ScopedTimeZone(const char *zone)
    : m_old(qgetenv("TZ")), m_had(qEnvironmentVariableIsSet("TZ"))
{
    qputenv("TZ", zone);
    ::tzset();
}

testsupport::ScopedTimeZone::~ScopedTimeZone()
{
    if (m_had)
        qputenv("TZ", m_old);
    else
        qunsetenv("TZ");
    ::tzset();
}
