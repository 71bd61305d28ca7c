// Import of demo workstation packages (zoru-demo --package N) into a demo central database,
// against the floor of the same work: the central rows that the import wrote, bulk-loaded into
// an empty database of the same schema in the same run (SQLite: prepared inserts in one
// transaction; PostgreSQL: COPY through libpq, in one transaction).
//
//   import_bench [--persons 10000,100000] [--scale 0.1]
//                [--postgres host:port --user U --password P]
//
// For every size: the import, the re-import of the same package (every row found again and
// edited in place), the floor, their ratios, and the peak memory of each phase. Memory that an
// earlier size's floor freed may stay with the process, so compare peaks of sizes measured in
// runs of their own (one --persons value each).

#include "benchsupport.h"
#include "core/localzone.h"
#include "demogen.h"
#include "engine/database.h"
#include "import/importjob.h"
#include "jobs/jobrunner.h"
#include "schema/schema.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>
#include <libpq-fe.h>
#include <memory>
#include <optional>

namespace {

using namespace bench;

struct Server
{
    QString host;
    int port = 5432;
    QString user, password;
};

int scalar(TDatabase &db, const QString &sql)
{
    QSqlQuery q = Exec(db, sql);
    return q.next() ? q.value(0).toInt() : 0;
}

// A maintenance connection to the server's "postgres" database.
std::unique_ptr<TDatabase> serverDb(TAliasStore &aliases, const Server &s, const QString &dbName)
{
    const QString alias = QStringLiteral("BENCH_") + dbName.toUpper();
    if (!aliases.IsAlias(alias))
        aliases.AddAlias(alias, QStringLiteral("POSTGRESQL"),
                         {QStringLiteral("SERVER NAME=") + s.host,
                          QStringLiteral("PORT=") + QString::number(s.port),
                          QStringLiteral("DATABASE NAME=") + dbName});
    auto db = std::make_unique<TDatabase>(dbName, &aliases);
    db->AliasName = alias;
    db->LoginPrompt = false;
    db->Params << QStringLiteral("USER NAME=") + s.user << QStringLiteral("PASSWORD=") + s.password;
    db->Open();
    return db;
}

// The tables the import writes, with the rows of this package (dictionaries: those past the
// identifiers they had before the import).
struct Written
{
    QString table;
    QString filter;
};

std::vector<Written> writtenTables(TDatabase &center)
{
    std::vector<Written> tables;
    const struct
    {
        const char *table, *gid;
    } dictionaries[] = {{"CITY", "CITYGID"},
                        {"STREET", "STRGID"},
                        {"POST", "POSGID"},
                        {"REGISTRATIONAREA", "AREAGID"}};
    for (const auto &d : dictionaries) {
        const int max = scalar(center, QStringLiteral("SELECT COALESCE(MAX(%1), 0) FROM %2")
                                           .arg(QLatin1String(d.gid), QLatin1String(d.table)));
        tables.push_back({QLatin1String(d.table),
                          QStringLiteral("WHERE %1 > %2").arg(QLatin1String(d.gid)).arg(max)});
    }
    for (const char *t :
         {"AUXCITY", "AUXSTREET", "AUXPOST", "AUXREGISTRATIONAREA", "ADDRESS", "PERSON", "DOCUMENT",
          "PRIMARYINSPECTION", "PRIMDIAG", "SCRININGCARD", "MAPDIAG"})
        tables.push_back({QLatin1String(t), QString()});
    return tables;
}

using demo::TableRows;

TableRows readRows(TDatabase &center, const Written &w)
{
    QSqlQuery q(center.Sql());
    q.setForwardOnly(true);
    const QString sql = QStringLiteral("SELECT * FROM ") + w.table + QLatin1Char(' ') + w.filter;
    if (!q.exec(sql))
        throw EDBEngineError(engineMessage(q.lastError()), sql);
    TableRows t;
    t.name = w.table;
    for (int i = 0; i < q.record().count(); ++i)
        t.columns << q.record().fieldName(i);
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < t.columns.size(); ++i)
            row << (q.isNull(i) ? QVariant() : q.value(i));
        t.rows.push_back(std::move(row));
    }
    return t;
}

