#pragma once

#include <QStringList>

// The command-line mode for administrators who script their work:
//   zoru-admin --export <WstGID>
// runs the export for one workstation without a window, after the same configuration checks as
// the desktop program, writing the job's lines to the terminal and to log.txt. Returns the
// process exit code: 0 only when the job succeeded.

// Name of the environment variable that may hold the central database's password.
inline constexpr const char *PasswordVariable = "ZORU_PASSWORD";

// True when the arguments ask for the command-line mode (anything besides the program name).
bool IsConsoleInvocation(int argc, char *argv[]);

// Runs the command line; the caller has created a QCoreApplication.
int RunConsole(const QStringList &arguments, const QString &exePath);
