#pragma once

#include "cli/commandline.h"

#include <QCommandLineOption>
#include <QString>
#include <QStringList>

class QCommandLineParser;

// The arguments before a command is chosen: whether they ask for the command line at all, the
// site folder, the version.
//   zoru-admin [--site DIR] ...
//   zoru-admin --version

struct TSiteOptions
{
    QCommandLineOption Site = CommandLineEntry(QStringLiteral("site"));
    QCommandLineOption Version = CommandLineEntry(QStringLiteral("version"));
    QCommandLineOption Status = CommandLineEntry(QStringLiteral("status"));
    QCommandLineOption SilentDays = CommandLineEntry(QStringLiteral("silent-days"));
    QCommandLineOption Csv = CommandLineEntry(QStringLiteral("csv"));

    void AddTo(QCommandLineParser &parser) const;
};

// "zoru-admin <version>".
QString VersionText();

// The arguments without --site and its value: what is left decides between the desktop program
// and the command line.
QStringList WithoutSiteOption(const QStringList &arguments);
// The value of --site (null when not given).
QString SiteOptionValue(const QStringList &arguments);

// The arguments without the options that Qt takes for itself (the platform plug-in, style,
// window geometry, X11 display, ...): they keep the desktop program and are no business of the
// command line. Given as "-name", "--name", "-name=value" or "-name value".
QStringList WithoutQtOptions(const QStringList &args);

// True when the arguments ask for the command-line mode: anything besides the program name,
// --site and Qt's own options (-platform, -style, -geometry, ...), which keep the desktop program.
bool IsConsoleInvocation(int argc, char *argv[]);
