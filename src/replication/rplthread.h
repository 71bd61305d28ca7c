#pragma once

#include "core/errors.h"
#include "replication/jobwindow.h"

#include <QFile>
#include <QThread>
#include <atomic>
#include <functional>

class TAppInfo;
class TDataSet;

// Base of every long data operation (export, import, synchronisation): a worker thread whose
// body Execute() reports through Log and the progress fields to a TJobWindow and polls a stop
// flag at its cancellation points.
//
// Thread rules: the object is created, started and destroyed on the user-interface thread;
// Execute() and everything it calls run on the worker thread, which reaches the window only
// through Synchronize() (a blocking queued call into the user-interface thread; the gauge and
// progress lines are posted without waiting). Database connections used by Execute() must be
// opened on the worker thread.
// The program's configuration (the global AppInfo) for a job made without its own; throws
// when none is loaded.
const TAppInfo &ProgramInfo();

// Appends one line of the job log to an open log file: the time stamp, "> ", the message and
// CR LF, in cp1251, flushed at once. Throws EFileError when the line does not go out whole.
void WriteLogLine(QFile &file, const QString &message);
// The same for several lines, with one time stamp and one write.
void WriteLogLines(QFile &file, const QStringList &messages);

class TRplThread : public QThread
{
    Q_OBJECT
public:
    // Opens the log file of the program folder of info (two empty lines when it already exists),
    // prepares the window with the gauge at 0. Throws EFileError when the log cannot be opened.
    // info: the configuration the job works with (it must outlive the job).
    TRplThread(TJobWindow &window, const TAppInfo &info);
    // The same with the program's configuration (the global AppInfo).
    explicit TRplThread(TJobWindow &window);
    // Requests a stop and waits if the body still runs.
    ~TRplThread() override;

    // Sets the job's caption and clears the messages, then starts the body.
    void Launch();

    // The stop request of the window's button; the body ends at its next cancellation point.
    void Terminate() { m_stop.store(true); }
    bool Terminated() const { return m_stop.load(); }

    // 2 (cancel) until the body has completed its work, then 1 (OK).
    int ReturnCode() const { return m_returnCode.load(); }

    // Position * 100 / Total (integer division), 100 when Total is 0.
    int ProgressPercent() const;

protected:
    // The job's title on the window and its messages cleared.
    virtual void PrepareWindow() = 0;
    // The body; must not let an error escape (use RunGuarded).
    virtual void Execute() = 0;
    // Runs on the worker thread after Execute(): the place to release what the body opened
    // there (database connections belong to the thread that opened them).
    virtual void ThreadCleanup() {}

    TJobWindow &Window() const { return m_window; }
    // The configuration given at creation.
    const TAppInfo &Info() const { return m_info; }

    // The frame of a job: title and separator, then the work; on success a separator, the
    // completion message and ReturnCode 1; on any error a separator and "ОШИБКА!!! " + message.
    void RunGuarded(const QString &title, const QString &completion,
                    const std::function<void()> &work);

    // Appends a line to the window and to the log file (flushed at once).
    void Log(const QString &message);
    // The same for lines that come by the thousand (the progress of a long step), a batch at a
    // time: the lines are posted to the window without waiting for them, as the gauge is, and
    // written to the log at once. Lines arrive in order.
    void LogProgress(const QStringList &messages);
    // Ends a table's part of the log: its count of records (" записей") and an empty line.
    void LogRecordCount(int count);
    // Shows ProgressPercent() on the gauge.
    void UpdateGauge();
    // Raises ERplException "Прервано пользователем" once a stop was requested.
    void CheckTerminated();
    // Copies every row of source into dest and returns the number of rows written; both
    // datasets are closed in every case. fields: the destination columns to write (any letter
    // case), each taken from the source column of the same name; other destination columns are
    // left alone. Empty: every stored destination column from the source column at its position.
    // keyFields (";"-joined, may be empty): a destination row with these values (case folded)
    // is updated instead of a new row appended. Any failure to write, the closing of the
    // destination included (a folder table reaches its file then), is thrown; a row that cannot
    // be written is named in the message by its key values.
    int CopyRecords(TDataSet &source, TDataSet &dest, const QString &keyFields,
                    const QStringList &fields = {});

    // The archiver (exit code; 0 is success).
    int PackFolder(const QString &folder, const QString &comment, const QString &archiveName);
    int UnpackArchive(const QString &folder, const QString &archiveName);

    // Runs fn on the user-interface thread and waits for it (directly when already there).
    void Synchronize(const std::function<void()> &fn);

    void SetReturnCode(int code) { m_returnCode.store(code); }

    int Position = 0;
    int Total = 100;

private:
    void run() final;
    void ThreadDone();
    // Runs fn on the user-interface thread without waiting for it.
    void post(std::function<void()> fn);

    TJobWindow &m_window;
    const TAppInfo &m_info;
    QFile m_logFile;
    std::atomic_bool m_stop{false};
    std::atomic_int m_returnCode{2};
    int m_shownPercent = -1; // what the gauge shows now (worker thread after the start)
};
