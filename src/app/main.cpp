#include "app/startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    return RunApplication(app, QCoreApplication::applicationFilePath());
}
