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
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

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

    // A run without a display; env: "NAME=value" to set, "NAME" to remove.
    static QProcessEnvironment environment(const QStringList &env)
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            e.remove(QLatin1String(name));
        for (const QString &s : env) {
            if (s.contains(u'='))
                e.insert(s.section(u'=', 0, 0), s.section(u'=', 1));
            else
                e.remove(s);
        }
        return e;
    }

    // A null password leaves ZORU_PASSWORD unset. program: zoru-admin, or zoru (the command line
    // without the desktop).
    Result run(const QStringList &args, const QString &password = u"x"_s,
               const QStringList &extraEnv = {}, const QString &folder = {},
               const QString &program = u"zoru-admin"_s)
    {
        QProcess p;
        p.setProcessEnvironment(environment(
            QStringList{password.isNull() ? u"ZORU_PASSWORD"_s : u"ZORU_PASSWORD="_s + password} +
            extraEnv));
        p.start((folder.isEmpty() ? m_folder : folder) + u'/' + program, args);
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
        for (const QString &tool : {u"zoru-admin"_s, u"zoru"_s, u"zoru-arc"_s}) {
            if (!QFile::copy(bin + u'/' + tool, folder + u'/' + tool))
                return {};
            QFile::setPermissions(folder + u'/' + tool,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QStringList args = {u"--folder"_s, folder, u"--scale"_s, u"0.05"_s};
        if (pg) {
            *pgDatabase = testsupport::createPgDatabase(*pg, u"zoru_console"_s);
            args << u"--postgres"_s << u"%1:%2:%3"_s.arg(pg->host).arg(pg->port).arg(*pgDatabase)
                 << u"--user"_s << pg->user << u"--password"_s << pg->password;
        }
        if (QProcess::execute(bin + u"/zoru-demo"_s, args) != 0)
            return {};
        return folder;
    }

    // The first value of a statement on an SQLite file, or on the server's database of that
    // name when pg is given: 0 when it gives no row, -1 when it fails.
    static qint64 query(const QString &database, const QString &sql,
                        const std::optional<testsupport::PgServer> &pg = {})
    {
        qint64 value = -1;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(pg ? u"QPSQL"_s : u"QSQLITE"_s, u"check"_s);
            if (pg) {
                db.setHostName(pg->host);
                db.setPort(pg->port);
                db.setUserName(pg->user);
                db.setPassword(pg->password);
            }
            db.setDatabaseName(database);
            if (db.open()) {
                QSqlQuery q(db);
                if (q.exec(sql))
                    value = q.next() ? q.value(0).toLongLong() : 0;
            }
        }
        QSqlDatabase::removeDatabase(u"check"_s);
        return value;
    }

    // Puts a file's old content back when destroyed.
    struct FileRestorer
    {
        QString path;
        QByteArray saved = testsupport::readFile(path);
        ~FileRestorer() { testsupport::writeFile(path, saved); }
    };

    QStringList archives() const
    {
        QStringList out;
        QDirIterator it(m_folder + u"/export"_s, {u"*.s2w"_s}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next();
        return out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = makeInstallation(u"Программа"_s, {}, nullptr);
        QVERIFY(!m_folder.isEmpty());
    }

    // Then once more without the variable and without a terminal: the password is empty and
    // SQLite asks none.
    void exportWritesArchive()
    {
        const Result r = run({u"--export"_s, u"2"_s});
        QVERIFY2(r.exitCode == 0, qPrintable(QString(r.out + r.err)));
        QVERIFY(r.out.contains(u"Экспорт данных завершен"_s));
        QVERIFY(r.err.contains(u"100%"_s));
        QCOMPARE(archives().size(), 1);
        // The same lines went to log.txt, in cp1251.
        QVERIFY(cp1251::decode(testsupport::readFile(m_folder + u"/log.txt"_s))
                    .contains(u"> Экспорт данных завершен\r\n"_s));
        // Package names carry the time to the second: a new second, a new package.
        QTest::qWait(1100);
        const Result again = run({u"--export"_s, u"2"_s}, QString());
        QVERIFY2(again.exitCode == 0, qPrintable(QString(again.out + again.err)));
    }

    // Exit statuses: 1 when the job failed, 2 for a wrong command line, 3 when --sync refused
    // hospitals. A change, put back after the row: "ini <from> <to>" in the ini file, else SQL
    // on the ЕСВС database.
    void exitCodes_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("program");
        const auto row = [](const char *name, const char *args, const char *change, int code,
                            const char *said, const char *program = "zoru-admin") {
            QTest::newRow(name) << args << QString::fromUtf8(change) << code << said << program;
        };
        row("no such workstation", "--export 987654", "", 1,
            "ОШИБКА!!! Рабочая станция не найдена: WstGID = 987654");
        row("not a number", "--export x1", "", 2, "Неверный идентификатор рабочей станции: x1");
        row("unknown option", "--frobnicate", "", 2,
            "Неизвестный параметр командной строки: frobnicate");
        row("broken configuration checked first", "--export 2",
            "ini AIS_RODE_EXPORT= AIS_RODE_EXPORT=/no/such/folder/x", 1,
            "Отсутствует или неверна информация о расположении Баз Данных");
        row("help names the password variable", "--help", "", 0, "ZORU_PASSWORD");
        row("help names the ЕСВС password variable", "--help", "", 0, "ZORU_ESVS_PASSWORD");
        row("help in Russian, Qt's own words too", "--help", "", 0, "Использование: ");
        row("sync, hospital refused", "--sync",
            "UPDATE MU SET MU = NULL WHERE IDMU = (SELECT MAX(IDMU) FROM MU)", 3, "IDMU = ");
        row("sync, not the server", "--sync", "ini IsServer=1 IsServer=0", 1, "Функция недоступна");
        row("sync, no ЕСВС alias", "--sync", "ini AIS_RODE_ESVS_DB=ZORU_ESVS AIS_RODE_ESVS_DB=", 1,
            "Ключ 'Settings\\AIS_RODE_ESVS_DB' не найден");
        row("sync, stray argument", "--sync x", "", 2, "Неизвестные параметры");
        row("sync and export", "--sync --export 2", "", 2, "Неизвестные параметры");
        row("version", "--version", "", 0, "zoru-admin 1.0");
        row("csv without status", "--csv", "", 2, "Неизвестные параметры");
        row("silent days not a number", "--status --silent-days x", "", 2,
            "Неверное число дней: x");
        row("no such site", "--site /no/such/site --status", "", 1,
            "Папка узла (--site) не найдена: /no/such/site");
        // The demo's workstations were never given a package: every one is silent.
        row("status, all silent", "--status --silent-days 3650", "", 6, "молчат дольше 3650 дн.: ");
        row("status, limit 0 over the configuration's", "--status --silent-days 0", "", 6,
            "молчат дольше 0 дн.: ");
        row("import, empty path", "--import ", "", 2, "Не указан пакет в параметре --import");
        // zoru, the command line without the desktop, is the same command line.
        row("zoru: version", "--version", "", 0, "zoru-admin 1.0", "zoru");
        row("zoru: no command", "--site .", "", 2, "Неизвестные параметры", "zoru");
        row("zoru: status, all silent", "--status --silent-days 3650", "", 6,
            "молчат дольше 3650 дн.: ", "zoru");
        row("zoru: sync, hospital refused", "--sync",
            "UPDATE MU SET MU = NULL WHERE IDMU = (SELECT MAX(IDMU) FROM MU)", 3,
            "IDMU = ", "zoru");
    }
    void exitCodes()
    {
        QFETCH(QString, args);
        QFETCH(QString, change);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(QString, program);
        const QString esvs = m_folder + u"/data/esvs.db"_s;
        FileRestorer restoreIni{m_folder + u"/zoru-admin.ini"_s};
        FileRestorer restoreEsvs{esvs};
        if (change.startsWith(u"ini "_s)) {
            const QStringList part = change.split(u' ');
            QByteArray text = restoreIni.saved;
            QVERIFY(text.contains(part[1].toLatin1()));
            testsupport::writeFile(restoreIni.path,
                                   text.replace(part[1].toLatin1(), part[2].toLatin1()));
        } else if (!change.isEmpty()) {
            QCOMPARE(query(esvs, change), 0);
        }
        const Result r = run(args.split(u' '), u"x"_s, {}, {}, program);
        QCOMPARE(r.exitCode, exitCode);
        const QString all = r.out + r.err;
        QVERIFY2(all.contains(said), qPrintable(all));
    }

    // A demo workstation's package goes in with --import; the same package once more adds no
    // row; a package that is not there fails the job and the program.
    void importOnDemo()
    {
        const auto makePackage = [&] {
            QProcess p;
            p.start(qEnvironmentVariable("ZORU_PROGRAM_DIR") + u"/zoru-demo"_s,
                    {u"--folder"_s, m_folder, u"--package"_s, u"120"_s, u"--seed"_s, u"5"_s});
            p.waitForFinished(120000);
            return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed().section(u'\n', -1);
        };
        const auto rows = [&] {
            return query(m_folder + u"/data/central.db"_s,
                         u"SELECT (SELECT COUNT(*) FROM PERSON) + (SELECT COUNT(*) "
                         "FROM DOCUMENT) + (SELECT COUNT(*) FROM AUXCITY) + "
                         "(SELECT COUNT(*) FROM CITY) + (SELECT COUNT(*) FROM "
                         "PRIMDIAG) + (SELECT COUNT(*) FROM MAPDIAG)"_s);
        };
        const qint64 before = rows();
        qint64 imported = -1;
        for (int pass = 0; pass < 2; ++pass) {
            const QString package = makePackage();
            QVERIFY2(QFileInfo::exists(package), qPrintable(package));
            const Result r = run({u"--import"_s, package});
            QVERIFY2(r.exitCode == 0, qPrintable(QString(r.out + r.err)));
            QVERIFY(r.out.contains(u"Импорт данных завершен"_s));
            QVERIFY(!QFileInfo::exists(package));
            if (pass == 0)
                imported = rows();
        }
        QVERIFY(imported > before);
        QCOMPARE(rows(), imported);
        const Result r = run({u"--import"_s, m_folder + u"/import/none.w2s"_s});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains(u"ОШИБКА!!! "_s), qPrintable(r.out));
    }

    // --sync on a demo installation: ЕСВС's new region, type and hospitals come in and every
    // hospital with an address has its region. The ЕСВС password comes from its own variable,
    // never the central one.
    void syncOnDemo_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }
    void syncOnDemo()
    {
        QFETCH(bool, postgres);
        std::optional<testsupport::PgServer> pg;
        QString folder = m_folder, database = m_folder + u"/data/central.db"_s;
        if (postgres) {
            ZORU_REQUIRE_PG_OR_SKIP(server);
            pg = server;
            folder = makeInstallation(u"pg"_s, pg, &database);
            QVERIFY(!folder.isEmpty());
        }
        const QString password = pg ? pg->password : u"x"_s;
        if (pg) {
            for (const QString &env :
                 QStringList{u"ZORU_ESVS_PASSWORD"_s, u"ZORU_ESVS_PASSWORD="_s + password + u'-'}) {
                const Result r = run({u"--sync"_s}, password, {env}, folder);
                QVERIFY2(r.exitCode == 1, qPrintable(QString(r.out + r.err)));
            }
        }
        const Result r =
            run({u"--sync"_s}, password, {u"ZORU_ESVS_PASSWORD="_s + password}, folder);
        QVERIFY2(r.exitCode == 0, qPrintable(QString(r.out + r.err)));
        QVERIFY(r.out.contains(u"Импорт данных завершен"_s));
        QVERIFY(r.err.contains(u"100%"_s));
        const std::pair<const char *, qint64> counts[] = {
            {"SELECT COUNT(*) FROM REGION WHERE REGOKATO = '84000000000'", 1},
            {"SELECT COUNT(*) FROM REGION WHERE REGOKATO LIKE '% %'", 0},
            {"SELECT COUNT(*) FROM HOSPTYPE WHERE IDTMU = 115", 1},
            {"SELECT COUNT(*) FROM HOSPITAL H JOIN HOSPTYPE T ON T.HTPGID = H.HTPGID "
             "WHERE T.IDTMU = 115",
             1},
            {"SELECT COUNT(*) FROM HOSPITAL WHERE IDADRES IS NOT NULL AND REGGID IS NULL", 0},
            {"SELECT CASE WHEN COUNT(*) > 0 THEN 1 END FROM HOSPITAL WHERE REGGID IS NOT NULL", 1}};
        for (const auto &[sql, n] : counts)
            QVERIFY2(query(database, QString::fromUtf8(sql), pg) == n, sql);
        if (pg) {
            testsupport::dropPgDatabase(*pg, database);
            testsupport::dropPgDatabase(*pg, database + u"_esvs"_s);
        }
    }

    // Qt's own options keep the desktop program: it still runs (at its log-in or main window)
    // long after the command line would have refused them; Qt has no runtime folder to warn
    // about.
    void qtOptionsKeepTheDesktop_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("-platform offscreen") << QStringList{u"-platform"_s, u"offscreen"_s};
        QTest::newRow("-style, -reverse, -platform")
            << QStringList{u"-style"_s, u"Fusion"_s, u"-reverse"_s, u"-platform"_s, u"offscreen"_s};
    }
    void qtOptionsKeepTheDesktop()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.setProcessEnvironment(environment({u"XDG_RUNTIME_DIR"_s, u"ZORU_PASSWORD=x"_s}));
        p.start(m_folder + u"/zoru-admin"_s, args);
        QVERIFY(p.waitForStarted());
        const bool ended = p.waitForFinished(2500);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        p.kill();
        p.waitForFinished();
        QVERIFY2(!ended, qPrintable(err));
        // The program gives itself a runtime folder when the session has none.
        QVERIFY2(!err.contains(u"XDG_RUNTIME_DIR"_s), qPrintable(err));
    }

    // Output to a pipe whose reader has gone (| head) is not fatal to any command: the exit
    // status is the command's own.
    void closedPipe_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("--status") << QStringList{u"--status"_s} << 6;
        QTest::newRow("--status --csv") << QStringList{u"--status"_s, u"--csv"_s} << 6;
        QTest::newRow("--help") << QStringList{u"--help"_s} << 0;
        QTest::newRow("--version") << QStringList{u"--version"_s} << 0;
    }
    void closedPipe()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QProcess p;
        p.setProcessEnvironment(environment({u"XDG_RUNTIME_DIR"_s, u"ZORU_PASSWORD=x"_s}));
        // The child's standard output: a pipe read by nobody.
        p.setChildProcessModifier([] {
            int ends[2];
            if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0)
                ::_exit(99);
            ::close(ends[0]);
            ::close(ends[1]);
        });
        p.start(m_folder + u"/zoru-admin"_s, args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
    }

    // A signal during --export sets the job's stop flag: the job ends with its message, its
    // package folder goes, no archive is made and the exit code is 128 + the signal. Output to
    // a closed pipe (| head) is not fatal: the export completes.
    void interruptedExport_data()
    {
        QTest::addColumn<int>("signal"); // 0: the reader of the output goes away
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGTERM") << int(SIGTERM) << 128 + SIGTERM;
        QTest::newRow("SIGINT") << int(SIGINT) << 128 + SIGINT;
        QTest::newRow("closed pipe") << 0 << 0;
    }
    void interruptedExport()
    {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        // Package names carry the time to the second: a new second, a new package.
        QTest::qWait(1100);
        const QString fifo = m_dir.filePath(u"out.fifo"_s);
        QFile::remove(fifo);
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        int fd = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
        QVERIFY(fd >= 0);
        if (signal != 0) {
            // A full pipe holds the job at its first line until the signal has arrived.
            const QByteArray block(512, 'x');
            while (::write(fd, block.constData(), block.size()) > 0 || ::write(fd, "x", 1) > 0) {
            }
        }
        const auto logSize = [&] { return QFileInfo(m_folder + u"/log.txt"_s).size(); };
        const qint64 logBefore = logSize();
        const qsizetype archivesBefore = archives().size();

        QProcess p;
        p.setProcessEnvironment(environment({u"XDG_RUNTIME_DIR"_s, u"ZORU_PASSWORD=x"_s}));
        p.setStandardOutputFile(fifo);
        p.start(m_folder + u"/zoru-admin"_s, {u"--export"_s, u"2"_s});
        QVERIFY(p.waitForStarted());
        // The job has been created (it opens the log) once the log grows.
        QDeadlineTimer deadline(20000);
        while (logSize() <= logBefore && !deadline.hasExpired())
            QThread::msleep(5);
        QVERIFY(!deadline.hasExpired());
        // The job stays at its first line while the pipe is full: time enough to be sure it runs.
        QThread::msleep(300);
        if (signal != 0) {
            QCOMPARE(::kill(static_cast<pid_t>(p.processId()), signal), 0);
        } else {
            ::close(fd);
            fd = -1;
        }
        QByteArray out;
        char buffer[4096];
        for (;;) {
            const bool ended = p.waitForFinished(20);
            for (qint64 n = 0; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                out.append(buffer, static_cast<qsizetype>(n));
            if (ended)
                break;
        }
        if (fd >= 0)
            ::close(fd);

        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        QCOMPARE(archives().size(), archivesBefore + (signal == 0 ? 1 : 0));
        // No package folder is left below the hospital folders.
        const QDir exportDir(m_folder + u"/export"_s);
        for (const QString &owner : exportDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QCOMPARE(QDir(exportDir.filePath(owner)).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                     QStringList());
        if (signal != 0)
            QVERIFY2(out.contains("ОШИБКА!!! Прервано пользователем"),
                     out.replace('x', QByteArray()).constData());
    }
};

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
