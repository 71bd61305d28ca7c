// Operator scripts, byte for byte, and their folder, name and failure rules.
#include "../data/centraldb.h"
#include "admin/opscripts.h"
#include "core/cp1251.h"
#include "core/errors.h"
#include "core/paths.h"
#include "ui/dialogs.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QDateTime kNow(QDate(2005, 6, 1), QTime(9, 30, 0));

QStringList (*const kWriters[])(const TOperatorValues &) = {&WriteInsertScript, &WriteUpdateScript,
                                                            &WritePasswordResetScript};

QString exportPath(const QTemporaryDir &dir)
{
    return paths::includeTrailing(dir.path());
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

class TestOpScripts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        TDialogs::Reset();
        TDialogs::SetTestMode(true);
    }

    void bytes_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("wst");
        QTest::addColumn<QString>("wstName");
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text");
        QTest::newRow("insert, quote in name")
            << 0 << 42 << "Станция 1"
            << "ЦРБ"
            << "O'Brien"
            << "ЦРБ"
            << "Станция 1_20050601093000.sql"
            << "/*\r\n000042_20050601093000_на ЦРБ\r\n*/\r\n"
               "INSERT INTO Operator (WstGID, UserGID, UserName, UserHash, UserLevel)\r\n"
               "VALUES (42,3,'O''Brien','0',1);\r\n";
        QTest::newRow("update, long owner, long name")
            << 1 << 1234567 << "Очень длинное имя"
            << "Городская больница: \"Север\"/корпус 1 и 2"
            << "ПЕТРОВ"
            << "Городская больница_ Север_корп"
            << "Очень длинно_20050601093000.sql"
            << "/*\r\n1234567_20050601093000_на Городская больница_ Север_корпус 1 и 2\r\n*/\r\n"
               "UPDATE Operator\r\nSET\r\n\tUserName='ПЕТРОВ',\r\n\tUserHash='0',\r\n"
               "\tUserLevel=1\r\nWHERE\r\n\tUserGID=3\r\n\tAND\r\n\tWstGID=1234567;\r\n";
        QTest::newRow("reset, unsafe names, comment end in owner")
            << 2 << 7 << "A/B:\"C\""
            << "a*/b "
            << "X"
            << "a*_b"
            << "A_B_C_20050601093000.sql"
            << "/*\r\n000007_20050601093000_на a*_b \r\n*/\r\n"
               "UPDATE Operator\r\nSET\r\n\tUserHash='0'\r\nWHERE\r\n\tUserGID=3\r\n\tAND\r\n"
               "\tWstGID=7;\r\n";
    }
    void bytes()
    {
        QFETCH(int, kind);
        QFETCH(int, wst);
        QFETCH(QString, wstName);
        QFETCH(QString, owner);
        QFETCH(QString, userName);
        QFETCH(QString, folder);
        QFETCH(QString, file);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const TOperatorValues op{wst, 3.0, userName, QStringLiteral("0"), 1};
        TDialogs::SetNextAnswer(TDialogs::Button::Ok);
        QVERIFY(
            SaveScriptReporting(kWriters[kind](op), {wst, wstName, owner}, exportPath(dir), kNow));
        const QString expectedFolder = exportPath(dir) + folder;
        QCOMPARE(TDialogs::AskedSoFar().value(0).text,
                 QStringLiteral("Файлы, готовые к отправке, находятся в папке: ") + expectedFolder);
        QCOMPARE(filesIn(expectedFolder), QStringList{file});
        QCOMPARE(testsupport::readFile(expectedFolder + QLatin1Char('/') + file),
                 *cp1251::encodeStrict(text));
    }

    // A second script in the same second takes the next free second, in name and header.
    void sameSecond()
    {
        QTemporaryDir dir;
        const TScriptTarget target{42, QStringLiteral("Ст"), QStringLiteral("ЦРБ")};
        const TOperatorValues op{42, 3, QStringLiteral("A"), QStringLiteral("0"), 0};
        SaveScript(WriteInsertScript(op), target, exportPath(dir), kNow);
        SaveScript(WritePasswordResetScript(op), target, exportPath(dir), kNow);
        const QString folder = exportPath(dir) + QStringLiteral("ЦРБ/");
        QCOMPARE(filesIn(folder), (QStringList{QStringLiteral("Ст_20050601093000.sql"),
                                               QStringLiteral("Ст_20050601093001.sql")}));
        QVERIFY(testsupport::readFile(folder + QStringLiteral("Ст_20050601093000.sql"))
                    .contains("INSERT"));
        QVERIFY(testsupport::readFile(folder + QStringLiteral("Ст_20050601093001.sql"))
                    .startsWith(cp1251::encode(QStringLiteral("/*\r\n000042_20050601093001_на"))));
    }

    // A failed command shows its error and leaves no script behind.
    void failures_data()
    {
        QTest::addColumn<QString>("subfolder");
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("message");
        QTest::newRow("folder cannot be made") << "missing/"
                                               << "A"
                                               << "Невозможно создать папку\r%1missing/ЦРБ";
        QTest::newRow("name outside cp1251") << ""
                                             << "李"
                                             << "кодировки 1251";
    }
    void failures()
    {
        QFETCH(QString, subfolder);
        QFETCH(QString, userName);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const TOperatorValues op{42, 3, userName, QStringLiteral("0"), 0};
        TDialogs::SetNextAnswer(TDialogs::Button::Ok);
        QVERIFY(!SaveScriptReporting(WriteInsertScript(op),
                                     {42, QStringLiteral("Ст"), QStringLiteral("ЦРБ")},
                                     exportPath(dir) + subfolder, kNow));
        const QList<TDialogs::Asked> asked = TDialogs::AskedSoFar();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.at(0).kind, TDialogs::Kind::Error);
        QVERIFY2(asked.at(0).text.contains(
                     QString(message).replace(QStringLiteral("%1"), exportPath(dir))),
                 qPrintable(asked.at(0).text));
        QCOMPARE(filesIn(exportPath(dir) + QStringLiteral("ЦРБ")), QStringList{});
    }

    // The scripts go where the workstation's packages go: its hospital first, else its brigade.
    void target_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("SQLITE");
        QTest::newRow("postgresql") << QStringLiteral("POSTGRESQL");
    }
    void target()
    {
        QFETCH(QString, backend);
        if (backend == QLatin1String("POSTGRESQL")) {
            ZORU_REQUIRE_PG_OR_SKIP(pg);
            Q_UNUSED(pg);
        }
        CentralDb c(backend);
        c.Exec(QStringLiteral("INSERT INTO HOSPITAL (HSPGID, IDMU, MU) VALUES (10, 1, 'ЦРБ')"));
        c.Exec(QStringLiteral("INSERT INTO BRIGADE (BRGGID, BRGNAME) VALUES (5, 'Бригада')"));
        c.Exec(QStringLiteral("INSERT INTO WORKSTATION (WSTGID, WSTNAME, HSPGID, BRGGID) VALUES "
                              "(1, 'Обе', 10, 5), (2, 'Бриг', NULL, 5), (3, 'Ничья', NULL, NULL)"));
        const TScriptTarget both = ScriptTargetOf(c.Db(), 1);
        QCOMPARE(both.OwnerName, QStringLiteral("ЦРБ"));
        QCOMPARE(both.WstName, QStringLiteral("Обе"));
        QCOMPARE(ScriptTargetOf(c.Db(), 2).OwnerName, QStringLiteral("Бригада"));
        QVERIFY_THROWS_EXCEPTION(Exception, ScriptTargetOf(c.Db(), 3));
        QVERIFY_THROWS_EXCEPTION(Exception, ScriptTargetOf(c.Db(), 99));
    }
};

QTEST_MAIN(TestOpScripts)
#include "tst_opscripts.moc"
