#include "app/console.h"
#include "app/consolestatus.h"
#include "app/startup.h"
#include "core/localzone.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    EnsureRuntimeFolder();
    PinLocalTimeZone();
    // With arguments the program works on the command line and needs no display.
    if (IsConsoleInvocation(argc, argv)) {
        QCoreApplication app(argc, argv);
        return RunConsole(QCoreApplication::arguments(), QCoreApplication::applicationFilePath());
    }
    QApplication app(argc, argv);
    return RunApplication(app, QCoreApplication::applicationFilePath(),
                          SiteOptionValue(QCoreApplication::arguments()));
}
