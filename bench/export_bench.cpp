// Export to a brigade workstation linked to 50 hospitals, on a demo central database at a given
// scale, against the floor of the same work: the same rows, already in memory in the package's
// column types, written by the Paradox module directly, then the folder packed by the archiver.
//
//   export_bench [--scale 10] [--postgres host:port:dbname --user U --password P]
//
// Prints the times, their ratio and the peak memory of each phase.

#include "core/appinfo.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "data/exserver.h"
#include "data/siedm.h"
#include "engine/database.h"
#include "engine/paradox/paradoxtable.h"
#include "replication/archive.h"
#include "replication/consolejobwindow.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <sys/resource.h>

namespace {

QTextStream out(stdout);

// Peak resident memory of the process in MiB; ResetPeak starts a new phase (Linux).
double peakMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// CPU seconds of this process and of the children it waited for (the archiver): on a busy
// machine the wall time says more about the neighbours than about the code.
double cpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                 static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

class SilentWindow : public TJobWindow
{
public:
    void PrepareForJob() override {}
    void SetCaption(const QString &) override {}
    void ClearMessages() override {}
    void AddMessage(const QString &line) override { lines << line; }
    void SetGauge(int) override {}
    void JobFinished(int) override {}
    QStringList lines;
};

QVariant toPackage(const QVariant &v, const paradox::Field &f)
{
    if (!v.isValid() || v.isNull())
        return {};
    switch (f.type) {
    case paradox::FieldType::Long:
    case paradox::FieldType::Short:
        return v.toInt();
    case paradox::FieldType::Number:
        return v.toDouble();
    case paradox::FieldType::Logical:
        return v.toDouble() != 0;
    case paradox::FieldType::Timestamp:
        return v.toDateTime();
    case paradox::FieldType::Date:
        return v.toDate();
    default:
        return v.toString().left(f.size);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption scaleOption(QStringLiteral("scale"), QStringLiteral("Demo scale."),
                                         QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption pgOption(QStringLiteral("postgres"),
                                      QStringLiteral("host:port:dbname"), QStringLiteral("target"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("Server user."),
                                        QStringLiteral("user"));
    const QCommandLineOption passwordOption(
        QStringLiteral("password"), QStringLiteral("Server password."), QStringLiteral("password"));
    parser.addOptions({scaleOption, pgOption, userOption, passwordOption});
    parser.addHelpOption();
    parser.process(app);

    try {
        QTemporaryDir dir;
        const QString folder = dir.path();
        const QString arc =
            QCoreApplication::applicationDirPath() + QLatin1Char('/') + ArchiverProgram();
        QFile::copy(arc, folder + QLatin1Char('/') + ArchiverProgram());
        QFile::setPermissions(folder + QLatin1Char('/') + ArchiverProgram(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // The demo installation is made by its own program, so that its memory does not count.
        QStringList demoArgs{QStringLiteral("--folder"), folder, QStringLiteral("--scale"),
                             parser.value(scaleOption)};
        if (parser.isSet(pgOption))
            demoArgs << QStringLiteral("--postgres") << parser.value(pgOption)
                     << QStringLiteral("--user") << parser.value(userOption)
                     << QStringLiteral("--password") << parser.value(passwordOption);
        QElapsedTimer setup;
        setup.start();
        QProcess demo;
        demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        demo.start(QCoreApplication::applicationDirPath() + QStringLiteral("/zoru-demo"), demoArgs);
        if (!demo.waitForFinished(-1) || demo.exitCode() != 0)
            throw Exception(QStringLiteral("zoru-demo failed"));
        out << "demo installation at scale " << parser.value(scaleOption) << ": "
            << setup.elapsed() / 1000.0 << " s" << Qt::endl;

        TAliasStore aliases(folder + QLatin1Char('/') + StrConst::AliasFileName);
        TAppInfo info(folder + QStringLiteral("/zoru-admin"), aliases);
        AppInfo = &info;
        info.RegisterAliases();
        info.ExportPath = paths::includeTrailing(
            info.ReadString(StrConst::SettingsSection, StrConst::ExportKey, {}));

        TDatabase center(StrConst::CenterDatabaseName, &aliases);
        center.AliasName = info.SrvDBAlias();
        center.LoginPrompt = false;
        center.Params = {QStringLiteral("USER NAME=") + parser.value(userOption),
                         QStringLiteral("PASSWORD=") + parser.value(passwordOption)};
        center.Open();
        {
            QSqlQuery q(center.Sql());
            q.exec(QStringLiteral(
                "INSERT INTO BRIGADE (BRGGID, BRGNAME) VALUES (900000, 'Бригада для замера')"));
            q.exec(QStringLiteral("INSERT INTO BRIGHSP (HSPGID, BRGGID) SELECT HSPGID, 900000 FROM "
                                  "HOSPITAL ORDER BY HSPGID LIMIT 50"));
            q.exec(QStringLiteral("INSERT INTO WORKSTATION (WSTGID, WSTNAME, BRGGID) VALUES "
                                  "(900000, 'АРМ замера', 900000)"));
        }
        SetCentralDatabase(&center);

        // The export as the program runs it.
        resetPeak();
        QElapsedTimer timer;
        timer.start();
        double cpu0 = cpuSeconds();
        SilentWindow window;
        const int result = RunJob(window, [](TJobWindow &w) {
            return std::make_unique<TExServerToWorkstation>(w, 900000);
        });
        const double exportSeconds = timer.elapsed() / 1000.0;
        const double exportCpu = cpuSeconds() - cpu0;
        const double exportPeak = peakMiB();
        if (result != 1)
            throw Exception(QStringLiteral("export failed: ") +
                            window.lines.join(QLatin1Char('\n')));

        // The same rows in memory, in the package's column types (not timed).
        QTemporaryDir templ;
        TDatabase templDb(QStringLiteral("Template"));
        templDb.OpenFolder(templ.path());
        TSIEDM::RunRplGen(templDb);
        QSqlQuery pick(center.Sql());
        pick.exec(QStringLiteral("SELECT BRGGID, HSPGID FROM WORKSTATION WHERE WSTGID = 900000"));
        pick.next();
        const QVariant b = pick.value(0), h = pick.value(1);
        struct Table
        {
            QString name;
            paradox::Schema schema;
            std::vector<paradox::Row> rows;
        };
        std::vector<Table> tables;
        qint64 rowCount = 0;
        for (const QString &t : info.SrvToWstTables()) {
            const auto filter =
                TExServerToWorkstation::SelectionFilter(t.toUpper(), 900000, b, h, QVariant());
            const QString name = [&] {
                for (const QString &n : TSIEDM::SrvToWstTableNames())
                    if (n.compare(t, Qt::CaseInsensitive) == 0)
                        return n;
                return t;
            }();
            Table table{name,
                        paradox::TableReader(templ.filePath(name + QStringLiteral(".db"))).schema(),
                        {}};
            if (filter) {
                QSqlQuery q(center.Sql());
                q.setForwardOnly(true);
                q.exec(QStringLiteral("SELECT * FROM ") + t.toUpper() + QLatin1Char(' ') + *filter);
                while (q.next()) {
                    paradox::Row row;
                    for (size_t i = 0; i < table.schema.fields.size(); ++i)
                        row.push_back(toPackage(q.value(int(i)), table.schema.fields[i]));
                    table.rows.push_back(std::move(row));
                }
            }
            rowCount += qint64(table.rows.size());
            tables.push_back(std::move(table));
        }

        // The floor: write and pack.
        QTemporaryDir floorDir;
        const QString floorFolder = floorDir.filePath(QStringLiteral("package"));
        QDir().mkpath(floorFolder);
        resetPeak();
        timer.restart();
        cpu0 = cpuSeconds();
        for (const QString &name : TSIEDM::SrvToWstTableNames()) {
            const auto it = std::find_if(tables.begin(), tables.end(),
                                         [&](const Table &t) { return t.name == name; });
            if (it != tables.end())
                paradox::writeTable(floorFolder + QLatin1Char('/') + name + QStringLiteral(".db"),
                                    it->schema, it->rows);
            else
                paradox::createEmptyTable(
                    floorFolder + QLatin1Char('/') + name + QStringLiteral(".db"),
                    paradox::TableReader(templ.filePath(name + QStringLiteral(".db"))).schema());
        }
        if (PackFolder(info.AppFolder(), floorFolder, QStringLiteral("floor"),
                       QStringLiteral("floor.s2w")) != 0)
            throw Exception(QStringLiteral("packing failed"));
        const double floorSeconds = timer.elapsed() / 1000.0;
        const double floorCpu = cpuSeconds() - cpu0;
        const double floorPeak = peakMiB();

        out << Qt::endl
            << "backend            " << center.Driver() << Qt::endl
            << "rows exported      " << rowCount << Qt::endl
            << "export             " << exportSeconds << " s, cpu " << exportCpu << " s, peak "
            << exportPeak << " MiB" << Qt::endl
            << "floor (write+pack) " << floorSeconds << " s, cpu " << floorCpu << " s, peak "
            << floorPeak << " MiB (rows already in memory)" << Qt::endl
            << "ratio              " << (floorSeconds > 0 ? exportSeconds / floorSeconds : 0)
            << " (cpu " << (floorCpu > 0 ? exportCpu / floorCpu : 0) << ")" << Qt::endl;
        SetCentralDatabase(nullptr);
        AppInfo = nullptr;
    } catch (const Exception &e) {
        QTextStream(stderr) << e.Message() << Qt::endl;
        return 1;
    }
    return 0;
}
