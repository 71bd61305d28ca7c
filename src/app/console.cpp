#include "app/console.h"

#include "app/commandline.h"
#include "app/consoleimport.h"
#include "app/consolestatus.h"
#include "app/startup.h"
#include "core/appinfo.h"
#include "core/errors.h"
#include "core/sitefolder.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "export/exportjob.h"
#include "import/importjob.h"
#include "jobs/consolewindow.h"
#include "jobs/jobframe.h"
#include "sync/syncjob.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <variant>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

QTextStream &ConsoleOut()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &ConsoleErr()
{
    static QTextStream stream(stderr);
    return stream;
}

namespace {

// Reads a line from the terminal without showing it.
QString readHiddenLine()
{
    std::string line;
#ifdef Q_OS_WIN
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(in, &mode);
    if (console)
        SetConsoleMode(in, mode & ~ENABLE_ECHO_INPUT);
    std::getline(std::cin, line);
    if (console)
        SetConsoleMode(in, mode);
#else
    termios old{};
    const bool tty = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &old) == 0;
    if (tty) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::getline(std::cin, line);
    if (tty)
        tcsetattr(STDIN_FILENO, TCSANOW, &old);
#endif
    ConsoleErr() << Qt::endl;
    return QString::fromLocal8Bit(line.c_str());
}

bool stdinIsTerminal()
{
#ifdef Q_OS_WIN
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
#else
    return isatty(STDIN_FILENO);
#endif
}

// The log-in prompt of the command line: the password from the environment (each database its
// own variable), or asked on the terminal; without either it is empty (a server that wants one
// then refuses with its message).
bool consoleLogin(const QString &database, QString &user, QString &password)
{
    const bool esvs = database.compare(QLatin1String("ESVS"), Qt::CaseInsensitive) == 0;
    const char *variable = esvs ? EsvsPasswordVariable : PasswordVariable;
    if (qEnvironmentVariableIsSet(variable)) {
        password = qEnvironmentVariable(variable);
        return true;
    }
    if (!stdinIsTerminal()) {
        password.clear();
        return true;
    }
    ConsoleErr() << (esvs ? QStringLiteral("Пароль пользователя \"%1\" базы данных ЕСВС (%2): ")
                          : QStringLiteral("Пароль пользователя \"%1\" базы данных %2: "))
                        .arg(user, database)
                 << Qt::flush;
    password = readHiddenLine();
    return true;
}

// Without a terminal (a scheduled run) nothing can be asked: a database on a server then needs
// its password in the environment, and its absence is an error of its own, not a refusal by
// the server. A variable set to an empty text is a password given (peer authentication).
void requirePasswordSource(const TAliasStore &aliases, const QString &alias, const char *variable)
{
    if (qEnvironmentVariableIsSet(variable) || stdinIsTerminal() ||
        !TDatabase::IsServerAlias(aliases, alias))
        return;
    const bool esvs = variable == EsvsPasswordVariable;
    throw EDatabaseError(QStringLiteral("Пароль %1 (псевдоним %2) не задан: без терминала он "
                                        "берётся из переменной окружения %3")
                             .arg(esvs ? QStringLiteral("базы данных ЕСВС")
                                       : QStringLiteral("центральной базы данных"),
                                  alias, QString::fromLatin1(variable)));
}

// Options that Qt takes for itself (the platform plug-in, style, window geometry, X11 display,
// ...): they keep the desktop program and are no business of the command line. Given as "-name",
// "--name", "-name=value" or "-name value".
QStringList withoutQtOptions(const QStringList &args)
{
    static const QStringList withValue =
        QStringLiteral("platform platformpluginpath platformtheme plugin qwindowgeometry "
                       "qwindowicon qwindowtitle session style stylesheet display geometry name "
                       "title visual qmljsdebugger")
            .split(QLatin1Char(' '));
    static const QStringList flags =
        QStringLiteral("reverse widgetcount nograb dograb testability").split(QLatin1Char(' '));
    QStringList out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (!a.startsWith(QLatin1Char('-'))) {
            out << a;
            continue;
        }
        QString name = a.mid(a.startsWith(QLatin1String("--")) ? 2 : 1);
        const bool valueAttached = name.contains(QLatin1Char('='));
        name = name.section(QLatin1Char('='), 0, 0);
        if (withValue.contains(name)) {
            if (!valueAttached)
                ++i;
        } else if (!flags.contains(name)) {
            out << a;
        }
    }
    return out;
}

// The signal that asked the running command-line job to stop (0: none). Set by the handler
// itself, which may do nothing else; the user-interface thread polls it.
std::atomic_int stopSignal{0};
static_assert(std::atomic_int::is_always_lock_free);

void noteStopSignal(int signal)
{
    stopSignal.store(signal);
}

