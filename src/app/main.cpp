#include "app/startup.h"
#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/siteconfig.h"
#include "core/localzone.h"
#include "core/russian.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTranslator>
#include <memory>

int main(int argc, char *argv[])
{
    EnsureRuntimeFolder();
    PinLocalTimeZone();
    QuietSqlDriverNotes();
    // With arguments the program works on the command line and needs no display.
    const bool console = IsConsoleInvocation(argc, argv);
    PreferRussianSystemLocale();
    std::unique_ptr<QCoreApplication> app;
    if (console)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    // Before the first window (the log-in, the settings dialog, every message box after them)
    // and before the command line is read.
    const auto russian = InstallQtTranslations(QCoreApplication::applicationDirPath());
    UseRussianLocale();
    if (console)
        return RunConsole(QCoreApplication::arguments(), QCoreApplication::applicationFilePath());
    return RunApplication(*static_cast<QApplication *>(app.get()),
                          QCoreApplication::applicationFilePath(),
                          SiteOptionValue(QCoreApplication::arguments()));
}
