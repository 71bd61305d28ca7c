#pragma once

#include "core/errors.h"
#include "jobs/jobreport.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

class TAppInfo;
class TDataSet;

// How the last run of a job ended: the value the caller reads instead of the job's log.
struct TJobOutcome
{
    enum TEnd
    {
        NotRun,    // Run() was not called, or the body did not reach its frame
        Completed, // the work came to its end
        Failed,    // an error ended it (Error says which)
        Cancelled // a stop request or the user's No ended it ("Прервано пользователем")
    };
    TEnd End = NotRun;
    QString Error; // the message of the error line, without "ОШИБКА!!! "
};

// Rows a job wrote into one table.
struct TTableRows
{
    QString Table;
    int Rows = 0;
    bool operator==(const TTableRows &) const = default;
};

// TRplThread: plain work that reports progress and obeys a stop; owns no thread and no window.
//
// The frame of every long data operation (export, import, synchronisation): a piece of work that
// runs on the thread that calls Run(), reports through its TJobReport (log, gauge) and polls its
// stop token at its cancellation points. It owns no thread and no window: TJobRunner puts a job
// on a worker thread and relays its reports to a window or the terminal; a test calls Run()
// itself.
//
// Thread rules: a job is made on the thread that watches it (its constructor may ask for a
// log-in there); everything Run() does happens on one thread, the one that calls it, and
// database connections the job uses are opened there.
class TRplThread : protected TJobReport
{
public:
    // Opens the log file of the site folder of info (two empty lines when it already exists).
    // Throws EFileError when the log cannot be opened. info must outlive the job.
    TRplThread(const TJobContext &context, const TAppInfo &info);
    virtual ~TRplThread();
    TRplThread(const TRplThread &) = delete;
    TRplThread &operator=(const TRplThread &) = delete;

    // Runs the job: the gauge at 0, the caption and an empty message list, the body, and the
    // release of what the body opened. Never throws; returns ReturnCode().
    int Run();

    // 2 (cancel) until the body has completed its work, then 1 (OK).
    int ReturnCode() const { return m_returnCode.load(); }
    // How the last run ended; read once Run() has returned.
    const TJobOutcome &Outcome() const { return m_outcome; }

    using TJobReport::ProgressPercent;
    using TJobReport::Terminated;

protected:
    // The job's title on the window and its messages cleared.
    virtual void PrepareWindow() = 0;
    // The body; must not let an error escape (use RunGuarded).
    virtual void Execute() = 0;
    // Runs after Execute() on the same thread: the place to release what the body opened
    // (database connections belong to the thread that opened them).
    virtual void ThreadCleanup() {}

    // What the job reports to; steps of the job take it.
    TJobReport &Report() { return *this; }
    TJobProgress &Window() const { return Progress(); }
    // The configuration given at creation.
    const TAppInfo &Info() const { return m_info; }

    // The frame of a job: title and separator, then the work; on success a separator, the
    // completion message and ReturnCode 1; on any error a separator and "ОШИБКА!!! " + message.
    // Outcome() records which.
    void RunGuarded(const QString &title, const QString &completion,
                    const std::function<void()> &work);
    // The same for work that says how it completed: it returns the completion message.
    void RunGuarded(const QString &title, const std::function<QString()> &work);
    // How an error with this message ends the run (Cancelled or Failed), as Outcome() will say;
    // for a body that records its end before the frame does (a journal).
    TJobOutcome::TEnd EndOf(const QString &error) const;

    // See CopyRecords (jobs/copyrecords.h).
    int CopyRecords(TDataSet &source, TDataSet &dest, const QString &keyFields,
                    const QStringList &fields = {});

    void SetReturnCode(int code) { m_returnCode.store(code); }

private:
    void failed(QString message);

    const TAppInfo &m_info;
    std::atomic_int m_returnCode{2};
    TJobOutcome m_outcome;
};
