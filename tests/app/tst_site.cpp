// The program as a package installs it: its executable in a folder of its own, which it never
// writes, and its site elsewhere. The site is found by --site, by ZORU_SITE or in the user's
// data folder; a site moves as a whole; --status tells from the journals who has gone quiet.

#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestSite : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_bin; // the installed programs' folder, without a configuration

    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    // A run without a display and without a terminal; env: "NAME=value" to set, "NAME" to
    // remove.
    Result admin(const QStringList &args, const QStringList &env = {u"ZORU_PASSWORD=x"_s})
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ZORU_SITE", "ZORU_PASSWORD"})
            e.remove(QLatin1String(name));
        e.insert(u"XDG_DATA_HOME"_s, m_dir.filePath(u"xdg"_s));
        for (const QString &s : env) {
            if (s.contains(u'='))
                e.insert(s.section(u'=', 0, 0), s.section(u'=', 1));
            else
                e.remove(s);
        }
        QProcess p;
        p.setProcessEnvironment(e);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(m_bin + u"/zoru-admin"_s, args);
        p.waitForFinished(300000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    static QString demo(const QStringList &args)
    {
        QProcess p;
        p.start(qEnvironmentVariable("ZORU_PROGRAM_DIR") + u"/zoru-demo"_s, args);
        p.waitForFinished(300000);
        return p.exitCode() == 0 ? QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed()
                                 : QString();
    }

    // Runs statements on the SQLite central database of a demo site.
    static bool sql(const QString &site, const QStringList &statements)
    {
        bool ok = true;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"site"_s);
            db.setDatabaseName(site + u"/data/central.db"_s);
            ok = db.open();
            for (const QString &s : statements)
                ok = ok && QSqlQuery(db).exec(s);
        }
        QSqlDatabase::removeDatabase(u"site"_s);
        return ok;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_bin = m_dir.filePath(u"bin"_s);
        QVERIFY(QDir().mkpath(m_bin));
        for (const QString &program : {u"zoru-admin"_s, u"zoru-arc"_s})
            QVERIFY(QFile::copy(qEnvironmentVariable("ZORU_PROGRAM_DIR") + u'/' + program,
                                m_bin + u'/' + program));
        QVERIFY(QFile::setPermissions(m_bin, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                 QFile::ExeGroup));
    }
    void cleanupTestCase()
    {
        QFile::setPermissions(m_bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Without a site named and without a configuration beside it, the program makes the user's
    // own site on its first start (the import and export folders named in its configuration)
    // and asks for the rest as on any first start; the program's folder stays as it was.
    void firstStartInUserData()
    {
        const Result r = admin({u"--status"_s});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(u"Настройте папки в оконной программе."_s), qPrintable(r.err));
        const QDir site(m_dir.filePath(u"xdg/zoru-admin"_s));
        QVERIFY(site.exists(u"import"_s) && site.exists(u"export"_s));
        const QByteArray ini = testsupport::readFile(site.filePath(u"zoru-admin.ini"_s));
        QVERIFY2(ini.contains("AIS_RODE_IMPORT=import/"), ini.constData());
        QCOMPARE(QDir(m_bin).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 (QStringList{u"zoru-admin"_s, u"zoru-arc"_s}));
    }

    // A demo site named by --site takes packages and tells the state of its workstations; moved
    // to another path and named by ZORU_SITE, it goes on. --status exits 6 while a workstation
    // is silent for longer than the limit.
    void siteMovedAndWatched()
    {
        const QString made = m_dir.filePath(u"Узел"_s);
        QVERIFY(!demo({u"--folder"_s, made, u"--scale"_s, u"0.05"_s}).isEmpty());
        QVERIFY(!demo({u"--folder"_s, made, u"--package"_s, u"7"_s}).isEmpty());
        const Result imported = admin({u"--site"_s, made, u"--import-all"_s});
        QVERIFY2(imported.exitCode == 0, qPrintable(imported.out + imported.err));
        QVERIFY(QFileInfo::exists(made + u"/log.txt"_s));
        QCOMPARE(admin({u"--site"_s, made, u"--status"_s}).exitCode, 6);
        // Only the workstation that sent its package is left.
        QVERIFY(sql(made, {u"DELETE FROM WORKSTATION WHERE WSTGID NOT IN "
                           "(SELECT WSTGID FROM IMPORTJOURNAL)"_s}));
        const Result quiet = admin({u"--site"_s, made, u"--status"_s});
        QCOMPARE(quiet.exitCode, 0);
        QVERIFY2(quiet.out.contains(u"Рабочих станций: 1, молчат дольше 14 дн.: 0"_s),
                 qPrintable(quiet.out));

        const QString moved = m_dir.filePath(u"Перенесённый узел"_s);
        QVERIFY(QDir().rename(made, moved));
        QVERIFY(!demo({u"--folder"_s, moved, u"--package"_s, u"5"_s}).isEmpty());
        const Result again =
            admin({u"--import-all"_s}, {u"ZORU_PASSWORD=x"_s, u"ZORU_SITE="_s + moved});
        QVERIFY2(again.exitCode == 0, qPrintable(again.out + again.err));
        QVERIFY(QDir(moved + u"/import"_s).entryList(QDir::Files).isEmpty());
        QVERIFY(sql(moved, {u"UPDATE IMPORTJOURNAL SET ENDTIME = '2020-01-01T10:00:00'"_s}));
        const Result csv = admin({u"--site"_s, moved, u"--status"_s, u"--csv"_s});
        QCOMPARE(csv.exitCode, 6);
        const QStringList lines = csv.out.trimmed().split(u'\n');
        QVERIFY(lines.size() > 1);
        for (const QString &line : lines.mid(1))
            QVERIFY2(line.endsWith(u",1"_s), qPrintable(csv.out));
        QCOMPARE(
            admin({u"--site"_s, moved, u"--status"_s, u"--silent-days"_s, u"100000"_s}).exitCode,
            0);
    }

    // Run by a timer, nothing may be asked: without a terminal a server database needs its
    // password in the environment (set to nothing: a password given as empty), and its absence
    // fails at once.
    void scheduledRunAsksNothing_data()
    {
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no password") << QStringList{u"ZORU_PASSWORD"_s} << 1;
        QTest::newRow("empty password") << QStringList{u"ZORU_PASSWORD="_s} << 1;
    }
    void scheduledRunAsksNothing()
    {
        QFETCH(QStringList, env);
        QFETCH(int, exitCode);
        const QString site = m_dir.filePath(u"server"_s);
        QDir().mkpath(site + u"/in"_s);
        testsupport::writeFile(site + u"/zoru-admin.ini"_s,
                               "[Settings]\r\nIsServer=1\r\nAIS_RODE_SRV_DB=SRV\r\n"
                               "AIS_RODE_IMPORT=in/\r\nAIS_RODE_EXPORT=in/\r\n");
        // A server that is not there: only the question of the password is reached.
        testsupport::writeFile(site + u"/aliases.cfg"_s,
                               "[SRV]\r\nTYPE=POSTGRESQL\r\nSERVER NAME=127.0.0.1\r\nPORT=1\r\n"
                               "DATABASE NAME=none\r\n");
        const Result r = admin({u"--site"_s, site, u"--import-all"_s}, env);
        QCOMPARE(r.exitCode, exitCode);
        const bool missing = !env.first().contains(u'=');
        QCOMPARE(r.err.contains(u"Пароль центральной базы данных (псевдоним SRV) не задан: без "
                                "терминала он берётся из переменной окружения ZORU_PASSWORD"_s),
                 missing);
    }
};

QTEST_GUILESS_MAIN(TestSite)
#include "tst_site.moc"
