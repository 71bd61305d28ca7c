// Dry run against import of the same package, and zoru-admin --import-all against one
// zoru-admin --import per package, on a demo installation with an SQLite central database.
//
//   importruns_bench [persons per package] [packages in the batch]
//
// The dry run should not take longer than the import it checks; the batch should take no longer
// than the single imports together (it saves the start-up and log-in of each).

#include "benchsupport.h"
#include "core/localzone.h"
#include "import/importjob.h"
#include "installation.h"
#include "jobs/jobrunner.h"
#include "package.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

double runJob(const bench::DemoCentral &demo, const QString &package, bool dryRun)
{
    bench::SilentWindow w;
    QElapsedTimer t;
    t.start();
    const int code = RunJob(w, [&](const TJobContext &context) {
        auto job =
            std::make_unique<TImWorkstationToServer>(context, demo.info, demo.center, package);
        job->SetDryRun(dryRun);
        job->SetRepeatPolicy(TImWorkstationToServer::TRepeatPolicy::Force);
        return std::unique_ptr<TRplThread>(std::move(job));
    });
    if (code != 1)
        qFatal("the job failed");
    return double(t.elapsed()) / 1000.0;
}

double runAdmin(const QString &folder, const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZORU_PASSWORD"), QStringLiteral("x"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(folder + QStringLiteral("/zoru-admin"), args);
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        qFatal("zoru-admin %s failed", qPrintable(args.join(QLatin1Char(' '))));
    return double(t.elapsed()) / 1000.0;
}

} // namespace

int main(int argc, char *argv[])
{
    // As the program starts.
    PinLocalTimeZone();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Dry run against import of one package, and --import-all against one --import per "
        "package, on a demo installation with an SQLite central database."));
    parser.addPositionalArgument(QStringLiteral("persons"),
                                 QStringLiteral("Persons per package (2000)."),
                                 QStringLiteral("[persons]"));
    parser.addPositionalArgument(QStringLiteral("packages"),
                                 QStringLiteral("Packages in the batch (3)."),
                                 QStringLiteral("[packages]"));
    parser.addHelpOption();
    bench::ParseCommandLine(parser, app.arguments(), 2);
    const QStringList args = parser.positionalArguments();
    const int persons = bench::PositiveNumber(parser, args.value(0, QStringLiteral("2000")),
                                              QStringLiteral("persons"));
    const int batch = bench::PositiveNumber(parser, args.value(1, QStringLiteral("3")),
                                            QStringLiteral("packages"));
    const QString bin = QCoreApplication::applicationDirPath();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("installation"));
    demo::Options options;
    options.folder = folder;
    options.scale = 0.2;
    demo::CreateInstallation(options);
    for (const QString &tool : {QStringLiteral("zoru-admin"), QStringLiteral("zoru-arc")})
        QFile::copy(bin + QLatin1Char('/') + tool, folder + QLatin1Char('/') + tool);

    auto central = std::make_unique<bench::DemoCentral>(folder, QStringLiteral("admin"), QString());

    demo::PackageOptions po;
    po.folder = folder;
    po.persons = persons;
    const QString first = demo::WritePackage(po).firstVolume;
    const bench::KeptPackage kept(first);
    const double dry = runJob(*central, first, true);
    const double real = runJob(*central, first, false);
    kept.Restore();
    const double again = runJob(*central, first, false);
    std::printf("package of %d persons: dry run %.2f s, import %.2f s (new rows), import again "
                "%.2f s (edited rows)\n",
                persons, dry, real, again);
    bench::PrintRatio(QStringLiteral("dry run / import"), dry, real);

    // Singles, each in its own process, then as many packages of the same size as one batch
    // (new rows both times).
    central.reset();
    const auto write = [&](int seed) {
        po.seed = quint64(seed);
        return demo::WritePackage(po).firstVolume;
    };
    double singles = 0;
    for (int i = 0; i < batch; ++i)
        singles += runAdmin(folder, {QStringLiteral("--import"), write(100 + i)});
    for (int i = 0; i < batch; ++i)
        write(200 + i);
    const double all = runAdmin(folder, {QStringLiteral("--import-all")});
    std::printf("%d packages: one --import each %.2f s in all, --import-all %.2f s\n", batch,
                singles, all);
    bench::PrintRatio(QStringLiteral("--import-all / one --import each"), all, singles);
    return 0;
}
