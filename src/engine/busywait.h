#pragma once

#include <QString>
#include <functional>

// How work waits for a database that other work holds for the moment: another process writing
// an SQLite file (whose writers take turns), another session holding rows a statement needs on
// a server. A statement waits up to Seconds and then fails with BusyMessage; a wait is in the
// open (Waiting is told once it has lasted a moment) and ends when Stopped says so, the
// statement then failing with "Прервано пользователем". Neither failure is the database refusing
// the work: nothing is wrong with the rows, and the same work succeeds when run again.
struct TBusyWait
{
    static constexpr int DefaultSeconds = 120;
    int Seconds = DefaultSeconds;
    // Called on the connection's thread while a statement waits; may be empty.
    std::function<void()> Waiting;
    std::function<bool()> Stopped;
};

// The beginning of every message of a statement that gave up waiting for a busy database.
inline const QString BusyMessage = QStringLiteral("База данных занята другой работой");
// The line shown while work waits for a busy database.
inline const QString BusyWaitingLine =
    QStringLiteral("Ожидание: база данных занята другой работой…");
// A wait that ran out after seconds.
QString BusyTimeoutMessage(int seconds);
// Whether an engine message says the database stayed busy.
bool IsDatabaseBusy(const QString &message);

namespace engine {

// What a connection's wait keeps while it lasts, for the backend's hook that waits (SQLite's busy
// handler): the settings, and how the last wait on this thread ended.
class TBusyState
{
public:
    TBusyWait Wait;

    // One turn of a wait that has gone on `turn` turns (0: it begins): false ends it. Sleeps a
    // little between turns.
    bool KeepWaiting(int turn);

    // The message of a statement that failed because the database stayed busy, as the last wait
    // on this thread ended (stopped, or run out).
    static QString FailureMessage();

private:
    qint64 m_started = 0;
    bool m_told = false;
};

} // namespace engine
