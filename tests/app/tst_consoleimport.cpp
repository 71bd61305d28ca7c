// The imports of the command line on a demo installation: a package imported before is refused
// without --force, and a batch goes on past a corrupt package, keeps it and says so.

#include "core/cp1251.h"
#include "demosite.h"
#include "jobtest.h"
#include "refusal.h"

#include <QProcess>
#include <QSqlQuery>
#include <QtTest>

class TestConsoleImport : public QObject
{
    Q_OBJECT

    std::unique_ptr<DemoSite> m_site;

    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Result run(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        const QString password = m_site->Password();
        env.insert(QStringLiteral("ZORU_PASSWORD"),
                   password.isEmpty() ? QStringLiteral("x") : password);
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(m_site->folder + QStringLiteral("/zoru-admin"), args);
        p.waitForFinished(300000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    // A fresh demo installation for every test.
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        m_site.reset();
        m_site = std::make_unique<DemoSite>();
        const QString error =
            m_site->Create(backend, {QStringLiteral("zoru-admin"), QStringLiteral("zoru-arc")});
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    void cleanupTestCase() { m_site.reset(); }

    void repeatedPackage()
    {
        const QString p = m_site->Package(10);
        QCOMPARE(run({QStringLiteral("--import"), p}).exitCode, 0);
        QVERIFY(!QFile::exists(p));

        m_site->Restore(p);
        const Result again = run({QStringLiteral("--import"), p});
        QCOMPARE(again.exitCode, 4);
        QVERIFY2(again.out.contains(QStringLiteral("Пакет уже импортирован ")),
                 qPrintable(again.out));
        QVERIFY(again.err.contains(QStringLiteral("--force")));
        QVERIFY(QFile::exists(p));
        QCOMPARE(m_site->JournalRuns(), QStringList{QStringLiteral("успешно:1")});

        QCOMPARE(run({QStringLiteral("--import"), p, QStringLiteral("--force")}).exitCode, 0);
        QCOMPARE(m_site->JournalRuns(), QStringList{QStringLiteral("успешно:2")});
        QCOMPARE(run({QStringLiteral("--export"), QStringLiteral("1"), QStringLiteral("--force")})
                     .exitCode,
                 2);
    }

    // Five packages, the third corrupt: four are imported oldest first and removed, the corrupt
    // one stays, the summary lists all five and the exit status says not all went in.
    void batch()
    {
        QStringList names;
        const QDateTime t0(QDate(2024, 3, 15), QTime(12, 0));
        for (int i = 0; i < 5; ++i) {
            const QString p = m_site->Package(8);
            if (i == 2)
                testsupport::writeFile(p, "not an archive at all");
            QFile f(p);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.setFileTime(t0.addSecs(-60 * i), QFileDevice::FileModificationTime);
            names.prepend(QFileInfo(p).fileName()); // written last, oldest
        }
        const QString corrupt = names[2];

        const Result r = run({QStringLiteral("--import-all")});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(QDir(m_site->ImportFolder()).entryList(QDir::Files), QStringList{corrupt});
        QStringList rows;
        QStringList expected;
        for (const QString &name : std::as_const(names)) {
            expected << name + (name == corrupt ? QStringLiteral(" no") : QStringLiteral(" ok"));
            for (const QString &line : r.out.split(QLatin1Char('\n')))
                if (line.startsWith(name))
                    rows << name + (line.contains(QStringLiteral("успешно"))
                                        ? QStringLiteral(" ok")
                                        : QStringLiteral(" no"));
        }
        QCOMPARE(rows, expected);
        QCOMPARE(m_site->JournalRuns(),
                 (QStringList{QStringLiteral("ошибка:1"), QStringLiteral("успешно:4")}));
        const QString log =
            cp1251::decode(testsupport::readFile(m_site->folder + QStringLiteral("/log.txt")));
        QVERIFY(log.contains(QStringLiteral("Пакетов: 5, успешно: 4, с ошибкой: 1")));

        // Nothing left but the corrupt one: a second batch fails on it alone.
        QCOMPARE(run({QStringLiteral("--import-all")}).exitCode, 1);
        QCOMPARE(m_site->JournalRuns(),
                 (QStringList{QStringLiteral("ошибка:2"), QStringLiteral("успешно:4")}));
        QFile::remove(m_site->ImportFolder() + QLatin1Char('/') + corrupt);
        QCOMPARE(run({QStringLiteral("--import-all")}).exitCode, 0);
    }

    // A person the database refuses: --import stops at it (1) and keeps the package;
    // --import --keep-going and --import-all --keep-going skip it with what depends on it (5, "с
    // пропусками", the package kept); after the mend --import brings the rest (0).
    void keepGoing()
    {
        const QString p = m_site->Package(10);
        {
            const std::unique_ptr<TDatabase> db = m_site->Connect();
            refusal::Refuse(*db, "INSERT", QStringLiteral("PERSON"),
                            QStringLiteral("NEW.PRNLID = 3"));
        }
        QCOMPARE(run({QStringLiteral("--import"), p}).exitCode, 1);
        QVERIFY(QFile::exists(p));
        QCOMPARE(run({QStringLiteral("--import"), p, QStringLiteral("--keep-going")}).exitCode, 5);
        QVERIFY(QFile::exists(p));
        const Result skipped =
            run({QStringLiteral("--import-all"), QStringLiteral("--keep-going")});
        QCOMPARE(skipped.exitCode, 5);
        QVERIFY2(skipped.out.contains(QStringLiteral("с пропусками")), qPrintable(skipped.out));
        QVERIFY(QFile::exists(p));
        {
            const std::unique_ptr<TDatabase> db = m_site->Connect();
            refusal::Mend(*db, QStringLiteral("PERSON"));
        }
        QCOMPARE(run({QStringLiteral("--import"), p}).exitCode, 0);
        QVERIFY(!QFile::exists(p));
        QCOMPARE(m_site->JournalRuns(),
                 (QStringList{QStringLiteral("ошибка:1"), QStringLiteral("с пропусками:2"),
                              QStringLiteral("успешно:1")}));
    }
};

QTEST_GUILESS_MAIN(TestConsoleImport)
#include "tst_consoleimport.moc"
