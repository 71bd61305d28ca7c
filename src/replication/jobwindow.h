#pragma once

#include <QString>

// What a job sees of the window that watches it: a message list, a gauge, a caption and the
// end of the job. The progress window is one implementation, the terminal of the command-line
// mode another. Every call arrives on the user-interface thread (a job on its worker thread
// reaches it through a blocking call).
class TJobWindow
{
public:
    virtual ~TJobWindow() = default;

    // A new job is about to run: the button cancels, the window may not close yet.
    virtual void PrepareForJob() = 0;
    virtual void SetCaption(const QString &caption) = 0;
    virtual void ClearMessages() = 0;
    virtual void AddMessage(const QString &line) = 0;
    virtual void SetGauge(int percent) = 0;
    // The job's body has returned with this result (1 success, 2 otherwise).
    virtual void JobFinished(int returnCode) = 0;
};
