#include "benchsupport.h"

#include "core/errors.h"
#include "core/paths.h"
#include "core/sitefolder.h"
#include "core/strconst.h"
#include "jobs/serverjob.h"
#include "package/archiver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlError>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

namespace {

void copyFiles(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    for (const QFileInfo &fi : QDir(from).entryInfoList(QDir::Files)) {
        QFile::remove(to + QLatin1Char('/') + fi.fileName());
        if (!QFile::copy(fi.filePath(), to + QLatin1Char('/') + fi.fileName()))
            throw Exception(QStringLiteral("cannot copy ") + fi.filePath());
    }
}

} // namespace

QTextStream &Out()
{
    static QTextStream out(stdout);
    return out;
}

double PeakMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

void ResetPeak()
{
    // Memory freed by earlier work goes back to the system first, so that it does not count in
    // the peak of what follows.
    malloc_trim(0);
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

double CpuSeconds(bool withChildren)
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        if (who == RUSAGE_CHILDREN && !withChildren)
            break;
        rusage u{};
        getrusage(who, &u);
        total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                 static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

QSqlQuery Exec(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql))
        throw EDBEngineError(engineMessage(q.lastError()), sql);
    return q;
}

QSqlQuery Exec(TDatabase &db, const QString &sql)
{
    return Exec(db.Sql(), sql);
}

void PrintRatio(const QString &what, double work, double floor)
{
    Out() << "ratio " << what << ": " << QString::number(work / floor, 'g', 3) << Qt::endl;
}

ChildPhase RunInChild(const std::function<double()> &work)
{
    std::fflush(stdout);
    Out().flush();
    int fds[2];
    if (pipe(fds) != 0)
        throw Exception(QStringLiteral("cannot make a pipe"));
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        double seconds = 0;
        try {
            seconds = work();
        } catch (const Exception &e) {
            std::fprintf(stderr, "%s\n", e.what());
            _exit(1);
        }
        std::fflush(stdout);
        const bool written = write(fds[1], &seconds, sizeof seconds) == sizeof seconds;
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    ChildPhase phase;
    const bool read =
        pid > 0 && ::read(fds[0], &phase.seconds, sizeof phase.seconds) == sizeof phase.seconds;
    close(fds[0]);
    int status = 0;
    rusage usage{};
    if (pid > 0)
        wait4(pid, &status, 0, &usage);
    if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw Exception(QStringLiteral("a phase failed in its child process"));
    phase.peakKiB = usage.ru_maxrss;
    return phase;
}

QString RunProgram(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationDirPath() + QLatin1Char('/') + program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw Exception(program + QStringLiteral(" failed: ") + args.join(QLatin1Char(' ')));
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void CopyArchiver(const QString &folder)
{
    const QString target = folder + QLatin1Char('/') + ArchiverProgram();
    QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/') + ArchiverProgram(),
                target);
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList DemoArgs(const QString &folder, const QString &scale, const QString &target,
                     const QString &user, const QString &password)
{
    QStringList args{QStringLiteral("--folder"), folder, QStringLiteral("--scale"), scale};
    // The server's database is the benchmark's scratch: an earlier run's demo is overwritten.
    if (!target.isEmpty())
        args << QStringLiteral("--postgres") << target << QStringLiteral("--user") << user
             << QStringLiteral("--password") << password << QStringLiteral("--force");
    return args;
}

DemoOptions::DemoOptions(QCommandLineParser &p)
    : parser(p), scale(QStringLiteral("scale"), QStringLiteral("Demo scale."), QStringLiteral("N"),
                       QStringLiteral("10")),
      rounds(QStringLiteral("rounds"), QStringLiteral("Rounds of the work and its floor."),
             QStringLiteral("N"), QStringLiteral("5")),
      postgres(QStringLiteral("postgres"),
               QStringLiteral("host:port:dbname, a scratch database (its demo is overwritten)"),
               QStringLiteral("target")),
      user(QStringLiteral("user"), QStringLiteral("Server user."), QStringLiteral("user")),
      password(QStringLiteral("password"), QStringLiteral("Server password."),
               QStringLiteral("password"))
{
    parser.addOptions({scale, rounds, postgres, user, password});
    parser.addHelpOption();
}

void ParseCommandLine(QCommandLineParser &parser, const QStringList &arguments,
                      qsizetype positional)
{
    if (!parser.parse(arguments))
        UsageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        QTextStream(stdout) << parser.helpText();
        std::exit(0);
    }
    if (parser.positionalArguments().size() > positional)
        UsageError(parser, QStringLiteral("Unexpected argument '%1'.")
                               .arg(parser.positionalArguments().at(positional)));
}

