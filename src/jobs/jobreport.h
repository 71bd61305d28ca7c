#pragma once

#include "jobs/jobprogress.h"

#include <QFile>
#include <QStringList>
#include <functional>
#include <stop_token>

// Appends one line of the job log to an open log file: the time stamp, "> ", the message and
// CR LF, in cp1251, flushed at once. Throws EFileError when the line does not go out whole.
void WriteLogLine(QFile &file, const QString &message);
// The same for several lines, with one time stamp and one write.
void WriteLogLines(QFile &file, const QStringList &messages);

// What a running job reports through, and how it learns that it should stop: its log (the
// watcher and "log.txt" of the site folder), its gauge and its stop token. The job and the
// steps it hands this to use it on the thread the job runs on.
class TJobReport
{
public:
    // Opens the log file "log.txt" of appFolder (two empty lines when it already exists). Throws
    // EFileError when it cannot be opened.
    TJobReport(const TJobContext &context, const QString &appFolder);
    TJobReport(const TJobReport &) = delete;
    TJobReport &operator=(const TJobReport &) = delete;

    // Appends a line to the watcher and to the log file (flushed at once).
    void Log(const QString &message);
    // The same for lines that come by the thousand (the progress of a long step), a batch at a
    // time: the watcher may show them a little later; the log file has them at once.
    void LogProgress(const QStringList &messages);
    // Ends a table's part of the log: its count of records (" записей") and an empty line.
    void LogRecordCount(int count);

    // Progress: the gauge shows Position * 100 / Total (integer division), 100 when Total is 0.
    int Position = 0;
    int Total = 100;
    int ProgressPercent() const;
    // Shows ProgressPercent() on the gauge (a figure it shows already is not sent again).
    void UpdateGauge();
    // The gauge at Position / Total whatever it showed before.
    void ResetGauge();

    bool Terminated() const { return m_stop.stop_requested(); }
    // Raises ERplException "Прервано пользователем" once a stop was requested.
    void CheckTerminated() const;

    // Runs fn where the watcher lives and waits for it (asking the user something).
    void Synchronize(const std::function<void()> &fn) { m_progress.Synchronize(fn); }
    TJobProgress &Progress() const { return m_progress; }

private:
    TJobProgress &m_progress;
    std::stop_token m_stop;
    QFile m_logFile;
    int m_shownPercent = -1; // what the gauge shows now
};
