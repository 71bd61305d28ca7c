#include "core/aliases.h"
#include "core/errors.h"

#include <QTemporaryDir>
#include <QtTest>

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
