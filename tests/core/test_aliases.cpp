#include "core/aliases.h"
#include "core/errors.h"
#include "core/inifile.h"

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

class TestAliases : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file() const { return m_dir.filePath(QStringLiteral("aliases.cfg")); }

private Q_SLOTS:
    void init() { QFile::remove(file()); }

    void namesCompareWithoutCase()
    {
        TAliasStore s(file());
        s.AddStandardAlias(QStringLiteral("AIS_RODE_MAIN"), QStringLiteral("/data/main/"),
                           QStringLiteral("paradox"));
        QVERIFY(s.IsAlias(QStringLiteral("ais_rode_main")));
        QCOMPARE(s.GetAliasDriverName(QStringLiteral("Ais_Rode_Main")), QStringLiteral("PARADOX"));
        QCOMPARE(s.GetAliasParams(QStringLiteral("AIS_RODE_MAIN")),
                 QStringList{QStringLiteral("PATH=/data/main/")});
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, s.AddStandardAlias(QStringLiteral("ais_rode_MAIN"),
                                                                    {}, QStringLiteral("DBASE")));
    }

    void badDriverRefused()
    {
        TAliasStore s(file());
        QVERIFY_THROWS_EXCEPTION(
            EDBEngineError, s.AddStandardAlias(QStringLiteral("X"), {}, QStringLiteral("ORACLE")));
        QVERIFY(!s.IsAlias(QStringLiteral("X")));
    }

    void unknownAliasIsAnEngineError()
    {
        TAliasStore s(file());
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, s.GetAliasParams(QStringLiteral("nope")));
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, s.ModifyAlias(QStringLiteral("nope"), {}));
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, s.DeleteAlias(QStringLiteral("nope")));
    }

    // Persistent aliases survive a restart only once saved; run-only ones never reach the file.
    void survivesRestartOnlyAfterSave_data()
    {
        QTest::addColumn<bool>("runOnly");
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("survives");
        QTest::newRow("persistent, saved") << false << true << true;
        QTest::newRow("persistent, not saved") << false << false << false;
        QTest::newRow("run-only, saved") << true << true << false;
        QTest::newRow("run-only, not saved") << true << false << false;
    }
    void survivesRestartOnlyAfterSave()
    {
        QFETCH(bool, runOnly);
        QFETCH(bool, save);
        QFETCH(bool, survives);
        {
            TAliasStore s(file());
            s.AddAlias(QStringLiteral("KEEP"), QStringLiteral("SQLITE"),
                       {QStringLiteral("DATABASE NAME=/x/центр.db")});
            s.SaveConfigFile();
            if (runOnly)
                s.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
            s.AddAlias(QStringLiteral("Центр"), QStringLiteral("POSTGRESQL"),
                       {QStringLiteral("SERVER NAME=db.local"), QStringLiteral("PORT=5433"),
                        QStringLiteral("DATABASE NAME=kz")});
            QVERIFY(s.IsAlias(QStringLiteral("центр")));
            if (save)
                s.SaveConfigFile();
        }
        const TAliasStore again(file());
        QVERIFY(again.IsAlias(QStringLiteral("KEEP")));
        QCOMPARE(again.GetAliasParam(QStringLiteral("keep"), QStringLiteral("database name")),
                 QStringLiteral("/x/центр.db"));
        QCOMPARE(again.IsAlias(QStringLiteral("ЦЕНТР")), survives);
        if (survives) {
            QCOMPARE(again.GetAliasDriverName(QStringLiteral("Центр")),
                     QStringLiteral("POSTGRESQL"));
            QCOMPARE(
                again.GetAliasParams(QStringLiteral("Центр")),
                (QStringList{QStringLiteral("SERVER NAME=db.local"), QStringLiteral("PORT=5433"),
                             QStringLiteral("DATABASE NAME=kz")}));
        }
    }

    void modifyAndDeleteReachFileOnSave()
    {
        {
            TAliasStore s(file());
            s.AddStandardAlias(QStringLiteral("A"), QStringLiteral("/one/"),
                               QStringLiteral("PARADOX"));
            s.AddStandardAlias(QStringLiteral("B"), QStringLiteral("/two/"),
                               QStringLiteral("DBASE"));
            s.SaveConfigFile();
            s.ModifyAlias(QStringLiteral("a"),
                          {QStringLiteral("PATH=/uno/"), QStringLiteral("DEFAULT DRIVER=PARADOX")});
            s.DeleteAlias(QStringLiteral("b"));
            QCOMPARE(TAliasStore(file()).GetAliasNames(),
                     (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
            s.SaveConfigFile();
        }
        const TAliasStore again(file());
        QCOMPARE(again.GetAliasNames(), QStringList{QStringLiteral("A")});
        QCOMPARE(again.GetAliasParam(QStringLiteral("A"), QStringLiteral("PATH")),
                 QStringLiteral("/uno/"));
        QCOMPARE(again.GetAliasParam(QStringLiteral("A"), QStringLiteral("DEFAULT DRIVER")),
                 QStringLiteral("PARADOX"));
    }

    // The alias file and the ini file are replaced in one step: a rewrite that fails (the file
    // size limit, text outside code page 1251) keeps the old file byte for byte and says so; a
    // rewrite to the same content leaves the file untouched.
    void rewrites_data()
    {
        QTest::addColumn<bool>("aliases"); // the alias store, else an ini file
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("limitSize");
        const QString longPath = QStringLiteral("/data/") + QString(3000, QLatin1Char('x'));
        for (const bool aliases : {true, false}) {
            const char *file = aliases ? "aliases" : "ini";
            QTest::addRow("%s, size limit", file) << aliases << longPath << true;
            QTest::addRow("%s, outside 1251", file)
                << aliases << QStringLiteral("/data/✓/") << false;
            QTest::addRow("%s, unchanged", file)
                << aliases << QStringLiteral("/data/main/") << false;
        }
    }
    void rewrites()
    {
        QFETCH(bool, aliases);
        QFETCH(QString, value);
        QFETCH(bool, limitSize);
        const bool fails = value != QStringLiteral("/data/main/");
        TAliasStore store(file());
        store.AddStandardAlias(QStringLiteral("AIS_RODE_MAIN"), QStringLiteral("/data/main/"),
                               QStringLiteral("PARADOX"));
        store.SaveConfigFile();
        TIniFile ini(file());
        QFile f(file());
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QByteArray before = f.readAll();
        const QDateTime old(QDate(2001, 2, 3), QTime(4, 5, 6));
        QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        f.close();

        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = limitSize ? 1024 : saved.rlim_cur;
        setrlimit(RLIMIT_FSIZE, &lowered);
        QString error;
        try {
            if (aliases) {
                store.ModifyAlias(QStringLiteral("AIS_RODE_MAIN"),
                                  {QStringLiteral("PATH=") + value});
                store.SaveConfigFile();
            } else {
                ini.WriteString(QStringLiteral("AIS_RODE_MAIN"), QStringLiteral("PATH"), value);
            }
        } catch (const EFileError &e) {
            error = e.Message();
        }
        setrlimit(RLIMIT_FSIZE, &saved);

        QCOMPARE(!error.isEmpty(), fails);
        QVERIFY2(!fails || error.startsWith(QStringLiteral("Невозможно записать файл ") + file()),
                 qPrintable(error));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QCOMPARE(QFileInfo(file()).lastModified(), old);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("aliases.cfg")});
    }

    void runOnlyAliasesKeptAcrossReload()
    {
        TAliasStore s(file());
        s.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
        s.AddStandardAlias(QStringLiteral("AIS_RODE_SRV_IMPOR_TEMP"), QStringLiteral("/tmp/x/"),
                           QStringLiteral("PARADOX"));
        s.Load(file());
        QVERIFY(s.IsAlias(QStringLiteral("AIS_RODE_SRV_IMPOR_TEMP")));
        QVERIFY(!s.IsPersistent(QStringLiteral("AIS_RODE_SRV_IMPOR_TEMP")));
    }
};

QTEST_APPLESS_MAIN(TestAliases)
#include "test_aliases.moc"
