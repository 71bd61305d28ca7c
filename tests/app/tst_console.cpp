#include "core/cp1251.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The command-line mode as an administrator's script uses it: the real program in a program
// folder of its own, with no display.
class TestConsole : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_folder;

    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    Result run(const QStringList &args, const QByteArray &input = {},
               const QString &password = QStringLiteral("x"))
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (password.isNull())
            env.remove(QStringLiteral("ZORU_PASSWORD"));
        else
            env.insert(QStringLiteral("ZORU_PASSWORD"), password);
        p.setProcessEnvironment(env);
        p.start(m_folder + QStringLiteral("/zoru-admin"), args);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(120000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
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
    }

    void exportWritesArchive()
    {
        const Result r = run({QStringLiteral("--export"), QStringLiteral("2")});
        QVERIFY2(r.exitCode == 0, qPrintable(QString(r.out + r.err)));
        QVERIFY(r.out.contains(QStringLiteral("Экспорт данных завершен")));
        QVERIFY(r.err.contains(QStringLiteral("100%")));
        QCOMPARE(archives().size(), 1);
        // The same lines went to log.txt, in cp1251.
        QFile log(m_folder + QStringLiteral("/log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(cp1251::decode(log.readAll())
                    .contains(QStringLiteral("> Экспорт данных завершен\r\n")));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::newRow("no such workstation")
            << QStringList{QStringLiteral("--export"), QStringLiteral("987654")} << 1
            << "ОШИБКА!!! Рабочая станция не найдена: WstGID = 987654";
        QTest::newRow("not a number")
            << QStringList{QStringLiteral("--export"), QStringLiteral("x1")} << 2
            << "Неверный идентификатор рабочей станции: x1";
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--import")} << 2
                                        << "Неизвестный параметр командной строки: import";
        QTest::newRow("help names the password variable")
            << QStringList{QStringLiteral("--help")} << 0 << "ZORU_PASSWORD";
    }
    void exitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        const Result r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        const QString all = r.out + r.err;
        QVERIFY2(all.contains(said), qPrintable(all));
    }

    // Without the variable and without a terminal the password is empty: SQLite asks none.
    void passwordFromNowhere()
    {
        // Package names carry the time to the second: a new second, a new package.
        QTest::qWait(1100);
        const Result r = run({QStringLiteral("--export"), QStringLiteral("2")}, {}, QString());
        QVERIFY2(r.exitCode == 0, qPrintable(QString(r.out + r.err)));
    }

    // The configuration checks of the desktop program come first.
    void brokenConfigurationEndsTheRun()
    {
        const QString ini = m_folder + QStringLiteral("/zoru-admin.ini");
        QFile f(ini);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray saved = f.readAll();
        f.close();
        QByteArray broken = saved;
        broken.replace("AIS_RODE_EXPORT=", "AIS_RODE_EXPORT=/no/such/folder/x");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(broken);
        f.close();
        const Result r = run({QStringLiteral("--export"), QStringLiteral("2")});
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(saved);
        f.close();
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(
            QStringLiteral("Отсутствует или неверна информация о расположении Баз Данных")));
    }
};

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
