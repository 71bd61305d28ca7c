#pragma once

#include "app/commandline.h"

#include <QCommandLineOption>
#include <QString>

class QCommandLineParser;
class TAppInfo;
class TDatabase;

// The options of the command line that choose the site folder, tell the version and show the
// state of workstations:
//   zoru-admin [--site DIR] ...
//   zoru-admin --version
//   zoru-admin --status [--silent-days N] [--csv]

// Exit code of --status when some workstation is silent for longer than the limit.
inline constexpr int ExitSilent = 6;

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

// --status: the table on the terminal (or CSV); 0, or ExitSilent when some workstation is
// silent for longer than silentDays (the configuration's limit when negative).
int RunConsoleStatus(const TAppInfo &info, TDatabase &center, int silentDays, bool csv);