QByteArray copyText(const TableRows &t)
{
    QByteArray text;
    for (const QVariantList &row : t.rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                text += '\t';
            const QVariant &v = row[i];
            if (!v.isValid() || v.isNull()) {
                text += "\\N";
                continue;
            }
            QString s = v.typeId() == QMetaType::QDateTime
                            ? v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                            : v.toString();
            s.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
                .replace(QLatin1Char('\t'), QStringLiteral("\\t"))
                .replace(QLatin1Char('\n'), QStringLiteral("\\n"))
                .replace(QLatin1Char('\r'), QStringLiteral("\\r"));
            text += s.toUtf8();
        }
        text += '\n';
    }
    return text;
}

void pgCheck(PGconn *pg, PGresult *r, const char *what)
{
    const ExecStatusType status = PQresultStatus(r);
    PQclear(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_COPY_IN)
        throw Exception(QStringLiteral("%1: %2").arg(QLatin1String(what),
                                                     QString::fromUtf8(PQerrorMessage(pg))));
}

// Loads the rows into the floor database; returns the seconds spent loading (reading the
// import's rows back is not counted) and the row count.
std::pair<double, qint64> loadFloor(TDatabase &center, TDatabase &floor,
                                    const std::vector<Written> &tables,
                                    const std::optional<Server> &server, const QString &floorName)
{
    qint64 nanos = 0, rows = 0;
    QElapsedTimer timer;
    if (!server) {
        timer.start();
        floor.StartTransaction();
        nanos += timer.nsecsElapsed();
        for (const Written &w : tables) {
            const TableRows t = readRows(center, w);
            rows += qint64(t.rows.size());
            timer.restart();
            demo::WriteTables(floor, {t});
            nanos += timer.nsecsElapsed();
        }
        timer.restart();
        floor.Commit();
        nanos += timer.nsecsElapsed();
        return {double(nanos) / 1e9, rows};
    }

    const QByteArray conninfo = QStringLiteral("host=%1 port=%2 dbname=%3 user=%4 password=%5")
                                    .arg(server->host)
                                    .arg(server->port)
                                    .arg(floorName, server->user, server->password)
                                    .toUtf8();
    PGconn *pg = PQconnectdb(conninfo.constData());
    const std::unique_ptr<PGconn, void (*)(PGconn *)> closer(pg, PQfinish);
    if (PQstatus(pg) != CONNECTION_OK)
        throw Exception(QString::fromUtf8(PQerrorMessage(pg)));
    timer.start();
    pgCheck(pg, PQexec(pg, "BEGIN"), "BEGIN");
    nanos += timer.nsecsElapsed();
    for (const Written &w : tables) {
        const TableRows t = readRows(center, w);
        rows += qint64(t.rows.size());
        const QByteArray text = copyText(t);
        timer.restart();
        const QByteArray sql = QStringLiteral("COPY %1 (%2) FROM STDIN")
                                   .arg(w.table, t.columns.join(QLatin1Char(',')))
                                   .toUtf8();
        pgCheck(pg, PQexec(pg, sql.constData()), "COPY");
        if (PQputCopyData(pg, text.constData(), int(text.size())) != 1 ||
            PQputCopyEnd(pg, nullptr) != 1)
            throw Exception(QString::fromUtf8(PQerrorMessage(pg)));
        pgCheck(pg, PQgetResult(pg), "COPY end");
        nanos += timer.nsecsElapsed();
    }
    timer.restart();
    pgCheck(pg, PQexec(pg, "COMMIT"), "COMMIT");
    nanos += timer.nsecsElapsed();
    return {double(nanos) / 1e9, rows};
}

struct Result
{
    int persons = 0;
    qint64 rows = 0;
    double import = 0, reimport = 0, floor = 0;
    double importPeak = 0, reimportPeak = 0, floorPeak = 0;
};

