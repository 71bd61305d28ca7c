#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <stop_token>

class TRplThread;

// What a job tells whoever watches it: the progress window, the terminal, a test. A job calls
// it on the thread it runs on; a watcher on another thread is reached through a relay that
// carries each call over (TJobRunner).
class TJobProgress
{
public:
    virtual ~TJobProgress() = default;

    virtual void SetCaption(const QString &caption) = 0;
    virtual void ClearMessages() = 0;
    // One line of the job's log, shown before the job goes on.
    virtual void AddMessage(const QString &line) = 0;
    // Lines that come by the thousand (the progress of a long step): they may be shown a little
    // later than they are sent, in order, before the end of the job.
    virtual void AddProgressLines(const QStringList &lines)
    {
        for (const QString &line : lines)
            AddMessage(line);
    }
    // The gauge in whole percents; like progress lines, it may be shown a little later.
    virtual void SetGauge(int percent) = 0;
    // Runs fn where the watcher lives and waits for it: the way a job asks the user something.
    // Here, on the job's own thread.
    virtual void Synchronize(const std::function<void()> &fn) { fn(); }
};

// What every job is made with besides its own inputs.
struct TJobContext
{
    // Where the job reports; it must outlive the job.
    TJobProgress &Progress;
    // Set when the job is asked to stop; it ends at its next cancellation point.
    std::stop_token Stop;
};

// Makes a job; called on the thread that watches it (a job may ask for a log-in there).
using TJobFactory = std::function<std::unique_ptr<TRplThread>(const TJobContext &context)>;
