#pragma once

// Set-up shared by the tests that run a job (export, import, synchronisation) to its end.

#include "core/strconst.h"
#include "jobs/jobframe.h"
#include "jobs/jobrunner.h"
#include "jobs/jobwindow.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtTest>
#include <functional>
#include <memory>
#include <stop_token>

namespace jobtest {

// Records the caption and the lines; asks the job to stop once a chosen line is shown. Serves
// a job run by TJobRunner, or one the test runs on its own thread (Context()).
class RecordingWindow : public TJobWindow
{
public:
    void PrepareForJob(std::stop_source stop) override { m_stop = std::move(stop); }
    void SetCaption(const QString &c) override { caption = c; }
    void ClearMessages() override { lines.clear(); }
    void AddMessage(const QString &line) override
    {
        lines << line;
        if (!stopOn.isEmpty() && line == stopOn)
            m_stop.request_stop();
        if (onLine)
            onLine(line);
    }
    void SetGauge(int) override {}
    void JobFinished(int) override {}
    // What a job run on the test's own thread is made with.
    TJobContext Context() { return TJobContext{*this, m_stop.get_token()}; }

    QString caption;
    QStringList lines;
    QString stopOn;
    // Called where the window lives while the job waits for the line to be shown.
    std::function<void(const QString &)> onLine;

private:
    std::stop_source m_stop;
};

// Runs the job that make(context) returns to its end on a worker thread; 1 on success, 2
// otherwise. ended (when given) sees the job before it is destroyed.
template <class Make>
int runJob(RecordingWindow &window, const QString &stopOn, Make make,
           const std::function<void(TRplThread &)> &ended = {})
{
    window.stopOn = stopOn;
    return RunJob(
        window,
        [&](const TJobContext &context) -> std::unique_ptr<TRplThread> { return make(context); },
        ended);
}

// Everything under a folder, relative, sorted.
inline QStringList folderContents(const QString &dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

// Puts the archiver into a program folder, as the installation has it.
inline bool installArchiver(const QString &programFolder)
{
    const QString target = programFolder + QStringLiteral("/zoru-arc");
    return QFile::copy(qEnvironmentVariable("ZORU_PROGRAM_DIR") + QStringLiteral("/zoru-arc"),
                       target) &&
           QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The global "backend" column: SQLite always, PostgreSQL when a server is configured or required.
inline void backendRows()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << "SQLITE";
    if (testsupport::pgServer() || testsupport::pgRequired())
        QTest::newRow("postgresql") << "POSTGRESQL";
}

} // namespace jobtest
