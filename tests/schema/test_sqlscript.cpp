#include "engine/sqlscript.h"

#include <QtTest>

class TestSqlScript : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void split_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("statements");

        QTest::newRow("plain") << QStringLiteral("SELECT 1;\nSELECT 2;")
                               << QStringList{QStringLiteral("SELECT 1"),
                                              QStringLiteral("SELECT 2")};
        QTest::newRow("last without semicolon")
            << QStringLiteral("SELECT 1;\n  SELECT 2  \n")
            << QStringList{QStringLiteral("SELECT 1"), QStringLiteral("SELECT 2")};
        QTest::newRow("empty pieces and comments only")
            << QStringLiteral(";;\n-- nothing here;\n/* nor; here */ ;\n") << QStringList{};
        QTest::newRow("comments before a statement are dropped")
            << QStringLiteral("/* Brigade */\nCREATE TABLE Brigade (BrgGID INTEGER);\n"
                              "-- the next one\nSELECT 1;")
            << QStringList{QStringLiteral("CREATE TABLE Brigade (BrgGID INTEGER)"),
                           QStringLiteral("SELECT 1")};
        QTest::newRow("semicolons in literals and identifiers")
            << QStringLiteral("INSERT INTO T VALUES ('a;b', 'it''s;', \"c;d\");SELECT 2")
            << QStringList{QStringLiteral("INSERT INTO T VALUES ('a;b', 'it''s;', \"c;d\")"),
                           QStringLiteral("SELECT 2")};
        QTest::newRow("comment markers inside a literal")
            << QStringLiteral("SELECT '--;', '/*;'; SELECT 3")
            << QStringList{QStringLiteral("SELECT '--;', '/*;'"), QStringLiteral("SELECT 3")};
        QTest::newRow("dollar-quoted body")
            << QStringLiteral("CREATE FUNCTION F() RETURNS trigger AS $$\nBEGIN\n  X := 1;\n"
                              "  RETURN NEW;\nEND;\n$$ LANGUAGE plpgsql;\nSELECT $1;")
            << QStringList{QStringLiteral("CREATE FUNCTION F() RETURNS trigger AS $$\nBEGIN\n"
                                          "  X := 1;\n  RETURN NEW;\nEND;\n$$ LANGUAGE plpgsql"),
                           QStringLiteral("SELECT $1")};
        QTest::newRow("tagged dollar quote holding $$")
            << QStringLiteral("SELECT $body$ a $$ ; b $body$; SELECT 4")
            << QStringList{QStringLiteral("SELECT $body$ a $$ ; b $body$"),
                           QStringLiteral("SELECT 4")};
        QTest::newRow("sqlite trigger body")
            << QStringLiteral("CREATE TRIGGER T AFTER INSERT ON A FOR EACH ROW\nBEGIN\n"
                              "  UPDATE A SET X = CASE WHEN NEW.Y IS NULL THEN 0 ELSE 1 END;\n"
                              "  DELETE FROM B;\nEND;\nSELECT 5;")
            << QStringList{QStringLiteral("CREATE TRIGGER T AFTER INSERT ON A FOR EACH ROW\nBEGIN\n"
                                          "  UPDATE A SET X = CASE WHEN NEW.Y IS NULL THEN 0 ELSE "
                                          "1 END;\n  DELETE FROM B;\nEND"),
                           QStringLiteral("SELECT 5")};
        QTest::newRow("temporary trigger")
            << QStringLiteral(
                   "create temp trigger t after delete on a begin select 1; end; select 6")
            << QStringList{
                   QStringLiteral("create temp trigger t after delete on a begin select 1; end"),
                   QStringLiteral("select 6")};
        QTest::newRow("postgresql trigger without a body")
            << QStringLiteral("CREATE TRIGGER T BEFORE INSERT ON A FOR EACH ROW EXECUTE FUNCTION "
                              "F('X');\nSELECT 7;")
            << QStringList{QStringLiteral("CREATE TRIGGER T BEFORE INSERT ON A FOR EACH ROW "
                                          "EXECUTE FUNCTION F('X')"),
                           QStringLiteral("SELECT 7")};
        QTest::newRow("transaction words outside triggers")
            << QStringLiteral("BEGIN; SELECT 8; END;")
            << QStringList{QStringLiteral("BEGIN"), QStringLiteral("SELECT 8"),
                           QStringLiteral("END")};
        QTest::newRow("unterminated literal runs to the end")
            << QStringLiteral("SELECT 'abc; SELECT 9")
            << QStringList{QStringLiteral("SELECT 'abc; SELECT 9")};
        QTest::newRow("cyrillic") << QStringLiteral("-- Справочник\nSELECT 'Гродно';")
                                  << QStringList{QStringLiteral("SELECT 'Гродно'")};
    }
    void split()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, statements);
        QCOMPARE(engine::SplitSqlScript(script), statements);
    }
};

QTEST_GUILESS_MAIN(TestSqlScript)
#include "test_sqlscript.moc"
