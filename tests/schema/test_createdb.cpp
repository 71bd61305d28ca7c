#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

Result runTool(const QStringList &args)
{
    QProcess p;
    p.start(
        QDir(qEnvironmentVariable("ZORU_PROGRAM_DIR")).filePath(QStringLiteral("zoru-createdb")),
        args);
    if (!p.waitForFinished(120000))
        qFatal("zoru-createdb did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QStringList tablesOf(const QString &file)
{
    QStringList tables;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(file);
        if (db.open())
            tables = db.tables();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return tables;
}

} // namespace

class TestCreateDb : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void createsSqliteFile_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("someTable");
        QTest::newRow("central") << QStringLiteral("central") << QStringLiteral("SCRININGCARD");
        QTest::newRow("esvs") << QStringLiteral("ESVS") << QStringLiteral("MU");
    }
    void createsSqliteFile()
    {
        QFETCH(QString, script);
        QFETCH(QString, someTable);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("центр.db"));
        const Result r =
            runTool({QStringLiteral("--sqlite"), file, QStringLiteral("--script"), script});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.out.contains(QStringLiteral("База данных создана")));
        QVERIFY(tablesOf(file).contains(someTable));
    }

    void refusesExistingFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("c.db"));
        testsupport::writeFile(file, "keep me");
        const Result r = runTool({QStringLiteral("--sqlite"), file, QStringLiteral("--script"),
                                  QStringLiteral("central")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("Файл уже существует")), qPrintable(r.err));
        QCOMPARE(testsupport::readFile(file), QByteArray("keep me"));
    }

    void createsForAlias()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("esvs.db"));
        testsupport::writeFile(file, {});
        const QString aliases = dir.filePath(QStringLiteral("aliases.ini"));
        testsupport::writeFile(
            aliases, "[ESVS_DB]\r\nTYPE=SQLITE\r\nDATABASE NAME=" + file.toUtf8() + "\r\n");
        Result r = runTool({QStringLiteral("--aliases"), aliases, QStringLiteral("--alias"),
                            QStringLiteral("esvs_db"), QStringLiteral("--script"),
                            QStringLiteral("esvs")});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(tablesOf(file).contains(QStringLiteral("ADRES")));

        // A second run fails on the tables that are there, with the engine's word for it.
        r = runTool({QStringLiteral("--aliases"), aliases, QStringLiteral("--alias"),
                     QStringLiteral("ESVS_DB"), QStringLiteral("--script"),
                     QStringLiteral("esvs")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("Не удалось создать базу данных")),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("already exists")), qPrintable(r.err));

        r = runTool({QStringLiteral("--aliases"), aliases, QStringLiteral("--alias"),
                     QStringLiteral("NOPE"), QStringLiteral("--script"), QStringLiteral("esvs")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("NOPE")), qPrintable(r.err));
    }

    void createsOnPostgresql()
    {
        ZORU_REQUIRE_PG_OR_SKIP(pg);
        const QString name = testsupport::createPgDatabase(pg, QStringLiteral("zoru_createdb"));
        QTemporaryDir dir;
        const QString aliases = dir.filePath(QStringLiteral("aliases.ini"));
        testsupport::writeFile(aliases,
                               "[KZ]\r\nTYPE=POSTGRESQL\r\nSERVER NAME=" + pg.host.toUtf8() +
                                   "\r\nPORT=" + QByteArray::number(pg.port) +
                                   "\r\nDATABASE NAME=" + name.toUtf8() +
                                   "\r\nUSER NAME=" + pg.user.toUtf8() + "\r\n");
        // The user name comes from the alias; only the password is given.
        const Result r =
            runTool({QStringLiteral("--aliases"), aliases, QStringLiteral("--alias"),
                     QStringLiteral("KZ"), QStringLiteral("--script"), QStringLiteral("central"),
                     QStringLiteral("--password"), pg.password});
        testsupport::dropPgDatabase(pg, name);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    }

    void commandLineErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no script")
            << QStringList{QStringLiteral("--sqlite"), QStringLiteral("x.db")}
            << QStringLiteral("Не указан сценарий");
        QTest::newRow("unknown script")
            << QStringList{QStringLiteral("--sqlite"), QStringLiteral("x.db"),
                           QStringLiteral("--script"), QStringLiteral("other")}
            << QStringLiteral("Неизвестный сценарий");
        QTest::newRow("no target")
            << QStringList{QStringLiteral("--script"), QStringLiteral("esvs")}
            << QStringLiteral("Укажите либо");
        QTest::newRow("both targets")
            << QStringList{QStringLiteral("--sqlite"), QStringLiteral("x.db"),
                           QStringLiteral("--alias"),  QStringLiteral("A"),
                           QStringLiteral("--script"), QStringLiteral("esvs")}
            << QStringLiteral("Укажите либо");
        QTest::newRow("alias without file")
            << QStringList{QStringLiteral("--alias"), QStringLiteral("A"),
                           QStringLiteral("--script"), QStringLiteral("esvs")}
            << QStringLiteral("оба параметра");
    }
    // Installed beside zoru-admin, it speaks Russian in its help, Qt's own words too.
    void helpInRussian()
    {
        const Result r = runTool({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("Использование: ")) && !r.out.contains(u"Options:"),
                 qPrintable(r.out));
    }
    void commandLineErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        const Result r = runTool(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("x.db"))));
    }
};

QTEST_GUILESS_MAIN(TestCreateDb)
#include "test_createdb.moc"
