#include "cli/console.h"

#include "cli/arguments.h"
#include "cli/commandline.h"
#include "cli/consoleimport.h"
#include "cli/consolestatus.h"
#include "cli/siteconfig.h"
#include "cli/terminal.h"
#include "core/appinfo.h"
#include "core/errors.h"
#include "core/sitefolder.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "export/exportjob.h"
#include "jobs/jobframe.h"
#include "sync/syncjob.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>
#include <csignal>
#include <variant>

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
            "\n\nБез параметров zoru-admin запускает оконную программу (zoru — только командная "
            "строка). Параметр --export выполняет экспорт "
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
    const auto option = [&parser](const QString &name) {
        const QCommandLineOption made = CommandLineEntry(name);
        parser.addOption(made);
        return made;
    };
    const QCommandLineOption help = option(QStringLiteral("help"));
    const QCommandLineOption exportOption = option(QStringLiteral("export"));
    const QCommandLineOption importOption = option(QStringLiteral("import"));
    const QCommandLineOption importAllOption = option(QStringLiteral("import-all"));
    const QCommandLineOption forceOption = option(QStringLiteral("force"));
    const QCommandLineOption dryRunOption = option(QStringLiteral("dry-run"));
    const QCommandLineOption keepGoingOption = option(QStringLiteral("keep-going"));
    const QCommandLineOption syncOption = option(QStringLiteral("sync"));
    const TSiteOptions site;
    site.AddTo(parser);
    if (!parser.parse(WithoutQtOptions(arguments))) {
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
        TDatabase::SetLoginHandler(ConsoleLogin);
        RequirePasswordSource(aliases, center.AliasName, PasswordVariable);
        center.Open();

        using TKind = TConsoleCommand::TKind;
        if (command.Kind == TKind::Status)
            return RunConsoleStatus(*info, center, command.SilentDays, command.Csv);
        if (command.Kind == TKind::Sync) {
            RequirePasswordSource(aliases, info->ESVSDBAlias(), EsvsPasswordVariable);
            TSyncResult result;
            const int code = RunConsoleJob(
                [&](const TJobContext &context) {
                    return std::make_unique<TImExternalToServer>(context, *info, center);
                },
                [&result](TRplThread &job) {
                    result = static_cast<TImExternalToServer &>(job).Result();
                });
            return code == 0 && !result.Refused.isEmpty() ? 3 : code;
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