// While alive, SIGINT and SIGTERM only note themselves (see RunConsoleJob) and writing to a
// closed pipe is not fatal; the former handlers come back afterwards.
class StopSignals
{
public:
    StopSignals()
    {
        stopSignal.store(0);
        m_int = std::signal(SIGINT, noteStopSignal);
        m_term = std::signal(SIGTERM, noteStopSignal);
#ifdef SIGPIPE
        m_pipe = std::signal(SIGPIPE, SIG_IGN);
#endif
    }
    ~StopSignals()
    {
        std::signal(SIGINT, m_int);
        std::signal(SIGTERM, m_term);
#ifdef SIGPIPE
        std::signal(SIGPIPE, m_pipe);
#endif
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

private:
    using Handler = void (*)(int);
    Handler m_int = SIG_DFL;
    Handler m_term = SIG_DFL;
    Handler m_pipe = SIG_DFL;
};

} // namespace

bool IsConsoleInvocation(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return !WithoutSiteOption(withoutQtOptions(args)).isEmpty();
}

int RunConsoleJob(const TJobFactory &factory, const std::function<void(TRplThread &)> &ended)
{
    const StopSignals stopSignals;
    TConsoleJobWindow window;
    // The job's stop is requested here, on the main thread, never by the handler.
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&window] {
        if (stopSignal.load() != 0)
            window.RequestStop();
    });
    poll.start();
    const int result = RunJobInConsole(window, factory, ended);
    if (result == 1)
        return 0;
    const int signal = stopSignal.load();
    return signal != 0 ? 128 + signal : 1;
}

namespace {

// What the command line asks for.
struct TConsoleCommand
{
    enum class TKind
    {
        Export,
        Import,
        ImportAll,
        Sync,
        Status
    } Kind = TKind::Export;
    int WstGID = 0;
    QString Package;
    TConsoleImportOptions Import;
    QString Site;        // --site (null: not given)
    int SilentDays = -1; // --silent-days (-1: the configuration's)
    bool Csv = false;
};

// --status with its options; 2 for a limit that is no whole number of days.
std::variant<TConsoleCommand, int> statusCommand(const QCommandLineParser &parser,
                                                 const TSiteOptions &site, TConsoleCommand command)
{
    command.Kind = TConsoleCommand::TKind::Status;
    command.Csv = parser.isSet(site.Csv);
    if (parser.isSet(site.SilentDays)) {
        bool ok = false;
        command.SilentDays = parser.value(site.SilentDays).toInt(&ok);
        if (!ok || command.SilentDays < 0) {
            ConsoleErr()
                << QStringLiteral("Неверное число дней: %1").arg(parser.value(site.SilentDays))
                << Qt::endl;
            return 2;
        }
    }
    return command;
}

// The command of the arguments; the exit code instead when there is none to run (help shown, or
// a wrong command line reported).
std::variant<TConsoleCommand, int> parseCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        StrConst::AppTitle +
        QStringLiteral(
            "\n\nБез параметров запускается оконная программа. Параметр --export выполняет экспорт "
            "справочников для одной рабочей станции без окна, --import — импорт пакета "
            "рабочей станции, --import-all — импорт всех пакетов папки импорта, --sync — "
            "синхронизацию справочников с ЕСВС, --status — состояние рабочих станций.\nНастройки "
            "берутся из папки узла (--site).\nПароль центральной базы "
            "данных берётся из переменной "
            "окружения %1, пароль базы данных ЕСВС — из переменной %2; без них пароль "
            "запрашивается в терминале.\n")
            .arg(QString::fromLatin1(PasswordVariable), QString::fromLatin1(EsvsPasswordVariable)) +
        ExitStatusText());
    // Every option comes from the table that the manual page is made from.
    const QCommandLineOption help = CommandLineEntry(QStringLiteral("help"));
    const QCommandLineOption exportOption = CommandLineEntry(QStringLiteral("export"));
    parser.addOption(help);
    parser.addOption(exportOption);
    const QCommandLineOption importOption = CommandLineEntry(QStringLiteral("import"));
    parser.addOption(importOption);
    const QCommandLineOption importAllOption = CommandLineEntry(QStringLiteral("import-all"));
    parser.addOption(importAllOption);
    const QCommandLineOption forceOption = CommandLineEntry(QStringLiteral("force"));
    parser.addOption(forceOption);
    const QCommandLineOption dryRunOption = CommandLineEntry(QStringLiteral("dry-run"));
    parser.addOption(dryRunOption);
    const QCommandLineOption keepGoingOption = CommandLineEntry(QStringLiteral("keep-going"));
    parser.addOption(keepGoingOption);
    const QCommandLineOption syncOption = CommandLineEntry(QStringLiteral("sync"));
    parser.addOption(syncOption);
    const TSiteOptions site;
    site.AddTo(parser);
    if (!parser.parse(withoutQtOptions(arguments))) {
        const QStringList unknown = parser.unknownOptionNames();
        ConsoleErr() << (unknown.isEmpty()
                             ? QStringLiteral("Неверная командная строка. Справка: --help")
                             : QStringLiteral("Неизвестный параметр командной строки: ") +
                                   unknown.join(QStringLiteral(", ")))
                     << Qt::endl;
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(site.Version)) {
        QTextStream(stdout) << (parser.isSet(help) ? parser.helpText()
                                                   : QString(VersionText() + QLatin1Char('\n')));
        return 0;
    }
    const bool importing = parser.isSet(importOption);
    // An empty path (a script's unset variable) would otherwise name the current folder.
    if (importing && parser.value(importOption).isEmpty()) {
        ConsoleErr() << QStringLiteral("Не указан пакет в параметре --import") << Qt::endl;
        return 2;
    }
    const QString packagePath =
        importing ? QFileInfo(parser.value(importOption)).absoluteFilePath() : QString();
    const bool sync = parser.isSet(syncOption);
    const bool importAll = parser.isSet(importAllOption);
    const bool status = parser.isSet(site.Status);
    if (int(sync) + int(parser.isSet(exportOption)) + int(importing) + int(importAll) +
                int(status) !=
            1 ||
        ((parser.isSet(site.SilentDays) || parser.isSet(site.Csv)) && !status) ||
        (parser.isSet(forceOption) && !importing && !importAll) ||
        (parser.isSet(keepGoingOption) && !importing && !importAll) ||
        (parser.isSet(dryRunOption) && (!importing || parser.isSet(forceOption))) ||
        !parser.positionalArguments().isEmpty()) {
        ConsoleErr() << QStringLiteral("Неизвестные параметры командной строки. Справка: --help")
                     << Qt::endl;
        return 2;
    }
    TConsoleCommand command;
    if (parser.isSet(site.Site))
        command.Site = parser.value(site.Site);
    if (status)
        return statusCommand(parser, site, command);
    command.Import = {parser.isSet(forceOption), parser.isSet(dryRunOption),
                      parser.isSet(keepGoingOption)};
    command.Package = packagePath;
    if (sync || importing || importAll) {
        command.Kind = sync        ? TConsoleCommand::TKind::Sync
                       : importing ? TConsoleCommand::TKind::Import
                                   : TConsoleCommand::TKind::ImportAll;
        return command;
    }
    bool ok = false;
    command.WstGID = parser.value(exportOption).toInt(&ok);
    if (!ok) {
        ConsoleErr() << QStringLiteral("Неверный идентификатор рабочей станции: %1")
                            .arg(parser.value(exportOption))
                     << Qt::endl;
        return 2;
    }
    return command;
}

