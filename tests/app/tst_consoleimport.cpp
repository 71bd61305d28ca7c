// The imports of the command line on a demo installation: a package imported before is refused
// without --force, and a batch goes on past a corrupt package, keeps it and says so.

#include "core/aliases.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "installation.h"
#include "package.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
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

} // namespace

class TestConsoleImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_folder;
    std::optional<testsupport::PgServer> m_pg;
    QString m_pgDatabase;
    int m_count = 0;

    bool install(const QString &backend)
    {
        m_folder = m_dir.filePath(QStringLiteral("Программа%1").arg(++m_count));
        QDir().mkpath(m_folder);
        const QString bin = qEnvironmentVariable("ZORU_PROGRAM_DIR");
        for (const QString &tool : {QStringLiteral("zoru-admin"), QStringLiteral("zoru-arc")}) {
            if (!QFile::copy(bin + QLatin1Char('/') + tool, m_folder + QLatin1Char('/') + tool))
                return false;
            QFile::setPermissions(m_folder + QLatin1Char('/') + tool,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        demo::Options options;
        options.folder = m_folder;
        options.scale = 0.05;
        m_pg.reset();
        if (backend == QLatin1String("POSTGRESQL")) {
            m_pg = testsupport::pgServer();
            if (!m_pg)
                return false;
            m_pgDatabase = testsupport::createPgDatabase(*m_pg, QStringLiteral("zoru_cli_import"));
            options.postgres =
                demo::PgTarget{m_pg->host, m_pg->port, m_pgDatabase, m_pg->user, m_pg->password};
        }
        try {
            demo::CreateInstallation(options);
        } catch (const Exception &e) {
            qWarning("%s", qPrintable(e.Message()));
            return false;
        }
        return true;
    }

    QString importDir() const { return m_folder + QStringLiteral("/import"); }

    QString package(int persons, int seed)
    {
        demo::PackageOptions o;
        o.folder = m_folder;
        o.persons = persons;
        o.seed = quint64(seed);
        if (m_pg)
            o.password = m_pg->password;
        return demo::WritePackage(o).firstVolume;
    }

    Result run(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("ZORU_PASSWORD"), m_pg ? m_pg->password : QStringLiteral("x"));
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(m_folder + QStringLiteral("/zoru-admin"), args);
        p.waitForFinished(300000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    // "result:count" of the journal's runs, in result order.
    QStringList journal()
    {
        TAliasStore aliases(QDir(m_folder).absoluteFilePath(StrConst::AliasFileName));
        TDatabase db(StrConst::CenterDatabaseName, &aliases);
        db.AliasName = demo::CenterAlias;
        db.LoginPrompt = false;
        if (m_pg)
            db.Params << QStringLiteral("USER NAME=") + m_pg->user
                      << QStringLiteral("PASSWORD=") + m_pg->password;
        db.Open();
        QSqlQuery q(db.Sql());
        q.exec(QStringLiteral(
            "SELECT RESULT, COUNT(*) FROM IMPORTJOURNAL GROUP BY RESULT ORDER BY RESULT"));
        QStringList out;
        while (q.next())
            out << q.value(0).toString() + QLatin1Char(':') + q.value(1).toString();
        return out;
    }

    QStringList importFiles() const { return QDir(importDir()).entryList(QDir::Files, QDir::Name); }

private Q_SLOTS:
    void backends_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("SQLITE");
        QTest::newRow("postgresql") << QStringLiteral("POSTGRESQL");
    }

    void repeatedPackage_data() { backends_data(); }
    void repeatedPackage()
    {
        QFETCH(QString, backend);
        if (backend == QLatin1String("POSTGRESQL")) {
            ZORU_REQUIRE_PG_OR_SKIP(pg);
            Q_UNUSED(pg);
        }
        QVERIFY(install(backend));
        const QString p = package(10, 3);
        const QByteArray bytes = testsupport::readFile(p);
        QCOMPARE(run({QStringLiteral("--import"), p}).exitCode, 0);
        QVERIFY(!QFile::exists(p));

        testsupport::writeFile(p, bytes);
        const Result again = run({QStringLiteral("--import"), p});
        QCOMPARE(again.exitCode, 4);
        QVERIFY2(again.out.contains(QStringLiteral("Пакет уже импортирован ")),
                 qPrintable(again.out));
        QVERIFY(again.err.contains(QStringLiteral("--force")));
        QVERIFY(QFile::exists(p));
        QCOMPARE(journal(), QStringList{QStringLiteral("успешно:1")});

        QCOMPARE(run({QStringLiteral("--import"), p, QStringLiteral("--force")}).exitCode, 0);
        QCOMPARE(journal(), QStringList{QStringLiteral("успешно:2")});
        QCOMPARE(run({QStringLiteral("--export"), QStringLiteral("1"), QStringLiteral("--force")})
                     .exitCode,
                 2);
    }

    // Five packages, the third corrupt: four are imported in order and removed, the corrupt one
    // stays, the summary lists all five and the exit code says not all went in.
    void batch_data() { backends_data(); }
    void batch()
    {
        QFETCH(QString, backend);
        if (backend == QLatin1String("POSTGRESQL")) {
            ZORU_REQUIRE_PG_OR_SKIP(pg);
            Q_UNUSED(pg);
        }
        QVERIFY(install(backend));
        QStringList packages;
        const QDateTime t0 = QDateTime::currentDateTime().addSecs(-3600);
        for (int i = 0; i < 5; ++i) {
            packages << package(8, 10 + i);
            QFile f(packages.last());
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.setFileTime(t0.addSecs(60 * (5 - i)), QFileDevice::FileModificationTime);
        }
        // Oldest first: the order is the reverse of writing.
        std::reverse(packages.begin(), packages.end());
        testsupport::writeFile(packages[2], "not an archive at all");
        QFile f(packages[2]);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.setFileTime(t0.addSecs(180), QFileDevice::FileModificationTime);
        f.close();

        const Result r = run({QStringLiteral("--import-all")});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(importFiles(), QStringList{QFileInfo(packages[2]).fileName()});
        QStringList rows;
        for (const QString &line : r.out.split(QLatin1Char('\n')))
            for (const QString &p : packages)
                if (line.startsWith(QFileInfo(p).fileName()))
                    rows << QFileInfo(p).fileName() + (line.contains(QStringLiteral("успешно"))
                                                           ? QStringLiteral(" ok")
                                                           : QStringLiteral(" no"));
        QStringList expected;
        for (int i = 0; i < 5; ++i)
            expected << QFileInfo(packages[i]).fileName() +
                            (i == 2 ? QStringLiteral(" no") : QStringLiteral(" ok"));
        QCOMPARE(rows, expected);
        QCOMPARE(journal(), (QStringList{QStringLiteral("ошибка:1"), QStringLiteral("успешно:4")}));
        const QString log =
            cp1251::decode(testsupport::readFile(m_folder + QStringLiteral("/log.txt")));
        QVERIFY(log.contains(QStringLiteral("Пакетов: 5, успешно: 4, с ошибкой: 1")));

        // Nothing left but the corrupt one: a second batch fails on it alone.
        const Result second = run({QStringLiteral("--import-all")});
        QCOMPARE(second.exitCode, 1);
        QCOMPARE(journal(), (QStringList{QStringLiteral("ошибка:2"), QStringLiteral("успешно:4")}));
        QFile::remove(packages[2]);
        const Result empty = run({QStringLiteral("--import-all")});
        QCOMPARE(empty.exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestConsoleImport)
#include "tst_consoleimport.moc"
