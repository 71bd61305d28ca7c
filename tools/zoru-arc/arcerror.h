#pragma once

#include <QString>

// Exit codes follow the console archiver the callers were written against, so that an
// administrator reading a log recognises them.
namespace arc {

enum ExitCode : int
{
    ExitOk = 0,
    ExitFatal = 2,
    ExitCorrupt = 3,
    ExitWrite = 5,
    ExitOpen = 6,
    ExitUsage = 7,
    ExitCreate = 9,
    ExitNoFiles = 10,
};

// A failure of one command; the message is shown to the administrator on stderr.
class ArcError
{
public:
    ArcError(ExitCode code, QString message) : m_code(code), m_message(std::move(message)) {}
    ExitCode Code() const { return m_code; }
    const QString &Message() const { return m_message; }

private:
    ExitCode m_code;
    QString m_message;
};

} // namespace arc