void UsageError(const QCommandLineParser &parser, const QString &message)
{
    QTextStream(stderr) << QCoreApplication::applicationName() << ": " << message << Qt::endl
                        << Qt::endl
                        << parser.helpText();
    std::exit(2);
}

int PositiveNumber(const QCommandLineParser &parser, const QString &text, const QString &what)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n <= 0)
        UsageError(parser,
                   QStringLiteral("%1 must be a whole number above 0, not '%2'.").arg(what, text));
    return n;
}

void DemoOptions::Parse(const QStringList &arguments) const
{
    ParseCommandLine(parser, arguments);
    bool ok = false;
    if (!(parser.value(scale).toDouble(&ok) > 0) || !ok)
        UsageError(
            parser,
            QStringLiteral("--scale must be a number above 0, not '%1'.").arg(parser.value(scale)));
    PositiveNumber(parser, parser.value(rounds), QStringLiteral("--rounds"));
}

QStringList DemoOptions::DemoArgs(const QString &folder) const
{
    return bench::DemoArgs(folder, Scale(), Postgres() ? parser.value(postgres) : QString(), User(),
                           Password());
}

QString DemoOptions::Scale() const
{
    return parser.value(scale);
}

int DemoOptions::Rounds() const
{
    return parser.value(rounds).toInt();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool DemoOptions::Postgres() const
{
    return parser.isSet(postgres);
}

QString DemoOptions::User() const
{
    return parser.value(user);
}

QString DemoOptions::Password() const
{
    return parser.value(password);
}

double MakeDemo(const QStringList &demoArgs)
{
    QElapsedTimer timer;
    timer.start();
    RunProgram(QStringLiteral("zoru-demo"), demoArgs);
    return timer.elapsed() / 1000.0;
}

DemoCentral::DemoCentral(const QString &folder, const QString &user, const QString &password)
    : aliases(folder + QLatin1Char('/') + StrConst::AliasFileName),
      info(folder + QStringLiteral("/zoru-admin"), aliases),
      center(StrConst::CenterDatabaseName, &aliases)
{
    AppInfo = &info;
    try {
        open(user, password);
    } catch (...) {
        AppInfo = nullptr;
        throw;
    }
}

void DemoCentral::open(const QString &user, const QString &password)
{
    info.RegisterAliases();
    // The demo writes the site's folders relative to the site, as the program reads them.
    const auto folder = [this](const QString &key) {
        return paths::includeTrailing(
            SitePath(info.SiteFolder(), info.ReadString(StrConst::SettingsSection, key, {})));
    };
    info.ImportPath = folder(StrConst::ImportKey);
    info.ExportPath = folder(StrConst::ExportKey);
    center.AliasName = info.SrvDBAlias();
    center.LoginPrompt = false;
    center.Params = {QStringLiteral("USER NAME=") + user, QStringLiteral("PASSWORD=") + password};
    center.Open();
}

DemoCentral::~DemoCentral()
{
    AppInfo = nullptr;
}

KeptPackage::KeptPackage(const QString &firstVolume)
    : m_folder(QFileInfo(firstVolume).absolutePath())
{
    copyFiles(m_folder, m_copy.path());
}

void KeptPackage::Restore() const
{
    copyFiles(m_copy.path(), m_folder);
}

} // namespace bench