Result benchOne(int persons, const QString &scale, const std::optional<Server> &server,
                TAliasStore &serverAliases)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("prog"));
    QDir().mkpath(folder);
    CopyArchiver(folder);

    // Databases of this run on the server: the demo's central one and the floor's.
    const QString dbName = QStringLiteral("zoru_import_bench_%1_%2")
                               .arg(QCoreApplication::applicationPid())
                               .arg(persons);
    const QString floorName = dbName + QStringLiteral("_floor");
    std::unique_ptr<TDatabase> maintenance;
    if (server) {
        maintenance = serverDb(serverAliases, *server, QStringLiteral("postgres"));
        for (const QString &name : QStringList{dbName, floorName, dbName + QStringLiteral("_esvs")})
            Exec(*maintenance, QStringLiteral("DROP DATABASE IF EXISTS ") + name);
        Exec(*maintenance, QStringLiteral("CREATE DATABASE ") + dbName);
        Exec(*maintenance, QStringLiteral("CREATE DATABASE ") + floorName);
    }
    struct DropDatabases
    {
        TDatabase *db;
        QStringList names;
        ~DropDatabases()
        {
            if (!db)
                return;
            for (const QString &name : names) {
                QSqlQuery q(db->Sql());
                q.exec(QStringLiteral("DROP DATABASE IF EXISTS ") + name);
            }
        }
    } dropDatabases{maintenance.get(), {dbName, floorName, dbName + QStringLiteral("_esvs")}};

    // The installation and the package are made by their own program: their memory and time
    // do not count.
    const QString target =
        server ? QStringLiteral("%1:%2:%3").arg(server->host).arg(server->port).arg(dbName)
               : QString();
    const QString user = server ? server->user : QString();
    const QString password = server ? server->password : QString();
    MakeDemo(DemoArgs(folder, scale, target, user, password));
    QStringList packageArgs{QStringLiteral("--folder"), folder, QStringLiteral("--package"),
                            QString::number(persons)};
    if (server)
        packageArgs << QStringLiteral("--password") << server->password;
    QElapsedTimer timer;
    timer.start();
    const QString package = RunProgram(QStringLiteral("zoru-demo"), packageArgs);
    Out() << "  package of " << persons << " persons made in " << timer.elapsed() / 1000.0 << " s"
          << Qt::endl;
    const KeptPackage kept(package);

    DemoCentral demo(folder, user, password);
    TDatabase &center = demo.center;
    const std::vector<Written> tables = writtenTables(center);

    auto importOnce = [&](double &seconds, double &peak) {
        ResetPeak();
        QElapsedTimer t;
        t.start();
        SilentWindow window;
        const int result = RunJob(window, [&](const TJobContext &context) {
            auto job =
                std::make_unique<TImWorkstationToServer>(context, demo.info, center, package);
            // The re-import is the point: no question about a package imported before.
            job->SetRepeatPolicy(TImWorkstationToServer::TRepeatPolicy::Force);
            return job;
        });
        seconds = t.elapsed() / 1000.0;
        peak = PeakMiB();
        if (result != 1)
            throw Exception(QStringLiteral("import failed: ") +
                            window.lines.join(QLatin1Char('\n')));
    };
    Result r;
    r.persons = persons;
    importOnce(r.import, r.importPeak);
    const int personsAfterImport = scalar(center, QStringLiteral("SELECT COUNT(*) FROM PERSON"));
    kept.Restore(); // the import deleted the package
    importOnce(r.reimport, r.reimportPeak);
    if (scalar(center, QStringLiteral("SELECT COUNT(*) FROM PERSON")) != personsAfterImport ||
        personsAfterImport != persons)
        throw Exception(QStringLiteral("re-import changed the number of persons"));

    // The floor: an empty database of the same schema, loaded with the same rows.
    std::unique_ptr<TDatabase> floor;
    if (server) {
        floor = serverDb(serverAliases, *server, floorName);
    } else {
        QFile file(dir.filePath(QStringLiteral("floor.db")));
        if (!file.open(QIODevice::WriteOnly))
            throw Exception(QStringLiteral("cannot create ") + file.fileName());
        file.close();
        TAliasStore &a = serverAliases;
        a.AddAlias(QStringLiteral("BENCH_FLOOR_%1").arg(persons), QStringLiteral("SQLITE"),
                   {QStringLiteral("DATABASE NAME=") + dir.filePath(QStringLiteral("floor.db"))});
        floor = std::make_unique<TDatabase>(QStringLiteral("Floor"), &a);
        floor->AliasName = QStringLiteral("BENCH_FLOOR_%1").arg(persons);
        floor->LoginPrompt = false;
        floor->Open();
    }
    CreateSchema(*floor, SchemaKind::Central);
    ResetPeak();
    const auto [floorSeconds, rows] = loadFloor(center, *floor, tables, server, floorName);
    r.floor = floorSeconds;
    r.floorPeak = PeakMiB();
    r.rows = rows;
    floor->Close();
    center.Close();
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    // As the program starts.
    PinLocalTimeZone();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption personsOption(QStringLiteral("persons"),
                                           QStringLiteral("Package sizes, comma-separated."),
                                           QStringLiteral("N,..."), QStringLiteral("10000,100000"));
    const QCommandLineOption scaleOption(QStringLiteral("scale"),
                                         QStringLiteral("Scale of the demo central database."),
                                         QStringLiteral("S"), QStringLiteral("0.1"));
    const QCommandLineOption pgOption(QStringLiteral("postgres"), QStringLiteral("host:port"),
                                      QStringLiteral("server"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("Server user."),
                                        QStringLiteral("user"));
    const QCommandLineOption passwordOption(
        QStringLiteral("password"), QStringLiteral("Server password."), QStringLiteral("password"));
    parser.addOptions({personsOption, scaleOption, pgOption, userOption, passwordOption});
    parser.addHelpOption();
    ParseCommandLine(parser, app.arguments());

    std::optional<Server> server;
    if (parser.isSet(pgOption)) {
        const QStringList parts = parser.value(pgOption).split(QLatin1Char(':'));
        server = Server{parts.value(0), parts.value(1, QStringLiteral("5432")).toInt(),
                        parser.value(userOption), parser.value(passwordOption)};
    }
    TAliasStore serverAliases;
    serverAliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    std::vector<Result> results;
    QTextStream &out = Out();
    try {
        out << "backend: " << (server ? "POSTGRESQL" : "SQLITE") << Qt::endl;
        for (const QString &n : parser.value(personsOption).split(QLatin1Char(','))) {
            results.push_back(
                benchOne(n.toInt(), parser.value(scaleOption), server, serverAliases));
            const Result &r = results.back();
            out << "  " << r.persons << " persons, " << r.rows << " central rows" << Qt::endl
                << "    import    " << r.import << " s (" << r.import / r.floor
                << " x floor), peak " << r.importPeak << " MiB" << Qt::endl
                << "    re-import " << r.reimport << " s (" << r.reimport / r.floor
                << " x floor), peak " << r.reimportPeak << " MiB" << Qt::endl
                << "    floor     " << r.floor << " s, peak " << r.floorPeak
                << " MiB (one table's rows in memory)" << Qt::endl;
            PrintRatio(QStringLiteral("import of %1 persons / floor").arg(r.persons), r.import,
                       r.floor);
        }
        if (results.size() >= 2) {
            const Result &a = results.front(), &b = results.back();
            out << "  growth " << a.persons << " -> " << b.persons << " persons: import x"
                << b.import / a.import << ", re-import x" << b.reimport / a.reimport << ", floor x"
                << b.floor / a.floor << Qt::endl
                << "  (peaks after the first size include what earlier floors left to the "
                   "process: measure each size alone for memory)"
                << Qt::endl;
        }
    } catch (const Exception &e) {
        QTextStream(stderr) << e.Message() << Qt::endl;
        return 1;
    }
    return 0;
}
