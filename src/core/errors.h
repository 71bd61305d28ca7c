#pragma once

#include <QString>
#include <exception>
#include <string>

// Every failure of the system is an exception whose message is the Russian text the user sees.
class Exception : public std::exception
{
public:
    explicit Exception(QString message)
        : m_message(std::move(message)), m_utf8(m_message.toStdString())
    {
    }
    const QString &Message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};

// The message of any exception: an own one's Russian text, else what() in the local encoding.
QString ErrorMessage(const std::exception &e);

// Configuration errors (a required ini key missing or empty).
class EAppInfoException : public Exception
{
public:
    using Exception::Exception;
};

// Failures that a replication job detects itself.
class ERplException : public Exception
{
public:
    using Exception::Exception;
};

// A database error that did not come from the engine itself, e.g. a cancelled log-in prompt.
class EDatabaseError : public Exception
{
public:
    using Exception::Exception;
};

// An error reported by the database engine (wrong password, server unreachable, constraint
// violated, bad SQL, bad table file); the message is the engine's own.
class EDBEngineError : public EDatabaseError
{
public:
    explicit EDBEngineError(QString message, QString sql = {})
        : EDatabaseError(std::move(message)), m_sql(std::move(sql))
    {
    }
    // The statement that failed, when there was one; kept for the log, not shown to the user.
    const QString &Sql() const noexcept { return m_sql; }

private:
    QString m_sql;
};

// A file-system failure (cannot open, write or remove a file or folder).
class EFileError : public Exception
{
public:
    using Exception::Exception;
};

// Throws e again, of the same kind, with the row it happened on named after its message:
// " (запись: " + row + ")".
[[noreturn]] void RethrowWithRow(const Exception &e, const QString &row);

// A message of several lines (a database server's error with its DETAIL and HINT lines) as one
// line: its lines trimmed, the empty ones left out, joined by "; ".
QString OneLine(const QString &message);
