#include "jobs/jobrunner.h"

#include "jobs/jobframe.h"
#include "jobs/jobwindow.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

// The progress a job on the worker thread sees: each call is carried to the window's thread.
class TJobRunner::Relay final : public TJobProgress
{
public:
    Relay(TJobRunner &runner, TJobWindow &window) : m_runner(runner), m_window(window) {}

    void SetCaption(const QString &caption) override
    {
        Synchronize([&] { m_window.SetCaption(caption); });
    }
    void ClearMessages() override
    {
        Synchronize([&] { m_window.ClearMessages(); });
    }
    void AddMessage(const QString &line) override
    {
        Synchronize([&] { m_window.AddMessage(line); });
    }
    void AddProgressLines(const QStringList &lines) override
    {
        post([this, lines] { m_window.AddProgressLines(lines); });
    }
    void SetGauge(int percent) override
    {
        post([this, percent] { m_window.SetGauge(percent); });
    }
    void Synchronize(const std::function<void()> &fn) override
    {
        if (QThread::currentThread() == m_runner.thread())
            fn();
        else
            QMetaObject::invokeMethod(&m_runner, fn, Qt::BlockingQueuedConnection);
    }

private:
    // Posted without waiting: the job goes on meanwhile, and the calls arrive in order, before
    // the end of the job (which is queued after them).
    void post(std::function<void()> fn)
    {
        if (QThread::currentThread() == m_runner.thread())
            fn();
        else
            QMetaObject::invokeMethod(&m_runner, std::move(fn), Qt::QueuedConnection);
    }

    TJobRunner &m_runner;
    TJobWindow &m_window;
};

TJobRunner::TJobRunner(TJobWindow &window)
    : m_window(window), m_relay(std::make_unique<Relay>(*this, window))
{
}

TJobRunner::~TJobRunner()
{
    if (m_thread && m_thread->isRunning()) {
        RequestStop();
        m_thread->wait();
    }
}

void TJobRunner::Start(const TJobFactory &factory)
{
    m_window.PrepareForJob(m_stop);
    m_job = factory(TJobContext{*m_relay, m_stop.get_token()});
    TRplThread *job = m_job.get();
    m_thread.reset(QThread::create([job] { job->Run(); }));
    connect(m_thread.get(), &QThread::finished, this, &TJobRunner::jobEnded);
    m_thread->start();
}

void TJobRunner::jobEnded()
{
    m_finished = true;
    m_returnCode = m_job->ReturnCode();
    m_window.JobFinished(m_returnCode);
    Q_EMIT JobEnded(m_returnCode);
}

int RunJob(TJobWindow &window, const TJobFactory &factory,
           const std::function<void(TRplThread &)> &ended)
{
    TJobRunner runner(window);
    runner.Start(factory);
    // The caller's event loop serves the job's calls meanwhile.
    while (!runner.Finished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (ended)
        ended(*runner.Job());
    return runner.ReturnCode();
}