// Runs a command against the central database of the configuration beside exePath.
int runCommand(const TConsoleCommand &command, const QString &exePath)
{
    TAliasStore &aliases = TAliasStore::Session();
    try {
        TAppInfo::Ui ui;
        ui.ShowErrorBox = [](const QString &message) { ConsoleErr() << message << Qt::endl; };
        ui.ShowSettingsDialog = [] {
            ConsoleErr() << QStringLiteral("Настройте папки в оконной программе.") << Qt::endl;
            return false;
        };
        const TSiteFolder site = FindSiteFolder(command.Site, exePath);
        const std::unique_ptr<TAppInfo> info = LoadConfiguration(exePath, aliases, ui, site.Folder);
        if (!info)
            return 1;
        struct ResetAppInfo
        {
            ~ResetAppInfo() { AppInfo = nullptr; }
        } resetAppInfo;

        TDatabase center(StrConst::CenterDatabaseName, &aliases);
        ConfigureCentralDatabase(center, *info);
        center.Exclusive = true;
        TDatabase::SetLoginHandler(consoleLogin);
        requirePasswordSource(aliases, center.AliasName, PasswordVariable);
        center.Open();

        using TKind = TConsoleCommand::TKind;
        if (command.Kind == TKind::Status)
            return RunConsoleStatus(*info, center, command.SilentDays, command.Csv);
        if (command.Kind == TKind::Sync) {
            requirePasswordSource(aliases, info->ESVSDBAlias(), EsvsPasswordVariable);
            int refused = 0;
            const int code = RunConsoleJob(
                [&](const TJobContext &context) {
                    return std::make_unique<TImExternalToServer>(context, *info, center);
                },
                [&refused](TRplThread &job) {
                    refused = static_cast<TImExternalToServer &>(job).RefusedRows();
                });
            return code == 0 && refused > 0 ? 3 : code;
        }
        if (command.Kind == TKind::Import)
            return RunConsoleImport(*info, center, command.Package, command.Import);
        if (command.Kind == TKind::ImportAll)
            return RunConsoleImportAll(*info, center, command.Import);
        return RunConsoleJob([&](const TJobContext &context) {
            return std::make_unique<TExServerToWorkstation>(context, *info, center, command.WstGID);
        });
    } catch (const Exception &e) {
        ConsoleErr() << e.Message() << Qt::endl;
    } catch (const std::exception &e) {
        ConsoleErr() << QString::fromLocal8Bit(e.what()) << Qt::endl;
    }
    return 1;
}

} // namespace

int RunConsole(const QStringList &arguments, const QString &exePath)
{
    // Output to a closed pipe (| head) is not fatal to any command; a job also ignores it.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const std::variant<TConsoleCommand, int> command = parseCommand(arguments);
    if (const int *exitCode = std::get_if<int>(&command))
        return *exitCode;
    return runCommand(std::get<TConsoleCommand>(command), exePath);
}
