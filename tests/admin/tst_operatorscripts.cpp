// Operator scripts, byte for byte, and their folder, name and failure rules.
#include "admin/operatorscripts.h"
#include "centraldb.h"
#include "core/cp1251.h"
#include "core/errors.h"
#include "core/paths.h"
#include "package/packagetables.h"
#include "ui/dialogs.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

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

// A script of a kind (0 insert, 1 update, 2 password reset) for workstation wst of wstName
// belonging to owner, for operator userName: the folder, file and text it is written as.
struct Script
{
    int kind, wst;
    QString wstName, owner, userName, folder, file, text;
};

} // namespace

Q_DECLARE_METATYPE(Script)

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
        QTest::addColumn<Script>("c");
        QTest::newRow("insert, quote in name")
            << Script(0, 42, u"Станция 1"_s, u"ЦРБ"_s, u"O'Brien"_s, u"ЦРБ"_s,
                      u"Станция 1_20050601093000.sql"_s,
                      u"/*\r\n000042_20050601093000_на ЦРБ\r\n*/\r\n"
                      "INSERT INTO Operator (WstGID, UserGID, UserName, UserHash, UserLevel)\r\n"
                      "VALUES (42,3,'O''Brien','0',1);\r\n"_s);
        QTest::newRow("update, long owner, long name") << Script(
            1, 1234567, u"Очень длинное имя"_s, u"Городская больница: \"Север\"/корпус 1 и 2"_s,
            u"ПЕТРОВ"_s, u"Городская больница_ Север_корп"_s, u"Очень длинно_20050601093000.sql"_s,
            u"/*\r\n1234567_20050601093000_на Городская больница_ Север_корпус 1 и 2"
            "\r\n*/\r\nUPDATE Operator\r\nSET\r\n\tUserName='ПЕТРОВ',\r\n"
            "\tUserHash='0',\r\n\tUserLevel=1\r\nWHERE\r\n\tUserGID=3\r\n\tAND\r\n"
            "\tWstGID=1234567;\r\n"_s);
        // Doubled inside the statement's literal only; the header and the file name keep it.
        QTest::newRow("update, quotes in name, station and owner") << Script(
            1, 42, u"Каб 'А'"_s, u"ЦРБ им. О'Нила"_s, u"Д'АРТАНЬЯН"_s, u"ЦРБ им. О'Нила"_s,
            u"Каб 'А'_20050601093000.sql"_s,
            u"/*\r\n000042_20050601093000_на ЦРБ им. О'Нила\r\n*/\r\nUPDATE Operator\r\nSET\r\n"
            "\tUserName='Д''АРТАНЬЯН',\r\n\tUserHash='0',\r\n\tUserLevel=1\r\nWHERE\r\n"
            "\tUserGID=3\r\n\tAND\r\n\tWstGID=42;\r\n"_s);
        QTest::newRow("reset, unsafe names, comment end in owner") << Script(
            2, 7, u"A/B:\"C\""_s, u"a*/b "_s, u"X"_s, u"a*_b"_s, u"A_B_C_20050601093000.sql"_s,
            u"/*\r\n000007_20050601093000_на a*_b \r\n*/\r\nUPDATE Operator\r\nSET\r\n"
            "\tUserHash='0'\r\nWHERE\r\n\tUserGID=3\r\n\tAND\r\n\tWstGID=7;\r\n"_s);
    }
    void bytes()
    {
        QFETCH(Script, c);
        const auto &[kind, wst, wstName, owner, userName, folder, file, text] = c;
        QTemporaryDir dir;
        const TOperatorValues op{wst, 3.0, userName, u"0"_s, 1};
        TDialogs::SetNextAnswer(TDialogs::Button::Ok);
        QVERIFY(
            SaveScriptReporting(kWriters[kind](op), {wst, wstName, owner}, exportPath(dir), kNow));
        const QString expectedFolder = exportPath(dir) + folder;
        QCOMPARE(TDialogs::AskedSoFar().value(0).text,
                 u"Файлы, готовые к отправке, находятся в папке: "_s + expectedFolder);
        QCOMPARE(filesIn(expectedFolder), QStringList{file});
        QCOMPARE(testsupport::readFile(expectedFolder + u'/' + file), *cp1251::encodeStrict(text));
    }

    // A second script in the same second takes the next free second, in name and header.
    void sameSecond()
    {
        QTemporaryDir dir;
        const TScriptTarget target{42, u"Ст"_s, u"ЦРБ"_s};
        const TOperatorValues op{42, 3, u"A"_s, u"0"_s, 0};
        SaveScript(WriteInsertScript(op), target, exportPath(dir), kNow);
        SaveScript(WritePasswordResetScript(op), target, exportPath(dir), kNow);
        const QString folder = exportPath(dir) + u"ЦРБ/"_s;
        QCOMPARE(filesIn(folder),
                 (QStringList{u"Ст_20050601093000.sql"_s, u"Ст_20050601093001.sql"_s}));
        QVERIFY(testsupport::readFile(folder + u"Ст_20050601093000.sql"_s).contains("INSERT"));
        QVERIFY(testsupport::readFile(folder + u"Ст_20050601093001.sql"_s)
                    .startsWith(cp1251::encode(u"/*\r\n000042_20050601093001_на"_s)));
    }

    // A failed command shows its error and leaves no script behind.
    void failures_data()
    {
        QTest::addColumn<QString>("subfolder");
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("message");
        QTest::newRow("folder cannot be made")
            << u"missing/"_s << u"A"_s << u"Невозможно создать папку\r%1missing/ЦРБ"_s;
        QTest::newRow("name outside cp1251") << QString() << u"李"_s << u"кодировки 1251"_s;
    }
    void failures()
    {
        QFETCH(QString, subfolder);
        QFETCH(QString, userName);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const TOperatorValues op{42, 3, userName, u"0"_s, 0};
        TDialogs::SetNextAnswer(TDialogs::Button::Ok);
        QVERIFY(!SaveScriptReporting(WriteInsertScript(op), {42, u"Ст"_s, u"ЦРБ"_s},
                                     exportPath(dir) + subfolder, kNow));
        const QList<TDialogs::Asked> asked = TDialogs::AskedSoFar();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.at(0).kind, TDialogs::Kind::Error);
        QVERIFY2(asked.at(0).text.contains(QString(message).replace(u"%1"_s, exportPath(dir))),
                 qPrintable(asked.at(0).text));
        QCOMPARE(filesIn(exportPath(dir) + u"ЦРБ"_s), QStringList{});
    }

    // The scripts go where the workstation's packages go: its hospital first, else its brigade.
    void target_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << u"SQLITE"_s;
        QTest::newRow("postgresql") << u"POSTGRESQL"_s;
    }
    void target()
    {
        QFETCH(QString, backend);
        if (backend == QLatin1String("POSTGRESQL")) {
            ZORU_REQUIRE_PG_OR_SKIP(pg);
            Q_UNUSED(pg);
        }
        CentralDb c(backend);
        c.Exec(u"INSERT INTO HOSPITAL (HSPGID, IDMU, MU) VALUES (10, 1, 'ЦРБ')"_s);
        c.Exec(u"INSERT INTO BRIGADE (BRGGID, BRGNAME) VALUES (5, 'Бригада')"_s);
        c.Exec(u"INSERT INTO WORKSTATION (WSTGID, WSTNAME, HSPGID, BRGGID) VALUES "
               "(1, 'Обе', 10, 5), (2, 'Бриг', NULL, 5), (3, 'Ничья', NULL, NULL)"_s);
        TSIEDM dm(&c.Db(), nullptr);
        const TScriptTarget both = ScriptTargetOf(dm, 1);
        QCOMPARE(both.OwnerName, u"ЦРБ"_s);
        QCOMPARE(both.WstName, u"Обе"_s);
        QCOMPARE(ScriptTargetOf(dm, 2).OwnerName, u"Бригада"_s);
        QVERIFY_THROWS_EXCEPTION(Exception, ScriptTargetOf(dm, 3));
        QVERIFY_THROWS_EXCEPTION(Exception, ScriptTargetOf(dm, 99));
    }
};

QTEST_MAIN(TestOpScripts)
#include "tst_operatorscripts.moc"
