#pragma once

#include "jobs/jobprogress.h"

#include <QString>
#include <functional>

class QTextStream;
class TAliasStore;

// What every command of the command line shares with the terminal: its streams, the log-in
// without a window, and the run of a job that Ctrl-C and SIGTERM stop.

// Name of the environment variable that may hold the central database's password.
inline constexpr const char *PasswordVariable = "ZORU_PASSWORD";
// The same for the ЕСВС database (never given the central password).
inline constexpr const char *EsvsPasswordVariable = "ZORU_ESVS_PASSWORD";

// The terminal's output and error streams of the command line, one of each for all its parts.
QTextStream &ConsoleOut();
QTextStream &ConsoleErr();

// The log-in prompt of the command line (TDatabase::SetLoginHandler): the password from the
// environment (each database its own variable), or asked on the terminal without echo; without
// either it is empty (a server that wants one then refuses with its message).
bool ConsoleLogin(const QString &database, QString &user, QString &password);

// Without a terminal (a scheduled run) nothing can be asked: a database on a server then needs
// its password in the environment. Throws EDatabaseError saying so when it is not there.
void RequirePasswordSource(const TAliasStore &aliases, const QString &alias, const char *variable);

// Runs a job of the command line to its end and gives the exit code: 0 when it succeeded, 1 when
// it failed. Meanwhile SIGINT and SIGTERM (Ctrl-C, kill) set the job's stop flag, so that its own
// clean-up runs, and the exit code is then 128 + the signal's number; writing to a closed pipe
// (| head) is not fatal. Every command-line job runs through here; ended (when given) sees the
// job once it has ended, before it is destroyed.
int RunConsoleJob(const TJobFactory &factory,
                  const std::function<void(TRplThread &job)> &ended = {});
