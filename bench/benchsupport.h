#pragma once

// What the benchmarks share: memory and CPU readings, a job window that keeps the messages to
// itself, the demo installation made by zoru-demo and opened as the program opens it.

#include "core/aliases.h"
#include "core/appinfo.h"
#include "engine/database.h"
#include "jobs/jobwindow.h"

#include <QCommandLineOption>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <functional>
#include <vector>

class QCommandLineParser;

namespace bench {

// Standard output, for the reports.
QTextStream &Out();

// Peak resident memory of the process in MiB since the last ResetPeak() (Linux).
double PeakMiB();
void ResetPeak();

// CPU seconds (user and system) of this process so far, and of the children it waited for when
// asked: on a busy machine the wall time says more about the neighbours than about the code.
double CpuSeconds(bool withChildren = false);

// The middle value (the mean of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> values);

// Runs a statement, forward only; throws EDBEngineError with the engine's message.
QSqlQuery Exec(const QSqlDatabase &db, const QString &sql);
QSqlQuery Exec(TDatabase &db, const QString &sql);

// A job window that only keeps the messages. Progress lines ("N записей обработано", one per
// ten rows of a large table) are counted, not kept: a transcript growing with the rows would
// show in the peak memory of the job measured beside it.
class SilentWindow : public TJobWindow
{
public:
    void PrepareForJob(std::stop_source) override {}
    void SetCaption(const QString &) override {}
    void ClearMessages() override {}
    void AddMessage(const QString &line) override
    {
        if (line.endsWith(QStringLiteral(" записей обработано")))
            ++progressLines;
        else
            lines << line;
    }
    void SetGauge(int) override {}
    void JobFinished(int) override {}
    QStringList lines;
    qint64 progressLines = 0;
};

// A benchmark's measure against its floor, on a line of its own: "ratio <what>: <work / floor>".
// Every benchmark prints at least one such line (the smoke run of CI looks for it).
void PrintRatio(const QString &what, double work, double floor);

// What a phase run in a child process gave back: the seconds the work returned and the child's
// peak resident memory.
struct ChildPhase
{
    double seconds = 0;
    long peakKiB = 0;
};

// Runs work in a child process, so that its peak memory is its own: work returns the seconds it
// measured. Throws Exception when the child failed (an exception in work ends it with status 1,
// its message on standard error).
ChildPhase RunInChild(const std::function<double()> &work);

// Runs a program of the benchmark's own folder; throws when it fails. Its standard output,
// trimmed (its errors go to ours).
QString RunProgram(const QString &program, const QStringList &args);

// Copies the archiver of the benchmark's own folder into a program folder.
void CopyArchiver(const QString &folder);

// The arguments of zoru-demo for an installation in folder; target "host:port:dbname" puts
// the databases on a server, empty leaves them in SQLite files.
QStringList DemoArgs(const QString &folder, const QString &scale, const QString &target,
                     const QString &user, const QString &password);

// Reads a benchmark's command line into parser, which holds its options (the help option among
// them) and names at most `positional` positional arguments: --help prints the usage and ends the
// program with 0; an unknown option, a missing value or one positional argument too many prints
// the error and the usage on standard error and ends it with 2.
void ParseCommandLine(QCommandLineParser &parser, const QStringList &arguments,
                      qsizetype positional = 0);
// Ends the program as ParseCommandLine does for a wrong command line.
[[noreturn]] void UsageError(const QCommandLineParser &parser, const QString &message);
// text as a whole number above 0; a UsageError naming what otherwise.
int PositiveNumber(const QCommandLineParser &parser, const QString &text, const QString &what);

// --scale, --rounds, --postgres host:port:dbname, --user and --password, for the benchmarks that
// make one demo installation.
struct DemoOptions
{
    explicit DemoOptions(QCommandLineParser &parser);
    // ParseCommandLine, then a scale and a number of rounds above 0 (UsageError otherwise).
    void Parse(const QStringList &arguments) const;
    QStringList DemoArgs(const QString &folder) const;
    QString Scale() const;
    int Rounds() const;
    bool Postgres() const;
    QString User() const;
    QString Password() const;

    QCommandLineParser &parser;
    const QCommandLineOption scale;
    const QCommandLineOption rounds;
    const QCommandLineOption postgres;
    const QCommandLineOption user;
    const QCommandLineOption password;
};

// Makes the demo installation by zoru-demo, so that its memory does not count; the seconds it
// took.
double MakeDemo(const QStringList &demoArgs);

// A demo installation opened as the program opens it: the aliases, the program's settings (made
// the AppInfo, with the import and export folders read) and the central database, open and made
// the jobs' central database. Both are cleared again when this goes.
class DemoCentral
{
public:
    DemoCentral(const QString &folder, const QString &user, const QString &password);
    ~DemoCentral();
    DemoCentral(const DemoCentral &) = delete;
    DemoCentral &operator=(const DemoCentral &) = delete;

    TAliasStore aliases;
    TAppInfo info;
    TDatabase center;

private:
    void open(const QString &user, const QString &password);
};

// The files of a package's folder, kept aside so that they can be put back after the import
// has deleted them.
class KeptPackage
{
public:
    explicit KeptPackage(const QString &firstVolume);
    void Restore() const;

private:
    QString m_folder;
    QTemporaryDir m_copy;
};

} // namespace bench
