#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The program as a process: which arguments select the command line, and how a command-line job
// ends when it is interrupted.
class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_folder;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("ZORU_PASSWORD"), QStringLiteral("x"));
        return env;
    }

    QStringList archives() const
    {
        QStringList out;
        QDirIterator it(m_folder + QStringLiteral("/export"), {QStringLiteral("*.s2w")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next();
        return out;
    }

    // Folders below the hospital folders of the export folder: package folders left behind.
    QStringList packageFolders() const
    {
        QStringList out;
        const QDir exportDir(m_folder + QStringLiteral("/export"));
        for (const QString &owner : exportDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            out << QDir(exportDir.filePath(owner)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        return out;
    }

    qint64 logSize() const { return QFileInfo(m_folder + QStringLiteral("/log.txt")).size(); }

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = m_dir.filePath(QStringLiteral("Программа"));
        QVERIFY(QDir().mkpath(m_folder));
        const QString bin = qEnvironmentVariable("ZORU_PROGRAM_DIR");
        for (const char *tool : {"zoru-admin", "zoru-arc"}) {
            const QString name = QString::fromLatin1(tool);
            QVERIFY(QFile::copy(bin + QLatin1Char('/') + name, m_folder + QLatin1Char('/') + name));
            QFile::setPermissions(m_folder + QLatin1Char('/') + name,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QCOMPARE(QProcess::execute(bin + QStringLiteral("/zoru-demo"),
                                   {QStringLiteral("--folder"), m_folder, QStringLiteral("--scale"),
                                    QStringLiteral("0.05")}),
                 0);
        // An existing log grows as soon as a job is created (see interruptedExport).
        QFile log(m_folder + QStringLiteral("/log.txt"));
        QVERIFY(log.open(QIODevice::Append));
        QVERIFY(log.write("\r\n") == 2);
    }

    // Qt's own options keep the desktop program: it still runs (at its log-in or main window)
    // long after the command line would have refused them; Qt has no runtime folder to warn
    // about.
    void qtOptionsKeepTheDesktop_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("-platform offscreen")
            << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen")};
        QTest::newRow("-style, -reverse, -platform") << QStringList{
            QStringLiteral("-style"), QStringLiteral("Fusion"), QStringLiteral("-reverse"),
            QStringLiteral("-platform"), QStringLiteral("offscreen")};
    }
    void qtOptionsKeepTheDesktop()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(m_folder + QStringLiteral("/zoru-admin"), args);
        QVERIFY(p.waitForStarted());
        const bool ended = p.waitForFinished(2500);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        p.kill();
        p.waitForFinished();
        QVERIFY2(!ended, qPrintable(err));
        // The program gives itself a runtime folder when the session has none.
        QVERIFY2(!err.contains(QStringLiteral("XDG_RUNTIME_DIR")), qPrintable(err));
    }

    // A signal during --export sets the job's stop flag: the job ends with its message, its
    // package folder goes, no archive is made and the exit code is 128 + the signal. Output to
    // a closed pipe (| head) is not fatal: the export completes.
    void interruptedExport_data()
    {
        QTest::addColumn<int>("signal"); // 0: the reader of the output goes away
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGTERM") << int(SIGTERM) << 128 + SIGTERM;
        QTest::newRow("SIGINT") << int(SIGINT) << 128 + SIGINT;
        QTest::newRow("closed pipe") << 0 << 0;
    }
    void interruptedExport()
    {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        // Package names carry the time to the second: a new second, a new package.
        QTest::qWait(1100);
        const QString fifo = m_dir.filePath(QStringLiteral("out.fifo"));
        QFile::remove(fifo);
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        int fd = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
        QVERIFY(fd >= 0);
        if (signal != 0) {
            // A full pipe holds the job at its first line until the signal has arrived.
            const QByteArray block(512, 'x');
            while (::write(fd, block.constData(), block.size()) > 0) {
            }
            while (::write(fd, "x", 1) > 0) {
            }
        }
        const qint64 logBefore = logSize();
        const qsizetype archivesBefore = archives().size();

        QProcess p;
        p.setProcessEnvironment(environment());
        p.setStandardOutputFile(fifo);
        p.start(m_folder + QStringLiteral("/zoru-admin"),
                {QStringLiteral("--export"), QStringLiteral("2")});
        QVERIFY(p.waitForStarted());
        // The job has been created (it opens the log) once the log grows.
        QDeadlineTimer deadline(20000);
        while (logSize() <= logBefore && !deadline.hasExpired())
            QThread::msleep(5);
        QVERIFY(!deadline.hasExpired());
        // The job stays at its first line while the pipe is full: time enough to be sure it runs.
        QThread::msleep(300);
        if (signal != 0) {
            QCOMPARE(::kill(static_cast<pid_t>(p.processId()), signal), 0);
        } else {
            ::close(fd);
            fd = -1;
        }
        QByteArray out;
        char buffer[4096];
        for (;;) {
            const bool ended = p.waitForFinished(20);
            for (qint64 n = 0; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                out.append(buffer, static_cast<qsizetype>(n));
            if (ended)
                break;
        }
        if (fd >= 0)
            ::close(fd);

        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        QCOMPARE(archives().size(), archivesBefore + (signal == 0 ? 1 : 0));
        QCOMPARE(packageFolders(), QStringList());
        if (signal != 0)
            QVERIFY2(out.contains("ОШИБКА!!! Прервано пользователем"),
                     out.replace('x', QByteArray()).constData());
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_cmdline.moc"
