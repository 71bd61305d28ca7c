#pragma once

#include "jobs/jobprogress.h"

#include <stop_token>

// The window that watches a job run by TJobRunner: a message list, a gauge, a caption, a way to
// ask the job to stop, and the end of the job. The progress window is one, the terminal of the
// command-line mode another. Every call arrives on the thread the window lives on.
class TJobWindow : public TJobProgress
{
public:
    // A new job is about to run: the button cancels (through stop), the window may not close.
    virtual void PrepareForJob(std::stop_source stop) = 0;
    // The job has ended with this result (1 success, 2 otherwise).
    virtual void JobFinished(int returnCode) = 0;
};
