#pragma once

#include "jobs/jobprogress.h"

#include <QStringList>
#include <functional>

class QTextStream;

// The command-line mode for administrators who script their work:
//   zoru-admin --export <WstGID>
// runs the export for one workstation without a window, after the same configuration checks as
// the desktop program, writing the job's lines to the terminal and to log.txt. Returns the
// process exit code: 0 only when the job succeeded.
//   zoru-admin --sync
// runs the synchronisation with ЕСВС likewise: 0 when it succeeded with every hospital written,
// 3 when it succeeded but the central database refused some hospitals, 1 when it failed.

// Name of the environment variable that may hold the central database's password.
inline constexpr const char *PasswordVariable = "ZORU_PASSWORD";
// The same for the ЕСВС database (never given the central password).
inline constexpr const char *EsvsPasswordVariable = "ZORU_ESVS_PASSWORD";

// The terminal's output and error streams of the command line, one of each for all its parts.
QTextStream &ConsoleOut();
QTextStream &ConsoleErr();

// True when the arguments ask for the command-line mode: anything besides the program name
// and Qt's own options (-platform, -style, -geometry, ...), which keep the desktop program.
bool IsConsoleInvocation(int argc, char *argv[]);

// Runs the command line; the caller has created a QCoreApplication. Writing to a closed pipe is
// not fatal from here on (SIGPIPE is ignored for the rest of the process).
int RunConsole(const QStringList &arguments, const QString &exePath);

// Runs a job of the command line to its end and gives the exit code: 0 when it succeeded, 1 when
// it failed. Meanwhile SIGINT and SIGTERM (Ctrl-C, kill) set the job's stop flag, so that its own
// clean-up runs, and the exit code is then 128 + the signal's number; writing to a closed pipe
// (| head) is not fatal. Every command-line job runs through here; ended (when given) sees the
// job once it has ended, before it is destroyed.
int RunConsoleJob(const TJobFactory &factory,
                  const std::function<void(TRplThread &job)> &ended = {});
