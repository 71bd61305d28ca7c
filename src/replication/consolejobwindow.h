#pragma once

#include "replication/jobwindow.h"
#include "replication/replicator.h"

#include <QTextStream>

// The window of a job run from the command line: messages go to standard output, the gauge as
// a percentage to standard error (rewritten in place on a terminal, every tenth otherwise), and
// the end of the job ends the wait. The caption is not printed: the job logs its title itself.
class TConsoleJobWindow : public TJobWindow
{
public:
    TConsoleJobWindow();

    void PrepareForJob() override {}
    void SetCaption(const QString &) override {}
    void ClearMessages() override {}
    void AddMessage(const QString &line) override;
    void SetGauge(int percent) override;
    void JobFinished(int returnCode) override;

    bool Finished() const { return m_finished; }
    int ReturnCode() const { return m_returnCode; }

private:
    QTextStream m_out;
    QTextStream m_err;
    void endGaugeLine();

    bool m_terminal;
    bool m_gaugeShown = false;
    int m_lastPercent = -1;
    bool m_finished = false;
    int m_returnCode = 2;
};

// Creates a job for the window, starts it and serves the calling thread's events until the
// job's end event has reached the window; returns the job's result (1 success, 2 otherwise).
// Errors while creating the job go to the caller.
int RunJob(TJobWindow &window, const TJobFactory &factory);

// Runs a job without a window and waits for its end; the job's result (1 success, 2 otherwise).
// Errors while creating the job are printed and give 2.
int RunJobInConsole(const TJobFactory &factory);
