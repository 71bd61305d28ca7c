#include "core/cp1251.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
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

    // env: "NAME=value" to set, "NAME" to remove.
    Result run(const QStringList &args, const QByteArray &input = {},
               const QString &password = QStringLiteral("x"), const QStringList &extraEnv = {},
               const QString &folder = {})
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
        for (const QString &e : extraEnv) {
            if (e.contains(QLatin1Char('=')))
                env.insert(e.section(QLatin1Char('='), 0, 0), e.section(QLatin1Char('='), 1));
            else
                env.remove(e);
        }
        p.setProcessEnvironment(env);
        p.start((folder.isEmpty() ? m_folder : folder) + QStringLiteral("/zoru-admin"), args);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(120000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    // A demo installation of its own, its central and ЕСВС databases on the server when pg is
    // given (the central database's name in *pgDatabase). Empty when it could not be made.
    QString makeInstallation(const QString &name, const std::optional<testsupport::PgServer> &pg,
                             QString *pgDatabase)
    {
        const QString folder = m_dir.filePath(name);
        QDir().mkpath(folder);
        const QString bin = qEnvironmentVariable("ZORU_PROGRAM_DIR");
        for (const QString &tool : {QStringLiteral("zoru-admin"), QStringLiteral("zoru-arc")})
            if (!QFile::copy(bin + QLatin1Char('/') + tool, folder + QLatin1Char('/') + tool))
                return {};
        QStringList args = {QStringLiteral("--folder"), folder, QStringLiteral("--scale"),
                            QStringLiteral("0.05")};
        if (pg) {
            *pgDatabase = testsupport::createPgDatabase(*pg, QStringLiteral("zoru_console"));
            args << QStringLiteral("--postgres")
                 << QStringLiteral("%1:%2:%3").arg(pg->host).arg(pg->port).arg(*pgDatabase)
                 << QStringLiteral("--user") << pg->user << QStringLiteral("--password")
                 << pg->password;
        }
        if (QProcess::execute(bin + QStringLiteral("/zoru-demo"), args) != 0)
            return {};
        return folder;
    }

    // Replaces text in the ini file; the returned guard puts the old file back.
    struct FileRestorer
    {
        QString path;
        QByteArray saved;
        ~FileRestorer() { testsupport::writeFile(path, saved); }
    };

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
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << 2
                                        << "Неизвестный параметр командной строки: frobnicate";
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

    // A demo workstation's package goes in with --import; the same package once more adds no row.
    void importOnDemo()
    {
        const QString bin = qEnvironmentVariable("ZORU_PROGRAM_DIR");
        const auto makePackage = [&] {
            QProcess p;
            p.start(bin + QStringLiteral("/zoru-demo"),
                    {QStringLiteral("--folder"), m_folder, QStringLiteral("--package"),
                     QStringLiteral("120"), QStringLiteral("--seed"), QStringLiteral("5")});
            p.waitForFinished(120000);
            return QString::fromLocal8Bit(p.readAllStandardOutput())
                .trimmed()
                .section(QLatin1Char('\n'), -1);
        };
        const auto rows = [&] {
            qint64 total = -1;
            {
                QSqlDatabase db =
                    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rows"));
                db.setDatabaseName(m_folder + QStringLiteral("/data/central.db"));
                if (db.open()) {
                    QSqlQuery q(db);
                    if (q.exec(QStringLiteral(
                            "SELECT (SELECT COUNT(*) FROM PERSON) + (SELECT COUNT(*) FROM "
                            "DOCUMENT) "
                            "+ (SELECT COUNT(*) FROM AUXCITY) + (SELECT COUNT(*) FROM CITY) + "
                            "(SELECT COUNT(*) FROM PRIMDIAG) + (SELECT COUNT(*) FROM MAPDIAG)")) &&
                        q.next())
                        total = q.value(0).toLongLong();
                }
            }
            QSqlDatabase::removeDatabase(QStringLiteral("rows"));
            return total;
        };
        const qint64 before = rows();
        QString package = makePackage();
        QVERIFY2(QFileInfo::exists(package), qPrintable(package));
        Result r = run({QStringLiteral("--import"), package});
        QVERIFY2(r.exitCode == 0, qPrintable(QString(r.out + r.err)));
        QVERIFY(r.out.contains(QStringLiteral("Импорт данных завершен")));
        QVERIFY(!QFileInfo::exists(package));
        const qint64 imported = rows();
        QVERIFY(imported > before);

        package = makePackage();
        r = run({QStringLiteral("--import"), package});
        QVERIFY2(r.exitCode == 0, qPrintable(QString(r.out + r.err)));
        QCOMPARE(rows(), imported);

        // A package that is not there: the job fails, and so does the program.
        r = run({QStringLiteral("--import"), m_folder + QStringLiteral("/import/none.w2s")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains(QStringLiteral("ОШИБКА!!! ")), qPrintable(r.out));
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

    // --sync on a demo installation: ЕСВС's new region, type and hospitals come in and every
    // hospital with an address has its region. The ЕСВС password comes from its own variable.
    void syncOnDemo_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("sqlite") << false;
        if (testsupport::pgServer() || testsupport::pgRequired())
            QTest::newRow("postgresql") << true;
    }
    void syncOnDemo()
    {
        QFETCH(bool, postgres);
        std::optional<testsupport::PgServer> pg;
        if (postgres) {
            ZORU_REQUIRE_PG_OR_SKIP(server);
            pg = server;
        }
        QString pgDatabase;
        const QString folder = makeInstallation(
            postgres ? QStringLiteral("pg") : QStringLiteral("sqlite"), pg, &pgDatabase);
        QVERIFY(!folder.isEmpty());
        const QString password = pg ? pg->password : QStringLiteral("x");
        const QString esvsPassword = QStringLiteral("ZORU_ESVS_PASSWORD=") + password;
        if (pg) {
            // The central password is not the ЕСВС one: without its own, ЕСВС refuses.
            const QString wrong =
                QStringLiteral("ZORU_ESVS_PASSWORD=") + password + QStringLiteral("-");
            for (const QString &env : {QStringLiteral("ZORU_ESVS_PASSWORD"), wrong}) {
                const Result r = run({QStringLiteral("--sync")}, {}, password, {env}, folder);
                QVERIFY2(r.exitCode == 1, qPrintable(QString(r.out + r.err)));
            }
        }
        const Result r = run({QStringLiteral("--sync")}, {}, password, {esvsPassword}, folder);
        QVERIFY2(r.exitCode == 0, qPrintable(QString(r.out + r.err)));
        QVERIFY(r.out.contains(QStringLiteral("Импорт данных завершен")));
        QVERIFY(r.err.contains(QStringLiteral("100%")));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(
                pg ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), QStringLiteral("check"));
            if (pg) {
                db.setHostName(pg->host);
                db.setPort(pg->port);
                db.setUserName(pg->user);
                db.setPassword(pg->password);
                db.setDatabaseName(pgDatabase);
            } else {
                db.setDatabaseName(folder + QStringLiteral("/data/central.db"));
            }
            QVERIFY(db.open());
            const auto count = [&db](const char *sql) {
                QSqlQuery q(db);
                return q.exec(QString::fromUtf8(sql)) && q.next() ? q.value(0).toInt() : -1;
            };
            QCOMPARE(count("SELECT COUNT(*) FROM REGION WHERE REGOKATO = '84000000000'"), 1);
            QCOMPARE(count("SELECT COUNT(*) FROM REGION WHERE REGOKATO LIKE '% %'"), 0);
            QCOMPARE(count("SELECT COUNT(*) FROM HOSPTYPE WHERE IDTMU = 115"), 1);
            QCOMPARE(count("SELECT COUNT(*) FROM HOSPITAL H JOIN HOSPTYPE T ON T.HTPGID = "
                           "H.HTPGID WHERE T.IDTMU = 115"),
                     1);
            QCOMPARE(count("SELECT COUNT(*) FROM HOSPITAL WHERE IDADRES IS NOT NULL AND REGGID IS "
                           "NULL"),
                     0);
            QVERIFY(count("SELECT COUNT(*) FROM HOSPITAL WHERE REGGID IS NOT NULL") > 0);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
        if (pg) {
            testsupport::dropPgDatabase(*pg, pgDatabase);
            testsupport::dropPgDatabase(*pg, pgDatabase + QStringLiteral("_esvs"));
        }
    }

    // Exit statuses of --sync: 3 when hospitals were refused, 1 when it failed, 2 for a wrong
    // command line.
    void syncExitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("iniFrom");
        QTest::addColumn<QByteArray>("iniTo");
        QTest::addColumn<QString>("esvsSql");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QStringList sync = {QStringLiteral("--sync")};
        QTest::newRow("hospital refused")
            << sync << QByteArray() << QByteArray()
            << "UPDATE MU SET MU = NULL WHERE IDMU = (SELECT MAX(IDMU) FROM MU)" << 3 << "IDMU = ";
        QTest::newRow("not the server")
            << sync << QByteArray("IsServer=1") << QByteArray("IsServer=0") << QString() << 1
            << "Функция недоступна";
        QTest::newRow("no ЕСВС alias")
            << sync << QByteArray("AIS_RODE_ESVS_DB=ZORU_ESVS") << QByteArray("AIS_RODE_ESVS_DB=")
            << QString() << 1 << "Ключ 'Settings\\AIS_RODE_ESVS_DB' не найден";
        QTest::newRow("stray argument")
            << QStringList{QStringLiteral("--sync"), QStringLiteral("x")} << QByteArray()
            << QByteArray() << QString() << 2 << "Неизвестные параметры";
        QTest::newRow("two jobs") << QStringList{QStringLiteral("--sync"),
                                                 QStringLiteral("--export"), QStringLiteral("2")}
                                  << QByteArray() << QByteArray() << QString() << 2
                                  << "Неизвестные параметры";
        QTest::newRow("help names the ЕСВС password variable")
            << QStringList{QStringLiteral("--help")} << QByteArray() << QByteArray() << QString()
            << 0 << "ZORU_ESVS_PASSWORD";
    }
    void syncExitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, iniFrom);
        QFETCH(QByteArray, iniTo);
        QFETCH(QString, esvsSql);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        const QString ini = m_folder + QStringLiteral("/zoru-admin.ini");
        const QString esvs = m_folder + QStringLiteral("/data/esvs.db");
        FileRestorer restoreIni{ini, testsupport::readFile(ini)};
        FileRestorer restoreEsvs{esvs, testsupport::readFile(esvs)};
        if (!iniFrom.isEmpty()) {
            QByteArray text = restoreIni.saved;
            QVERIFY(text.contains(iniFrom));
            testsupport::writeFile(ini, text.replace(iniFrom, iniTo));
        }
        if (!esvsSql.isEmpty()) {
            {
                QSqlDatabase db =
                    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("esvs"));
                db.setDatabaseName(esvs);
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec(esvsSql));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("esvs"));
        }
        const Result r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        const QString all = r.out + r.err;
        QVERIFY2(all.contains(said), qPrintable(all));
    }
};

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
