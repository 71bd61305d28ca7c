// Many programs on one central database at once, on each backend: the scheduled import, a second
// administrator's import, the synchronisation and an export. They wait for each other; none fails
// or refuses a row because another was busy, and every package ends imported once.

#include "core/inifile.h"
#include "demosite.h"
#include "jobtest.h"
#include "schema/importlock.h"

#include <QProcess>
#include <QSqlQuery>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestManyHands : public QObject
{
    Q_OBJECT

    std::unique_ptr<DemoSite> m_site;

    std::unique_ptr<QProcess> start(const QStringList &args)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        const QString password = m_site->Password().isEmpty() ? u"x"_s : m_site->Password();
        env.insert(u"ZORU_PASSWORD"_s, password);
        env.insert(u"ZORU_ESVS_PASSWORD"_s, password);
        p->setProcessEnvironment(env);
        p->setStandardInputFile(QProcess::nullDevice());
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(m_site->folder + u"/zoru-admin"_s, args);
        return p;
    }
    struct Result
    {
        int exitCode = -1;
        QString out;
    };
    static Result finish(QProcess &p)
    {
        p.waitForFinished(300000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAll())};
    }
    Result run(const QStringList &args) { return finish(*start(args)); }

    qint64 persons()
    {
        const std::unique_ptr<TDatabase> db = m_site->Connect();
        QSqlQuery q(db->Sql());
        q.exec(u"SELECT COUNT(*) FROM PERSON"_s);
        q.next();
        return q.value(0).toLongLong();
    }
    QStringList importFolder() const { return jobtest::folderContents(m_site->ImportFolder()); }
    void setBusyWait(int seconds)
    {
        TIniFile(m_site->folder + u"/zoru-admin.ini"_s)
            .WriteInteger(u"Settings"_s, u"BusyWait"_s, seconds);
    }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        m_site.reset();
        m_site = std::make_unique<DemoSite>();
        const QString error = m_site->Create(backend, {u"zoru-admin"_s, u"zoru-arc"_s});
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    void cleanupTestCase() { m_site.reset(); }

    // Another import holds the lock: the batch of the timer leaves at once, touching nothing; an
    // import of one package waits up to the limit in the open, or until it is stopped; the state
    // shows who imports what. Once the lock is free, the package goes in.
    void lockHeld_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says");
        QTest::newRow("batch") << QStringList{u"--import-all"_s} << 7 << u"Импорт выполняет "_s;
        QTest::newRow("one package, limit")
            << QStringList{u"--import"_s, u"P"_s} << 7 << u"Ожидание: Импорт выполняет "_s;
        QTest::newRow("one package, stopped")
            << QStringList{u"--import"_s, u"P"_s} << 128 + 15 << u"Ожидание: Импорт выполняет "_s;
        QTest::newRow("state") << QStringList{u"--status"_s} << -1
                               << u"Идёт импорт: выполняет holder на elsewhere"_s;
    }
    void lockHeld()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        const QString package = m_site->Package(5);
        args.replaceInStrings(u"P"_s, package);
        const bool stopped = exitCode == 128 + 15;
        setBusyWait(stopped ? 60 : 2);
        const QStringList before = importFolder();
        Result r;
        {
            const std::unique_ptr<TDatabase> db = m_site->Connect();
            TImportLockHolder holder = TImportLockHolder::ThisProcess(u"окно"_s);
            holder.User = u"holder"_s;
            holder.Host = u"elsewhere"_s;
            holder.Package = u"held.w2s"_s;
            const std::unique_ptr<TImportLock> lock = TImportLock::TryTake(*db, holder);
            QVERIFY(lock);
            const std::unique_ptr<QProcess> p = start(args);
            if (stopped) {
                QTRY_VERIFY_WITH_TIMEOUT(p->peek(1 << 16).contains("Ожидание"), 60000);
                p->terminate();
            }
            r = finish(*p);
        }
        QVERIFY2(r.out.contains(says), qPrintable(r.out));
        if (exitCode < 0) {
            QVERIFY2(r.out.contains(u"пакет held.w2s"_s), qPrintable(r.out));
            return;
        }
        QCOMPARE(r.exitCode, exitCode);
        if (args.first() == u"--import-all"_s)
            QCOMPARE(r.out.trimmed().count(u'\n'), 0);
        QCOMPARE(m_site->JournalRuns(), QStringList());
        QCOMPARE(importFolder(), before);
        // The lock given back, the same command imports the package.
        QCOMPARE(run(args).exitCode, 0);
        QCOMPARE(m_site->JournalRuns(), QStringList{u"успешно:1"_s});
        QVERIFY(!QFile::exists(package));
    }

    // A batch killed while it imports leaves its lock to the system and its work folder behind:
    // the next run takes the lock over, removes the folder and imports every package once.
    void killedHolder()
    {
        const QString big = m_site->Package(400, true);
        const QString small = m_site->Package(5);
        const qint64 before = persons();
        const std::unique_ptr<QProcess> p = start({u"--import-all"_s});
        const auto runFolder = [&] {
            for (const QString &f : QDir(m_site->ImportFolder()).entryList(QDir::Dirs))
                if (f.contains(u".run"_s))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(runFolder() || p->state() == QProcess::NotRunning, 120000);
        if (p->state() == QProcess::NotRunning)
            QSKIP("the batch ended before it could be killed");
        p->kill();
        p->waitForFinished();
        QVERIFY(runFolder());

        QVERIFY(!run({u"--status"_s}).out.contains(u"Идёт импорт"_s));
        const Result r = run({u"--import-all"_s});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(u"Удалена папка прерванного импорта"_s), qPrintable(r.out));
        QVERIFY(!runFolder());
        QVERIFY(!QFile::exists(big) && !QFile::exists(small));
        QCOMPARE(persons() - before, 405);
        QVERIFY(!m_site->JournalRuns().join(u' ').contains(u"ошибка"_s));
    }

    // Two batches, an import of a package a batch also holds, the synchronisation and an export,
    // started together: each waits for the others; a batch that met another leaves with 7, the
    // single import of a package imported meanwhile says so with 4; nothing fails, no hospital
    // is refused, and after one more batch every package is in once.
    void manyAtOnce()
    {
        QStringList packages{m_site->Package(60), m_site->Package(60, true), m_site->Package(60),
                             m_site->Package(60, true)};
        const qint64 before = persons();
        struct Started
        {
            QStringList args;
            QList<int> allowed;
            std::unique_ptr<QProcess> p;
        };
        std::vector<Started> all;
        all.push_back({{u"--import-all"_s}, {0, 7}, {}});
        all.push_back({{u"--import"_s, packages[0]}, {0, 4}, {}});
        all.push_back({{u"--sync"_s}, {0}, {}});
        all.push_back({{u"--import-all"_s}, {0, 7}, {}});
        all.push_back({{u"--export"_s, u"1"_s}, {0}, {}});
        for (Started &s : all)
            s.p = start(s.args);
        for (Started &s : all) {
            const Result r = finish(*s.p);
            const QString what = s.args.join(u' ') + u": "_s + r.out;
            QVERIFY2(s.allowed.contains(r.exitCode), qPrintable(what));
            QVERIFY2(!r.out.contains(u"locked"_s) && !r.out.contains(BusyMessage) &&
                         !r.out.contains(u"ОШИБКА!!!"_s),
                     qPrintable(what));
        }
        const Result last = run({u"--import-all"_s});
        QCOMPARE(last.exitCode, 0);
        QCOMPARE(m_site->JournalRuns(), QStringList{u"успешно:4"_s});
        QCOMPARE(persons() - before, 240);
        for (const QString &p : std::as_const(packages))
            QVERIFY(!QFile::exists(p));
    }
};

QTEST_GUILESS_MAIN(TestManyHands)
#include "tst_manyhands.moc"
