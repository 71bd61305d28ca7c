#include "replication/consolejobwindow.h"

#include "core/errors.h"
#include "replication/rplthread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cstdio>

TConsoleJobWindow::TConsoleJobWindow() : m_out(stdout), m_err(stderr) {}

void TConsoleJobWindow::SetCaption(const QString &caption)
{
    m_out << caption << Qt::endl;
}

void TConsoleJobWindow::AddMessage(const QString &line)
{
    m_out << line << Qt::endl;
}

void TConsoleJobWindow::SetGauge(int percent)
{
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    m_err << percent << '%' << Qt::endl;
}

void TConsoleJobWindow::JobFinished(int returnCode)
{
    m_returnCode = returnCode;
    m_finished = true;
}

int RunJobInConsole(const TJobFactory &factory)
{
    TConsoleJobWindow window;
    try {
        std::unique_ptr<TRplThread> job = factory(window);
        job->Launch();
        // This is the command's own event loop: it serves the job's blocking calls until the
        // end event has arrived.
        while (!window.Finished())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        job.reset();
    } catch (const Exception &e) {
        QTextStream(stderr) << e.Message() << Qt::endl;
        return 2;
    } catch (const std::exception &e) {
        QTextStream(stderr) << QString::fromLocal8Bit(e.what()) << Qt::endl;
        return 2;
    }
    return window.ReturnCode();
}
