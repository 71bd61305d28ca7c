// The state of every workstation ("Состояние рабочих станций", zoru-admin --status) on a central
// database of 2,000 workstations and a year of journal, against its floor: the workstations
// with their hospital or brigade and region read by one plain statement, which any answer must
// read (the journals' share is the rest). Also the chart's persons per day for a selection and
// for every workstation, and zoru-admin --status as a process against zoru-admin --version.
// The target: the window and --status answer within 0.5 s.
//
//   status_bench [--workstations 2000] [--days 365] [--rounds 5]
//                [--postgres host:port:dbname --user U --password P]
//
// With --postgres the database dbname is made anew on the server (dropped first when there).
// Prints seconds (first run, then the median), the ratio to the floor and the peak memory.

#include "benchsupport.h"
#include "core/clock.h"
#include "core/errors.h"
#include "core/localzone.h"
#include "core/strconst.h"
#include "schema/schema.h"
#include "status/personsperday.h"
#include "status/statetable.h"
#include "status/workstationstate.h"
#include "statusview/statemodel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlError>
#include <QTemporaryDir>

namespace {

using namespace bench;

const QStringList kSteps = {QStringLiteral("City"),         QStringLiteral("Street"),
                            QStringLiteral("Post"),         QStringLiteral("RegistrationArea"),
                            QStringLiteral("Person"),       QStringLiteral("Address"),
                            QStringLiteral("Document"),     QStringLiteral("PrimaryInspection"),
                            QStringLiteral("ScriningCard"), QStringLiteral("PrimDiag"),
                            QStringLiteral("MapDiag")};

QString stamp(const QDateTime &t)
{
    return QLatin1Char('\'') + t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QLatin1Char('\'');
}

// Rows given as literal value lists, sent a few hundred at a time.
class Inserter
{
public:
    Inserter(const QSqlDatabase &db, QString head) : m_db(db), m_head(std::move(head)) {}
    ~Inserter() { Flush(); }
    void Add(const QString &values)
    {
        m_rows << QLatin1Char('(') + values + QLatin1Char(')');
        if (m_rows.size() >= 500)
            Flush();
    }
    void Flush()
    {
        if (!m_rows.isEmpty())
            Exec(m_db, m_head + QStringLiteral(" VALUES ") + m_rows.join(QLatin1Char(',')));
        m_rows.clear();
    }

private:
    QSqlDatabase m_db;
    QString m_head;
    QStringList m_rows;
};

// Regions, hospitals, brigades and workstations; then a year of journal ending now, day by day:
// most workstations send a package on most days (one in thirty fails), one in ten fell silent some
// weeks ago, one in fifty never sent one; a package is given to every workstation each month.
void fill(TDatabase &center, int workstations, int days, const QDateTime &now)
{
    const QSqlDatabase db = center.Sql();
    QRandomGenerator random(7);
    Exec(db, QStringLiteral("BEGIN"));
    {
        Inserter regions(db, QStringLiteral("INSERT INTO REGION (REGGID, REGNAME, REGOKATO)"));
        for (int r = 1; r <= 40; ++r)
            regions.Add(QStringLiteral("%1, 'Район %1', '52%1'").arg(r));
        Inserter hospitals(db, QStringLiteral("INSERT INTO HOSPITAL (HSPGID, IDMU, MU, REGGID)"));
        Inserter cities(db,
                        QStringLiteral("INSERT INTO CITY (CITYGID, CITYNAME, CITYSOATO, REGGID)"));
        Inserter brigades(db, QStringLiteral("INSERT INTO BRIGADE (BRGGID, BRGNAME, CITYGID)"));
        for (int h = 1; h <= workstations / 4; ++h) {
            hospitals.Add(QStringLiteral("%1, %1, 'ЛПУ %1', %2").arg(h).arg(h % 40 + 1));
            cities.Add(QStringLiteral("%1, 'Село %1', '%1', %2").arg(h).arg(h % 40 + 1));
            brigades.Add(QStringLiteral("%1, 'Бригада %1', %1").arg(h));
        }
        Inserter stations(
            db, QStringLiteral("INSERT INTO WORKSTATION (WSTGID, WSTNAME, HSPGID, BRGGID)"));
        for (int w = 1; w <= workstations; ++w)
            stations.Add(w % 5 == 0 ? QStringLiteral("%1, 'Станция %1', NULL, %2").arg(w).arg(w / 5)
                                    : QStringLiteral("%1, 'Станция %1', %2, NULL")
                                          .arg(w)
                                          .arg((w - 1) % (workstations / 4) + 1));
    }
    {
        Inserter runs(db, QStringLiteral("INSERT INTO IMPORTJOURNAL (RUNGID, PKGNAME, PKGSIZE, "
                                         "PKGLABEL, WSTGID, CENTRALUSER, OSUSER, STARTTIME, "
                                         "ENDTIME, RESULT)"));
        Inserter exports(db, QStringLiteral("INSERT INTO EXPORTJOURNAL (WSTGID, PKGNAME, PKGSIZE, "
                                            "STARTTIME, ENDTIME, RESULT)"));
        qint64 run = 0;
        // Day by day, as the journal grows: run numbers follow time.
        for (int d = days - 1; d >= 0; --d) {
            for (int w = 1; w <= workstations; ++w) {
                const int silentFor = w % 10 == 0 ? 20 + w % 40 : 0;
                const QDateTime start = now.addDays(-d).addSecs(-3600 - (w % 600) * 10);
                if (d % 30 == w % 30)
                    exports.Add(QStringLiteral("%1, 'export.s2w', 400000, %2, %3, 'успешно'")
                                    .arg(w)
                                    .arg(stamp(start.addSecs(-7200)), stamp(start.addSecs(-7000))));
                if (w % 50 == 0 || d < silentFor || random.bounded(10) >= 7)
                    continue;
                const bool failed = random.bounded(30) == 0;
                runs.Add(QStringLiteral(
                             "%1, 'p%1.w2s', 1500000, '%2_%1', %2, 'admin', 'zoru', %3, %4, '%5'")
                             .arg(++run)
                             .arg(w)
                             .arg(stamp(start), stamp(start.addSecs(120)),
                                  failed ? QStringLiteral("ошибка") : QStringLiteral("успешно")));
            }
        }
    }
    QStringList steps;
    for (int i = 0; i < kSteps.size(); ++i)
        steps << QStringLiteral("(%1, '%2')").arg(i + 1).arg(kSteps[i]);
    Exec(db, QStringLiteral("INSERT INTO IMPORTJOURNALTABLE (RUNGID, STEPNO, TABLENAME, NEWROWS, "
                            "EDITEDROWS, NEWMAPPINGS, REGISTRATIONS) "
                            "SELECT J.RUNGID, S.column1, S.column2, J.RUNGID % 37 + 3, "
                            "J.RUNGID % 5, 0, 0 FROM IMPORTJOURNAL J CROSS JOIN (VALUES ") +
                 steps.join(QLatin1Char(',')) + QStringLiteral(") S"));
    Exec(db, QStringLiteral("COMMIT"));
    if (center.IsServer())
        Exec(db, QStringLiteral("VACUUM ANALYZE")); // as autovacuum would after the load
}

// A new central database: an SQLite file in folder, or the server database of --postgres made
// anew. Its alias is written to the site's alias file.
void makeDatabase(const DemoOptions &options, const QString &site, TAliasStore &aliases)
{
    aliases.Load(site + QLatin1Char('/') + StrConst::AliasFileName);
    aliases.SetConfigMode(TAliasStore::ConfigMode::Persistent);
    if (!options.Postgres()) {
        QFile(site + QStringLiteral("/central.db")).open(QIODevice::WriteOnly);
        aliases.AddAlias(QStringLiteral("BENCH"), QStringLiteral("SQLITE"),
                         {QStringLiteral("DATABASE NAME=central.db")});
    } else {
        const QStringList target = options.parser.value(options.postgres).split(QLatin1Char(':'));
        {
            QSqlDatabase admin =
                QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
            admin.setHostName(target.value(0));
            admin.setPort(target.value(1).toInt());
            admin.setDatabaseName(QStringLiteral("postgres"));
            if (!admin.open(options.User(), options.Password()))
                throw EDBEngineError(engineMessage(admin.lastError()));
            Exec(admin,
                 QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(target.value(2)));
            Exec(admin, QStringLiteral("CREATE DATABASE %1 ENCODING 'UTF8' TEMPLATE template0")
                            .arg(target.value(2)));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("admin"));
        aliases.AddAlias(QStringLiteral("BENCH"), QStringLiteral("POSTGRESQL"),
                         {QStringLiteral("SERVER NAME=") + target.value(0),
                          QStringLiteral("PORT=") + target.value(1),
                          QStringLiteral("DATABASE NAME=") + target.value(2)});
    }
    aliases.SaveConfigFile();
    QDir(site).mkpath(QStringLiteral("io"));
    QFile ini(site + QStringLiteral("/zoru-admin.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[Settings]\r\nIsServer=1\r\nAIS_RODE_SRV_DB=BENCH\r\nUSERNAME=%1\r\n"
                             "AIS_RODE_IMPORT=io/\r\nAIS_RODE_EXPORT=io/\r\n")
                  .arg(options.Postgres() ? options.User() : QStringLiteral("admin"))
                  .toLatin1());
}

// First run and the median of the rounds that follow, with the peak memory of all of them.
struct Timing
{
    double first = 0;
    double median = 0;
    double peakMiB = 0;
};

template <typename Work> Timing measure(int rounds, Work work)
{
    ResetPeak();
    Timing t;
    std::vector<double> times;
    for (int r = 0; r <= rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        work();
        const double s = double(timer.nsecsElapsed()) / 1e9;
        if (r == 0)
            t.first = s;
        else
            times.push_back(s);
    }
    t.median = Median(times);
    t.peakMiB = PeakMiB();
    return t;
}

void report(const char *what, const Timing &t, double floor)
{
    Out() << QString::fromLatin1(what).leftJustified(38) << QString::number(t.first, 'f', 3)
          << " s first, " << QString::number(t.median, 'f', 3) << " s median, "
          << QString::number(t.median / floor, 'f', 1) << " x floor, peak "
          << QString::number(t.peakMiB, 'f', 0) << " MiB" << Qt::endl;
}

double runAdmin(const QString &site, const QStringList &args, const QString &password)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZORU_PASSWORD"), password);
    env.remove(QStringLiteral("DISPLAY"));
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/zoru-admin"),
            QStringList{QStringLiteral("--site"), site} + args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() == 1)
        throw Exception(QStringLiteral("zoru-admin failed: ") + args.join(QLatin1Char(' ')) +
                        QString::fromLocal8Bit(p.readAllStandardError()));
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    PinLocalTimeZone();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const DemoOptions options(parser);
    const QCommandLineOption workstationsOption(QStringLiteral("workstations"),
                                                QStringLiteral("Workstations."),
                                                QStringLiteral("N"), QStringLiteral("2000"));
    const QCommandLineOption daysOption(QStringLiteral("days"), QStringLiteral("Days of journal."),
                                        QStringLiteral("N"), QStringLiteral("365"));
    parser.addOptions({workstationsOption, daysOption});
    parser.process(app);
    const int workstations = std::max(parser.value(workstationsOption).toInt(), 8);
    const int days = std::max(parser.value(daysOption).toInt(), 1);
    const int rounds = std::max(options.Rounds(), 1);
    QTextStream &out = Out();
    try {
        QTemporaryDir site;
        TAliasStore aliases;
        makeDatabase(options, site.path(), aliases);
        TDatabase center(StrConst::CenterDatabaseName, &aliases);
        center.AliasName = QStringLiteral("BENCH");
        center.LoginPrompt = false;
        center.Params << QStringLiteral("USER NAME=") + options.User()
                      << QStringLiteral("PASSWORD=") + options.Password();
        center.Open();
        CreateSchema(center, SchemaKind::Central);
        const QDateTime now = TClock::Now();
        QElapsedTimer made;
        made.start();
        fill(center, workstations, days, now);
        out << "backend " << center.Driver() << ": " << workstations << " workstations" << Qt::endl;
        QSqlQuery counts =
            Exec(center, QStringLiteral("SELECT (SELECT COUNT(*) FROM IMPORTJOURNAL), (SELECT "
                                        "COUNT(*) FROM IMPORTJOURNALTABLE), "
                                        "(SELECT COUNT(*) FROM EXPORTJOURNAL)"));
        counts.next();
        out << "journal of " << days << " days: " << counts.value(0).toLongLong() << " imports, "
            << counts.value(1).toLongLong() << " table rows, " << counts.value(2).toLongLong()
            << " exports; made in " << double(made.elapsed()) / 1000.0 << " s" << Qt::endl
            << Qt::endl;

        const Timing floor = measure(rounds, [&] {
            QSqlQuery q = Exec(
                center,
                QStringLiteral(
                    "SELECT W.WSTGID, W.WSTNAME, H.MU, B.BRGNAME, R.REGNAME FROM WORKSTATION W "
                    "LEFT JOIN HOSPITAL H ON H.HSPGID = W.HSPGID LEFT JOIN BRIGADE B ON B.BRGGID = "
                    "W.BRGGID LEFT JOIN CITY C ON C.CITYGID = B.CITYGID LEFT JOIN REGION R ON "
                    "R.REGGID = COALESCE(H.REGGID, C.REGGID) ORDER BY W.WSTGID"));
            while (q.next()) {
            }
        });
        report("floor: workstations, one query", floor, floor.median);
        QList<TWorkstationState> states;
        const Timing read = measure(rounds, [&] {
            states = ReadWorkstationStates(center, TClock::Now(), DefaultSilentDays);
        });
        report("state of every workstation", read, floor.median);
        const Timing shown = measure(rounds, [&] {
            TWorkstationStateModel model;
            TWorkstationStateFilter filter;
            filter.setSourceModel(&model);
            model.SetStates(states);
            filter.SetSilentOnly(true);
            filter.sort(2);
            StateTableText(states, DefaultSilentDays);
        });
        report("table, silent filter, text", shown, floor.median);
        QList<int> ten, all;
        for (const TWorkstationState &s : std::as_const(states)) {
            all << s.WstGID;
            if (ten.size() < 10)
                ten << s.WstGID;
        }
        const Timing chartTen =
            measure(rounds, [&] { ImportedPersonsPerDay(center, ten, now.date()); });
        report("chart, 10 workstations", chartTen, floor.median);
        const Timing chartAll =
            measure(rounds, [&] { ImportedPersonsPerDay(center, all, now.date()); });
        report("chart, every workstation", chartAll, floor.median);
        const auto silent = std::count_if(states.begin(), states.end(),
                                          [](const TWorkstationState &s) { return s.Silent; });
        out << "  (" << states.size() << " rows, " << silent << " silent)" << Qt::endl;
        const double window = read.median + shown.median + chartTen.median;
        out << "window: rows, table and a chart of 10: " << QString::number(window, 'f', 3)
            << " s (target 0.5 s: " << (window <= 0.5 ? "met" : "NOT met") << ")" << Qt::endl;

        center.Close();
        const Timing version = measure(rounds, [&] {
            runAdmin(site.path(), {QStringLiteral("--version")}, options.Password());
        });
        const Timing status = measure(rounds, [&] {
            runAdmin(site.path(), {QStringLiteral("--status")}, options.Password());
        });
        out << Qt::endl;
        report("process floor: zoru-admin --version", version, version.median);
        report("zoru-admin --status", status, version.median);
        out << "--status (target 0.5 s: " << (status.median <= 0.5 ? "met" : "NOT met") << ")"
            << Qt::endl;
        PrintRatio(QStringLiteral("state of every workstation / floor"), read.median, floor.median);
        PrintRatio(QStringLiteral("--status / --version"), status.median, version.median);
    } catch (const Exception &e) {
        out << "failed: " << e.Message() << Qt::endl;
        return 1;
    }
    return 0;
}
