#include "app/console.h"

#include "app/startup.h"
#include "core/appinfo.h"
#include "core/errors.h"
#include "core/strconst.h"
#include "data/exserver.h"
#include "data/srvrplthread.h"
#include "engine/database.h"
#include "replication/consolejobwindow.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <string>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

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
    err() << Qt::endl;
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

// The log-in prompt of the command line: the password from the environment, or asked on the
// terminal; without either it is empty (a server that wants one then refuses with its message).
bool consoleLogin(const QString &database, QString &user, QString &password)
{
    if (qEnvironmentVariableIsSet(PasswordVariable)) {
        password = qEnvironmentVariable(PasswordVariable);
        return true;
    }
    if (!stdinIsTerminal()) {
        password.clear();
        return true;
    }
    err() << QStringLiteral("Пароль пользователя \"%1\" базы данных %2: ").arg(user, database)
          << Qt::flush;
    password = readHiddenLine();
    return true;
}

} // namespace

bool IsConsoleInvocation(int argc, char *argv[])
{
    Q_UNUSED(argv);
    return argc > 1;
}

int RunConsole(const QStringList &arguments, const QString &exePath)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        StrConst::AppTitle +
        QStringLiteral(
            "\n\nБез параметров запускается оконная программа. Параметр --export выполняет экспорт "
            "справочников для одной рабочей станции без окна.\nПароль центральной базы данных "
            "берётся из переменной окружения %1 или запрашивается в терминале.")
            .arg(QString::fromLatin1(PasswordVariable)));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Показать эту справку."));
    const QCommandLineOption exportOption(
        QStringLiteral("export"),
        QStringLiteral("Экспорт справочников для рабочей станции с идентификатором <WstGID>."),
        QStringLiteral("WstGID"));
    parser.addOption(help);
    parser.addOption(exportOption);
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        err() << (unknown.isEmpty() ? QStringLiteral("Неверная командная строка. Справка: --help")
                                    : QStringLiteral("Неизвестный параметр командной строки: ") +
                                          unknown.join(QStringLiteral(", ")))
              << Qt::endl;
        return 2;
    }
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    if (!parser.isSet(exportOption) || !parser.positionalArguments().isEmpty()) {
        err() << QStringLiteral("Неизвестные параметры командной строки. Справка: --help")
              << Qt::endl;
        return 2;
    }
    bool ok = false;
    const int wstGID = parser.value(exportOption).toInt(&ok);
    if (!ok) {
        err() << QStringLiteral("Неверный идентификатор рабочей станции: %1")
                     .arg(parser.value(exportOption))
              << Qt::endl;
        return 2;
    }

    TAliasStore &aliases = TAliasStore::Session();
    try {
        TAppInfo::Ui ui;
        ui.ShowErrorBox = [](const QString &message) { err() << message << Qt::endl; };
        ui.ShowSettingsDialog = [] {
            err() << QStringLiteral("Настройте папки в оконной программе.") << Qt::endl;
            return false;
        };
        const std::unique_ptr<TAppInfo> info = LoadConfiguration(exePath, aliases, ui);
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
        center.Open();
        SetCentralDatabase(&center);
        struct ResetCenter
        {
            ~ResetCenter() { SetCentralDatabase(nullptr); }
        } resetCenter;

        const int result = RunJobInConsole([wstGID](TJobWindow &window) {
            return std::make_unique<TExServerToWorkstation>(window, wstGID);
        });
        return result == 1 ? 0 : 1;
    } catch (const Exception &e) {
        err() << e.Message() << Qt::endl;
    } catch (const std::exception &e) {
        err() << QString::fromLocal8Bit(e.what()) << Qt::endl;
    }
    return 1;
}
