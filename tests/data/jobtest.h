#pragma once

// Set-up shared by the tests that run a replication job (export, import) to its end.

#include "core/strconst.h"
#include "replication/consolejobwindow.h"
#include "replication/replicator.h"
#include "replication/rplthread.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

namespace jobtest {

// Records the caption and the lines; asks the job to stop once a chosen line is shown.
class RecordingWindow : public TJobWindow
{
public:
    void PrepareForJob() override {}
    void SetCaption(const QString &c) override { caption = c; }
    void ClearMessages() override { lines.clear(); }
    void AddMessage(const QString &line) override
    {
        lines << line;
        if (job && !stopOn.isEmpty() && line == stopOn)
            job->Terminate();
        if (onLine)
            onLine(line);
    }
    void SetGauge(int) override {}
    void JobFinished(int) override {}
    QString caption;
    QStringList lines;
    QString stopOn;
    TRplThread *job = nullptr;
    // Called on the user-interface thread while the job waits for the line to be shown.
    std::function<void(const QString &)> onLine;
};

// Runs the job that make(window) returns to its end; 1 on success, 2 otherwise.
template <class Make> int runJob(RecordingWindow &window, const QString &stopOn, Make make)
{
    window.stopOn = stopOn;
    return RunJob(window, [&](TJobWindow &w) {
        auto job = make(w);
        window.job = job.get();
        return std::unique_ptr<TRplThread>(std::move(job));
    });
}

// What the progress window showed when its job ended.
struct Finished
{
    QString caption;
    QString lastLine;
};

// Presses "OK" in the progress window once its job has ended, recording the caption and the
// last line first. The timer belongs to parent.
inline QTimer *pressOkWhenDone(QObject *parent, Finished &seen)
{
    auto *timer = new QTimer(parent);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [&seen, timer] {
        auto *button =
            Replicator ? Replicator->findChild<QPushButton *>(QStringLiteral("Button")) : nullptr;
        if (!button || !Replicator->isVisible() || button->text() != StrConst::BtnOK)
            return;
        seen.caption = Replicator->windowTitle();
        seen.lastLine = Replicator->findChild<QPlainTextEdit *>(QStringLiteral("MsgMemo"))
                            ->toPlainText()
                            .section(QLatin1Char('\n'), -1);
        timer->stop();
        button->click();
    });
    timer->start();
    return timer;
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
