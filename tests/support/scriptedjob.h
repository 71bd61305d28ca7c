#pragma once

// A job whose work is given by the test, with the frame's protected operations exposed.

#include "core/appinfo.h"
#include "jobs/consolewindow.h"
#include "jobs/jobframe.h"
#include "jobs/jobrunner.h"

#include <functional>
#include <memory>

class ScriptedJob : public TRplThread
{
public:
    using Work = std::function<void(ScriptedJob &)>;
    ScriptedJob(const TJobContext &context, Work work)
        : TRplThread(context, ProgramInfo()), m_work(std::move(work))
    {
    }

    void PrepareWindow() override
    {
        Window().SetCaption(QStringLiteral("Тестовое задание"));
        Window().ClearMessages();
    }
    void Execute() override
    {
        RunGuarded(QStringLiteral("Тестовое задание"), QStringLiteral("Задание завершено"),
                   [this] { m_work(*this); });
    }

    using TRplThread::CheckTerminated;
    using TRplThread::CopyRecords;
    using TRplThread::Log;
    using TRplThread::Position;
    using TRplThread::Total;
    using TRplThread::UpdateGauge;

private:
    Work m_work;
};

inline TJobFactory scripted(ScriptedJob::Work work)
{
    return [work = std::move(work)](const TJobContext &context) {
        return std::make_unique<ScriptedJob>(context, work);
    };
}

// Runs a scripted job on a worker thread with the terminal as its window; 1 on success.
inline int runInConsole(ScriptedJob::Work work)
{
    TConsoleJobWindow window;
    return RunJobInConsole(window, scripted(std::move(work)));
}
