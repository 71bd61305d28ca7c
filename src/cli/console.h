#pragma once

#include <QString>
#include <QStringList>

// The command line for administrators who script their work (zoru-admin with arguments, and
// zoru, the program without the desktop):
//   --export <WstGID>   the export for one workstation, without a window
//   --sync              the synchronisation with ЕСВС: 0 when every hospital was written, 3
//                       when the central database refused some, 1 when it failed
//   --import, --import-all, --status, --version, --help (cli/consoleimport.h,
//   cli/consolestatus.h); every option and exit status is in the table of cli/commandline.h.

// Runs the command line; the caller has created a QCoreApplication. Writing to a closed pipe is
// not fatal from here on (SIGPIPE is ignored for the rest of the process).
int RunConsole(const QStringList &arguments, const QString &exePath);
