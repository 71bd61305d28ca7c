#include "cli/console.h"
#include "cli/siteconfig.h"
#include "core/localzone.h"
#include "core/russian.h"

#include <QCoreApplication>
#include <QTranslator>

// zoru: the command line of zoru-admin without the desktop, for machines without a display.
int main(int argc, char *argv[])
{
    EnsureRuntimeFolder();
    PinLocalTimeZone();
    QuietSqlDriverNotes();
    const QCoreApplication app(argc, argv);
    // Before the command line is read: Qt's own texts (--help) speak Russian.
    const auto russian = InstallQtTranslations(QCoreApplication::applicationDirPath());
    UseRussianLocale();
    // The site is zoru-admin's: its configuration file is zoru-admin.ini (core/sitefolder.h names
    // it after the program), whichever of the two programs reads it.
    return RunConsole(QCoreApplication::arguments(),
                      QCoreApplication::applicationDirPath() + QStringLiteral("/zoru-admin"));
}
