#include "jobs/consolewindow.h"

#include "core/errors.h"
#include "jobs/jobrunner.h"

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr));
#else
    return isatty(fileno(stderr));
#endif
}

} // namespace

TConsoleJobWindow::TConsoleJobWindow()
    : m_out(stdout), m_err(stderr), m_terminal(stderrIsTerminal())
{
}

void TConsoleJobWindow::endGaugeLine()
{
    if (m_gaugeShown) {
        m_err << '\n' << Qt::flush;
        m_gaugeShown = false;
    }
}

void TConsoleJobWindow::AddMessage(const QString &line)
{
    endGaugeLine();
    m_out << line << Qt::endl;
}

void TConsoleJobWindow::SetGauge(int percent)
{
    if (percent == m_lastPercent)
        return;
    if (m_terminal) {
        m_out.flush();
        m_err << '\r' << percent << '%' << Qt::flush;
        m_gaugeShown = true;
    } else if (m_lastPercent < 0 || percent / 10 != m_lastPercent / 10) {
        m_err << percent << '%' << Qt::endl;
    }
    m_lastPercent = percent;
}

void TConsoleJobWindow::JobFinished(int returnCode)
{
    endGaugeLine();
    m_returnCode = returnCode;
    m_finished = true;
}

int RunJobInConsole(TConsoleJobWindow &window, const TJobFactory &factory,
                    const std::function<void(TRplThread &)> &ended)
{
    try {
        return RunJob(window, factory, ended);
    } catch (const Exception &e) {
        QTextStream(stderr) << e.Message() << Qt::endl;
    } catch (const std::exception &e) {
        QTextStream(stderr) << QString::fromLocal8Bit(e.what()) << Qt::endl;
    }
    return 2;
}
