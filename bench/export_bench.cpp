// Export to a brigade workstation linked to 50 hospitals, on a demo central database at a given
// scale, against the floor of the same work: the same rows read by plain forward-only statements
// (the engine's statement class: on SQLite the library's own handle) into the package's column
// types, written by the Paradox module directly, then the folder packed by the archiver.
//
//   export_bench [--scale 10] [--rounds 5] [--postgres host:port:dbname --user U --password P]
//
// Prints the times, their ratio and the peak memory of each phase.

#include "benchsupport.h"
#include "core/localzone.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/paradox/paradoxtable.h"
#include "engine/statement.h"
#include "export/exportjob.h"
#include "jobs/jobrunner.h"
#include "package/archiver.h"
#include "package/packagetables.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

using namespace bench;

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
    // As the program starts.
    PinLocalTimeZone();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const DemoOptions options(parser);
    options.Parse(app.arguments());
    QTextStream &out = Out();

    try {
        QTemporaryDir dir;
        const QString folder = dir.path();
        CopyArchiver(folder);
        const double demoSeconds = MakeDemo(options.DemoArgs(folder));
        out << "demo installation at scale " << options.Scale() << ": " << demoSeconds << " s"
            << Qt::endl;

        DemoCentral demo(folder, options.User(), options.Password());
        TDatabase &center = demo.center;
        {
            QSqlQuery q(center.Sql());
            q.exec(QStringLiteral(
                "INSERT INTO BRIGADE (BRGGID, BRGNAME) VALUES (900000, 'Бригада для замера')"));
            q.exec(QStringLiteral("INSERT INTO BRIGHSP (HSPGID, BRGGID) SELECT HSPGID, 900000 FROM "
                                  "HOSPITAL ORDER BY HSPGID LIMIT 50"));
            q.exec(QStringLiteral("INSERT INTO WORKSTATION (WSTGID, WSTNAME, BRGGID) VALUES "
                                  "(900000, 'АРМ замера', 900000)"));
        }

        // The floor reads the same rows with plain forward-only queries into the package's
        // column types, writes them with the Paradox module directly and packs the folder.
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
        qint64 rowCount = 0;
        const auto runFloor = [&](const QString &floorFolder) {
            std::vector<Table> tables;
            rowCount = 0;
            for (const QString &t : demo.info.SrvToWstTables()) {
                const auto filter =
                    TExServerToWorkstation::SelectionFilter(t.toUpper(), 900000, b, h, QVariant());
                const QString name = [&] {
                    for (const QString &n : TSIEDM::SrvToWstTableNames())
                        if (n.compare(t, Qt::CaseInsensitive) == 0)
                            return n;
                    return t;
                }();
                Table table{
                    name,
                    paradox::TableReader(templ.filePath(name + QStringLiteral(".db"))).schema(),
                    {}};
                if (filter) {
                    // The engine's statement: on SQLite the library's own handle.
                    engine::TStatement q(center.Sql(), QStringLiteral("SELECT * FROM ") +
                                                           t.toUpper() + QLatin1Char(' ') +
                                                           *filter);
                    q.exec({});
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
            QDir().mkpath(floorFolder);
            for (const QString &name : TSIEDM::SrvToWstTableNames()) {
                const QString path = floorFolder + QLatin1Char('/') + name + QStringLiteral(".db");
                const auto it = std::find_if(tables.begin(), tables.end(),
                                             [&](const Table &t) { return t.name == name; });
                if (it != tables.end())
                    paradox::writeTable(path, it->schema, it->rows);
                else
                    paradox::createEmptyTable(
                        path, paradox::TableReader(templ.filePath(name + QStringLiteral(".db")))
                                  .schema());
            }
            if (PackFolder(demo.info.AppFolder(), floorFolder, QStringLiteral("floor"),
                           QStringLiteral("floor.s2w")) != 0)
                throw Exception(QStringLiteral("packing failed"));
        };

        // Rounds of the export as the program runs it and of its floor, in turn, so that both
        // see the same state of the machine; the medians are compared.
        std::vector<double> exportTimes, exportCpus, floorTimes, floorCpus;
        double exportPeak = 0, floorPeak = 0;
        for (int round = 0; round < options.Rounds(); ++round) {
            QDir(demo.info.ExportPath).removeRecursively();
            QDir().mkpath(demo.info.ExportPath);
            ResetPeak();
            QElapsedTimer timer;
            timer.start();
            double cpu0 = CpuSeconds(true);
            SilentWindow window;
            const int result = RunJob(window, [&demo](const TJobContext &context) {
                return std::make_unique<TExServerToWorkstation>(context, demo.info, demo.center,
                                                                900000);
            });
            exportTimes.push_back(timer.elapsed() / 1000.0);
            exportCpus.push_back(CpuSeconds(true) - cpu0);
            exportPeak = std::max(exportPeak, PeakMiB());
            if (result != 1)
                throw Exception(QStringLiteral("export failed: ") +
                                window.lines.join(QLatin1Char('\n')));

            QTemporaryDir floorDir;
            ResetPeak();
            timer.restart();
            cpu0 = CpuSeconds(true);
            runFloor(floorDir.filePath(QStringLiteral("package")));
            floorTimes.push_back(timer.elapsed() / 1000.0);
            floorCpus.push_back(CpuSeconds(true) - cpu0);
            floorPeak = std::max(floorPeak, PeakMiB());
        }
        const double exportSeconds = Median(exportTimes), exportCpu = Median(exportCpus);
        const double floorSeconds = Median(floorTimes), floorCpu = Median(floorCpus);

        out << Qt::endl
            << "backend            " << center.Driver() << Qt::endl
            << "rows exported      " << rowCount << Qt::endl
            << "rounds             " << options.Rounds() << " (medians below)" << Qt::endl
            << "export             " << exportSeconds << " s, cpu " << exportCpu << " s, peak "
            << exportPeak << " MiB" << Qt::endl
            << "floor              " << floorSeconds << " s, cpu " << floorCpu << " s, peak "
            << floorPeak << " MiB (plain read, direct write, pack)" << Qt::endl
            << "ratio              " << (floorSeconds > 0 ? exportSeconds / floorSeconds : 0)
            << " (cpu " << (floorCpu > 0 ? exportCpu / floorCpu : 0) << ")" << Qt::endl;
        PrintRatio(QStringLiteral("export / floor"), exportSeconds, floorSeconds);
    } catch (const Exception &e) {
        QTextStream(stderr) << e.Message() << Qt::endl;
        return 1;
    }
    return 0;
}
