#pragma once

#include "jobs/jobwindow.h"

#include <QTextStream>

// The window of a job run from the command line: messages go to standard output, the gauge as
// a percentage to standard error (rewritten in place on a terminal, every tenth otherwise), and
// the end of the job ends the wait. The caption is not printed: the job logs its title itself.
class TConsoleJobWindow : public TJobWindow
{
public:
    TConsoleJobWindow();

    void PrepareForJob(std::stop_source stop) override { m_stop = std::move(stop); }
    void SetCaption(const QString &) override {}
    void ClearMessages() override {}
    void AddMessage(const QString &line) override;
    void SetGauge(int percent) override;
    void JobFinished(int returnCode) override;

    // Asks the job to stop (a signal of the terminal).
    void RequestStop() { m_stop.request_stop(); }

    bool Finished() const { return m_finished; }
    int ReturnCode() const { return m_returnCode; }

private:
    QTextStream m_out;
    QTextStream m_err;
    void endGaugeLine();

    std::stop_source m_stop{std::nostopstate};
    bool m_terminal;
    bool m_gaugeShown = false;
    int m_lastPercent = -1;
    bool m_finished = false;
    int m_returnCode = 2;
};

// Runs a job without a window and waits for its end; ended (when given) sees the job then.
// Returns the job's result (1 success, 2 otherwise); errors while making the job are printed
// and give 2.
int RunJobInConsole(TConsoleJobWindow &window, const TJobFactory &factory,
                    const std::function<void(TRplThread &job)> &ended = {});
