#pragma once

#include "jobs/jobprogress.h"

#include <QObject>
#include <memory>
#include <stop_token>

class QThread;
class TJobWindow;

// Runs one job on a worker thread of its own and shows it in a window that lives on the thread
// that made the runner (the user interface, or the command line's main thread), which must keep
// serving its events meanwhile. The job's lines and questions reach the window through a
// blocking queued call (the job waits until they are shown); progress lines and the gauge are
// posted without waiting, in order, before the end. The window's stop request reaches the job
// through its stop token.
class TJobRunner : public QObject
{
    Q_OBJECT
public:
    explicit TJobRunner(TJobWindow &window);
    // Asks a job that still runs to stop and waits for it.
    ~TJobRunner() override;

    // Prepares the window, makes the job with a context whose reports reach the window and
    // starts it. Throws what making the job throws; the job then never runs.
    void Start(const TJobFactory &factory);
    void RequestStop() { m_stop.request_stop(); }

    // The job, until the runner goes (null before Start).
    TRplThread *Job() const { return m_job.get(); }
    bool Finished() const { return m_finished; }
    // The job's result once it has ended (1 success, 2 otherwise).
    int ReturnCode() const { return m_returnCode; }

Q_SIGNALS:
    // The job has ended and the window heard of it.
    void JobEnded(int returnCode);

private:
    class Relay;
    void jobEnded();

    TJobWindow &m_window;
    std::stop_source m_stop;
    std::unique_ptr<Relay> m_relay;
    std::unique_ptr<TRplThread> m_job;
    std::unique_ptr<QThread> m_thread;
    bool m_finished = false;
    int m_returnCode = 2;
};

// Runs a job in window on a worker thread and serves the calling thread's events until it has
// ended; ended (when given) sees the job then, before it is destroyed. Returns the job's result
// (1 success, 2 otherwise). Errors while making the job go to the caller.
int RunJob(TJobWindow &window, const TJobFactory &factory,
           const std::function<void(TRplThread &job)> &ended = {});
