#include "engine/busywait.h"

#include "core/strconst.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

namespace {

// How the last wait on a thread ended: a connection waits and fails on the thread it belongs to.
struct LastWait
{
    bool stopped = false;
    int seconds = TBusyWait::DefaultSeconds;
};
thread_local LastWait lastWait;

// A wait shorter than this is not worth a line.
constexpr qint64 kTellAfterMs = 1000;

qint64 nowMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

} // namespace

QString BusyTimeoutMessage(int seconds)
{
    return BusyMessage + QStringLiteral(" дольше %1 с; повторите позже").arg(seconds);
}

bool IsDatabaseBusy(const QString &message)
{
    return message.startsWith(BusyMessage);
}

namespace engine {

bool TBusyState::KeepWaiting(int turn)
{
    const qint64 now = nowMs();
    if (turn == 0) {
        m_started = now;
        m_told = false;
    }
    const qint64 waited = now - m_started;
    lastWait = {false, Wait.Seconds};
    if (Wait.Stopped && Wait.Stopped()) {
        lastWait.stopped = true;
        return false;
    }
    if (waited >= qint64(Wait.Seconds) * 1000)
        return false;
    if (!m_told && waited >= kTellAfterMs && Wait.Waiting) {
        m_told = true;
        try {
            Wait.Waiting();
        } catch (...) {
            // Telling is a courtesy; the wait goes on.
        }
    }
    // Short sleeps first: most waits are for one commit of the other writer.
    QThread::msleep(ulong(std::min(100, 2 * (turn + 1))));
    return true;
}

QString TBusyState::FailureMessage()
{
    return lastWait.stopped ? StrConst::Interrupted : BusyTimeoutMessage(lastWait.seconds);
}

} // namespace engine
