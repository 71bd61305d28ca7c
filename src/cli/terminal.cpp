#include "cli/terminal.h"

#include "core/errors.h"
#include "engine/database.h"
#include "jobs/consolewindow.h"

#include <QTextStream>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <iostream>
#include <string>

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

} // namespace

bool ConsoleLogin(const QString &database, QString &user, QString &password)
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

// Its absence is an error of its own, not a refusal by the server. A variable set to an empty text
// is a password given (peer authentication).
void RequirePasswordSource(const TAliasStore &aliases, const QString &alias, const char *variable)
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

namespace {

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
