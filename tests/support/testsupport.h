#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Helpers shared by the test programs.
namespace testsupport {

// The throwaway PostgreSQL server started by the test script, from ZORU_TEST_PG* variables.
struct PgServer
{
    QString host;
    int port = 5432;
    QString user;
    QString password;
    QString database;
};

// The server, or nullopt when none is configured. When ZORU_REQUIRE_PG is set, a missing server
// is a failure rather than a reason to skip.
std::optional<PgServer> pgServer();
bool pgRequired();

// Creates a fresh, empty database on the server and returns its name (dropped by the caller
// through dropPgDatabase, or left for the throwaway server to take with it).
QString createPgDatabase(const PgServer &server, const QString &prefix);
void dropPgDatabase(const PgServer &server, const QString &name);

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);

// Folder of the shared sample files (../shared/testdata beside the checkout).
QString testDataDir();

// Sets the process's time zone (TZ) for a scope and restores the one before, for a test whose
// expectations hold in one zone only (a day on which daylight saving skipped an hour).
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char *zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    QByteArray m_old;
    bool m_had;
};

} // namespace testsupport

// Skips the current test when no PostgreSQL server is configured (fails when one is required).
#define ZORU_REQUIRE_PG_OR_SKIP(var)                                                               \
    const auto var##Opt = testsupport::pgServer();                                                 \
    if (!var##Opt) {                                                                               \
        if (testsupport::pgRequired())                                                             \
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");                \
        QSKIP("no PostgreSQL server configured (ZORU_TEST_PGHOST)");                               \
    }                                                                                              \
    const testsupport::PgServer &var = *var##Opt
