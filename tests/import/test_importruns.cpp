// Import runs as the journal sees them, on a demo installation: counts per table as the log
// reports them, the outcome of failed and cancelled runs, and the guard against importing the
// same package twice.

#include "core/appinfo.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "data/srvrplthread.h"
#include "engine/database.h"
#include "engine/sqlscript.h"
#include "import/imwst.h"
#include "import/packageinfo.h"
#include "installation.h"
#include "package.h"
#include "replication/consolejobwindow.h"
#include "testsupport.h"
#include "ui/dialogs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class RecordingWindow : public TJobWindow
{
public:
    void PrepareForJob() override {}
    void SetCaption(const QString &) override {}
    void ClearMessages() override { lines.clear(); }
    void AddMessage(const QString &line) override
    {
        lines << line;
        if (job && !stopOn.isEmpty() && line == stopOn)
            job->Terminate();
    }
    void SetGauge(int) override {}
    void JobFinished(int) override {}
    QStringList lines;
    QString stopOn;
    TRplThread *job = nullptr;
};

struct Outcome
{
    int code = 0;
    QStringList lines;
    QList<TImportTableCounts> counts;
    bool refused = false;
};

// The "N записей" line that closes each step of the log, by step label.
QMap<QString, int> loggedCounts(const QStringList &lines)
{
    QMap<QString, int> out;
    QString step;
    const QString prefix = QStringLiteral("Импорт данных в таблицу: ");
    for (const QString &l : lines) {
        if (l.startsWith(prefix))
            step = l.mid(prefix.size());
        else if (!step.isEmpty() && l.endsWith(QStringLiteral(" записей")) &&
                 !l.contains(QStringLiteral("обработано"))) {
            out[step] = l.section(QLatin1Char(' '), 0, 0).toInt();
            step.clear();
        }
    }
    return out;
}

} // namespace

class TestImportRuns : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_folder;
    std::optional<testsupport::PgServer> m_pg;
    QString m_pgDatabase;
    std::unique_ptr<TAliasStore> m_aliases;
    std::unique_ptr<TAppInfo> m_info;
    std::unique_ptr<TDatabase> m_center;
    int m_seed = 1;
    int m_installations = 0;

    // A new package of the demo workstation; its volumes are copied aside into `keep`.
    QString package(int persons, QStringList *keep = nullptr)
    {
        demo::PackageOptions o;
        o.folder = m_folder;
        o.persons = persons;
        o.seed = quint64(++m_seed);
        if (m_pg)
            o.password = m_pg->password;
        const QString first = demo::WritePackage(o).firstVolume;
        if (keep) {
            keep->clear();
            for (const QString &v : VolumeSet(first)) {
                const QString copy = v + QStringLiteral(".keep");
                QFile::remove(copy);
                QFile::copy(v, copy);
                *keep << v;
            }
        }
        return first;
    }
    static void restore(const QStringList &volumes)
    {
        for (const QString &v : volumes) {
            QFile::remove(v);
            QFile::copy(v + QStringLiteral(".keep"), v);
        }
    }

    Outcome run(const QString &package, TImWorkstationToServer::TRepeatPolicy policy,
                const QString &stopOn = {}, bool dryRun = false,
                QList<TImWorkstationToServer::TProblem> *problems = nullptr)
    {
        RecordingWindow w;
        w.stopOn = stopOn;
        Outcome o;
        o.code = RunJob(w, [&](TJobWindow &window) {
            auto job = std::make_unique<TImWorkstationToServer>(window, package);
            job->SetRepeatPolicy(policy);
            job->SetDryRun(dryRun);
            w.job = job.get();
            QObject::connect(job.get(), &QThread::finished, job.get(),
                             [&o, problems, j = job.get()] {
                                 o.counts = j->Counts();
                                 o.refused = j->RefusedAsRepeated();
                                 if (problems)
                                     *problems = j->Problems();
                             });
            return std::unique_ptr<TRplThread>(std::move(job));
        });
        o.lines = w.lines;
        return o;
    }

    QVariant scalar(const QString &sql, const QVariantList &values = {})
    {
        QSqlQuery q(m_center->Sql());
        q.prepare(sql);
        for (const QVariant &v : values)
            q.addBindValue(BindableValue(v, q.driver()));
        if (!q.exec() || !q.next())
            qFatal("%s", qPrintable(sql));
        return q.value(0);
    }
    QStringList results()
    {
        QStringList out;
        QSqlQuery q(m_center->Sql());
        q.exec(QStringLiteral("SELECT RESULT FROM IMPORTJOURNAL ORDER BY RUNGID"));
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
    // Counts of a run as the journal holds them, "Table new/edited/mappings/registrations".
    QStringList journalCounts(qint64 run)
    {
        QStringList out;
        QSqlQuery q(m_center->Sql());
        q.prepare(QStringLiteral("SELECT TABLENAME, NEWROWS, EDITEDROWS, NEWMAPPINGS, "
                                 "REGISTRATIONS FROM IMPORTJOURNALTABLE WHERE RUNGID = ? "
                                 "ORDER BY STEPNO"));
        q.addBindValue(run);
        q.exec();
        while (q.next())
            out << QStringLiteral("%1 %2/%3/%4/%5")
                       .arg(q.value(0).toString())
                       .arg(q.value(1).toInt())
                       .arg(q.value(2).toInt())
                       .arg(q.value(3).toInt())
                       .arg(q.value(4).toInt());
        return out;
    }
    static QStringList asText(const QList<TImportTableCounts> &counts)
    {
        QStringList out;
        for (const TImportTableCounts &c : counts)
            out << QStringLiteral("%1 %2/%3/%4/%5")
                       .arg(c.Table)
                       .arg(c.NewRows)
                       .arg(c.EditedRows)
                       .arg(c.NewMappings)
                       .arg(c.Registrations);
        return out;
    }
    void tearDown()
    {
        SetCentralDatabase(nullptr);
        AppInfo = nullptr;
        m_center.reset();
        m_info.reset();
        m_aliases.reset();
        if (m_pg)
            testsupport::dropPgDatabase(*m_pg, m_pgDatabase);
        m_pg.reset();
    }
    // Every central table as "name: rows, digest of its sorted rows".
    QStringList digest()
    {
        QStringList out;
        QStringList tables = m_center->Sql().tables();
        tables.sort(Qt::CaseInsensitive);
        for (const QString &t : std::as_const(tables)) {
            if (t.startsWith(QLatin1String("sqlite_")))
                continue;
            QSqlQuery q(m_center->Sql());
            if (!q.exec(QStringLiteral("SELECT * FROM ") + t))
                qFatal("%s", qPrintable(t));
            QStringList rows;
            while (q.next()) {
                QStringList values;
                for (int i = 0; i < q.record().count(); ++i)
                    values << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
                rows << values.join(QLatin1Char('|'));
            }
            rows.sort();
            out << QStringLiteral("%1: %2 %3")
                       .arg(t.toUpper())
                       .arg(rows.size())
                       .arg(QString::fromLatin1(
                           QCryptographicHash::hash(rows.join(QLatin1Char('\n')).toUtf8(),
                                                    QCryptographicHash::Sha256)
                               .toHex()));
        }
        return out;
    }
    static QStringList withUnchanged(const QList<TImportTableCounts> &counts)
    {
        QStringList out = asText(counts);
        for (int i = 0; i < counts.size(); ++i)
            out[i] += QStringLiteral(" =%1").arg(counts[i].UnchangedRows);
        return out;
    }
    qint64 lastRun()
    {
        return scalar(QStringLiteral("SELECT MAX(RUNGID) FROM IMPORTJOURNAL")).toLongLong();
    }

private Q_SLOTS:
    void initTestCase_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << QStringLiteral("SQLITE");
        QTest::newRow("postgresql") << QStringLiteral("POSTGRESQL");
    }
    void initTestCase() { TDialogs::SetTestMode(true); }
    // A fresh demo installation for every test.
    void init()
    {
        TDialogs::Reset();
        QFETCH_GLOBAL(QString, backend);
        tearDown();
        m_folder = m_dir.filePath(backend + QString::number(++m_installations));
        demo::Options options;
        options.folder = m_folder;
        options.scale = 0.05;
        if (backend == QLatin1String("POSTGRESQL")) {
            ZORU_REQUIRE_PG_OR_SKIP(server);
            m_pg = server;
            m_pgDatabase = testsupport::createPgDatabase(server, QStringLiteral("zoru_runs"));
            options.postgres = demo::PgTarget{server.host, server.port, m_pgDatabase, server.user,
                                              server.password};
        }
        try {
            demo::CreateInstallation(options);
        } catch (const Exception &e) {
            QFAIL(qPrintable(e.Message()));
        }
        const QString arc = qEnvironmentVariable("ZORU_PROGRAM_DIR") + QStringLiteral("/zoru-arc");
        QVERIFY(QFile::copy(arc, m_folder + QStringLiteral("/zoru-arc")));
        QFile::setPermissions(m_folder + QStringLiteral("/zoru-arc"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_aliases =
            std::make_unique<TAliasStore>(QDir(m_folder).absoluteFilePath(StrConst::AliasFileName));
        m_info = std::make_unique<TAppInfo>(m_folder + QStringLiteral("/zoru-admin"), *m_aliases);
        m_info->ImportPath = paths::includeTrailing(m_folder + QStringLiteral("/import"));
        AppInfo = m_info.get();
        m_center = std::make_unique<TDatabase>(StrConst::CenterDatabaseName, m_aliases.get());
        m_center->AliasName = demo::CenterAlias;
        m_center->LoginPrompt = false;
        m_center->Params << QStringLiteral("USER NAME=") +
                                (m_pg ? m_pg->user : QStringLiteral("admin"));
        if (m_pg)
            m_center->Params << QStringLiteral("PASSWORD=") + m_pg->password;
        m_center->Open();
        SetCentralDatabase(m_center.get());
    }
    void cleanupTestCase() { tearDown(); }

    // One journal row per run with the counts the log reports; a failed and a cancelled run
    // are recorded with their message and what they committed.
    void journalRecordsRuns()
    {
        const Outcome ok = run(package(40), TImWorkstationToServer::TRepeatPolicy::Ask);
        QCOMPARE(ok.code, 1);
        const QMap<QString, int> logged = loggedCounts(ok.lines);
        QCOMPARE(ok.counts.size(), 11);
        for (const TImportTableCounts &c : ok.counts) {
            const bool dictionary =
                QStringList{QStringLiteral("City"), QStringLiteral("Street"),
                            QStringLiteral("Post"), QStringLiteral("RegistrationArea")}
                    .contains(c.Table);
            QCOMPARE(dictionary ? c.NewMappings : c.NewRows + c.EditedRows,
                     qint64(logged.value(c.Table, -1)));
        }
        QCOMPARE(ok.counts.at(5).Table, QStringLiteral("Person"));
        QCOMPARE(ok.counts.at(5).NewRows, 40);
        const qint64 first = lastRun();
        QCOMPARE(journalCounts(first), asText(ok.counts));
        QCOMPARE(results().constLast(), ImportResultSucceeded);

        // Cancelled after the persons: the steps before it are recorded.
        const Outcome stopped = run(package(15), TImWorkstationToServer::TRepeatPolicy::Ask,
                                    QStringLiteral("Импорт данных в таблицу: Document"));
        QCOMPARE(stopped.code, 2);
        QCOMPARE(results().constLast(), ImportResultCancelled);
        QCOMPARE(scalar(QStringLiteral("SELECT ERRORTEXT FROM IMPORTJOURNAL WHERE RUNGID = ?"),
                        {lastRun()})
                     .toString(),
                 StrConst::Interrupted);
        QVERIFY(journalCounts(lastRun()).contains(QStringLiteral("Person 15/0/0/0")));

        // A package that cannot be unpacked.
        QStringList volumes;
        const QString broken = package(5, &volumes);
        testsupport::writeFile(broken, "not an archive");
        const Outcome failed = run(broken, TImWorkstationToServer::TRepeatPolicy::Ask);
        QCOMPARE(failed.code, 2);
        QCOMPARE(results().constLast(), ImportResultFailed);
        QVERIFY(scalar(QStringLiteral("SELECT ERRORTEXT FROM IMPORTJOURNAL WHERE RUNGID = ?"),
                       {lastRun()})
                    .toString()
                    .startsWith(QStringLiteral("Ошибка при извлечении из архива")));
        QVERIFY(QFile::exists(broken));
    }

    // A package imported before: the window asks (No imports nothing and records nothing, Yes
    // imports it again, idempotently), the command line refuses unless forced.
    void dryRun();
    void repeatedPackage()
    {
        QStringList volumes;
        const QString p = package(20, &volumes);
        const QString sha = ReadPackageInfo(m_folder, p).Sha256;
        QCOMPARE(run(p, TImWorkstationToServer::TRepeatPolicy::Ask).code, 1);
        const qint64 runs = lastRun();
        const QDateTime when = QDateTime::fromString(
            scalar(QStringLiteral("SELECT MAX(ENDTIME) FROM IMPORTJOURNAL WHERE PKGSHA256 = ?"),
                   {sha})
                .toString(),
            Qt::ISODateWithMs);
        const qint64 persons = scalar(QStringLiteral("SELECT COUNT(*) FROM PERSON")).toLongLong();

        restore(volumes);
        TDialogs::SetNextAnswer(TDialogs::Button::No);
        Outcome no = run(p, TImWorkstationToServer::TRepeatPolicy::Ask);
        QCOMPARE(no.code, 2);
        QVERIFY(no.refused);
        const QList<TDialogs::Asked> asked = TDialogs::AskedSoFar();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].text.startsWith(QStringLiteral("Пакет уже импортирован ")),
                 qPrintable(asked[0].text));
        QVERIFY(asked[0].text.endsWith(QStringLiteral(". Импортировать повторно?")));
        if (when.isValid())
            QVERIFY(asked[0].text.contains(when.toString(QStringLiteral("dd.MM.yyyy hh:mm"))));
        QCOMPARE(lastRun(), runs);
        QVERIFY(QFile::exists(p));

        const Outcome refused = run(p, TImWorkstationToServer::TRepeatPolicy::Refuse);
        QCOMPARE(refused.code, 2);
        QVERIFY(refused.refused);
        QVERIFY(refused.lines.join(QLatin1Char('\n'))
                    .contains(QStringLiteral("Пакет уже импортирован ")));
        QCOMPARE(lastRun(), runs);

        TDialogs::Reset();
        TDialogs::SetNextAnswer(TDialogs::Button::Yes);
        const Outcome yes = run(p, TImWorkstationToServer::TRepeatPolicy::Ask);
        QCOMPARE(yes.code, 1);
        QCOMPARE(lastRun(), runs + 1);
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM PERSON")).toLongLong(), persons);
        QCOMPARE(yes.counts.at(5).EditedRows, 20);
        QCOMPARE(yes.counts.at(5).NewRows, 0);
        QCOMPARE(yes.counts.at(0).NewMappings, 0);

        restore(volumes);
        TDialogs::Reset();
        QCOMPARE(run(p, TImWorkstationToServer::TRepeatPolicy::Force).code, 1);
        QCOMPARE(TDialogs::AskedSoFar().size(), 0);
        QCOMPARE(lastRun(), runs + 2);
    }
};

void TestImportRuns::dryRun()
{
    QStringList volumes;
    const QString p = package(25, &volumes);
    const QStringList before = digest();
    const Outcome dry = run(p, TImWorkstationToServer::TRepeatPolicy::Ask, {}, true);
    QCOMPARE(dry.code, 1);
    QVERIFY(dry.lines.contains(QStringLiteral("Ошибок: 0")));
    QCOMPARE(digest(), before);
    QVERIFY(QFile::exists(p));
    QCOMPARE(dry.counts.size(), 11);
    QCOMPARE(dry.counts.at(5).NewRows, 25);

    // The import then does what the dry run said.
    const Outcome real = run(p, TImWorkstationToServer::TRepeatPolicy::Ask);
    QCOMPARE(real.code, 1);
    QCOMPARE(withUnchanged(real.counts), withUnchanged(dry.counts));

    // Rows the centre refuses are listed, all of them, and the rest is counted.
    restore(volumes);
    const bool pg = m_pg.has_value();
    const int wst = ReadPackageInfo(m_folder, p).WstGID.toInt();
    const QString firstThree =
        QStringLiteral("(SELECT DOCLID FROM DOCUMENT WHERE WSTGID = %1 ORDER BY DOCLID LIMIT 3)")
            .arg(wst);
    engine::ExecuteScript(
        *m_center,
        pg ? QStringLiteral(
                 "CREATE FUNCTION ZORU_TEST_REFUSE() RETURNS trigger LANGUAGE plpgsql AS $$\n"
                 "BEGIN IF NEW.WSTGID = %1 AND NEW.DOCLID IN %2 THEN RAISE EXCEPTION "
                 "'отказано %', NEW.DOCLID; END IF; RETURN NEW; END;\n$$;\n"
                 "CREATE TRIGGER TRG_TEST_REFUSE BEFORE UPDATE ON DOCUMENT FOR EACH ROW "
                 "EXECUTE FUNCTION ZORU_TEST_REFUSE();")
                 .arg(wst)
                 .arg(firstThree)
           : QStringLiteral("CREATE TRIGGER TRG_TEST_REFUSE BEFORE UPDATE ON DOCUMENT WHEN "
                            "NEW.WSTGID = %1 AND NEW.DOCLID IN %2 "
                            "BEGIN SELECT RAISE(ABORT, 'отказано'); END;")
                 .arg(wst)
                 .arg(firstThree));
    const QStringList beforeBad = digest();
    QList<TImWorkstationToServer::TProblem> problems;
    const Outcome bad = run(p, TImWorkstationToServer::TRepeatPolicy::Force, {}, true, &problems);
    QCOMPARE(bad.code, 1);
    QCOMPARE(digest(), beforeBad);
    QCOMPARE(problems.size(), 3);
    QStringList ids;
    for (const auto &problem : problems) {
        QCOMPARE(problem.Table, QStringLiteral("Document"));
        QVERIFY(!problem.Message.isEmpty());
        ids << problem.LocalId.toString();
    }
    QCOMPARE(ids.size(), 3);
    QVERIFY(bad.lines.contains(QStringLiteral("Ошибок: 3")));
    const qint64 documents = real.counts.at(6).NewRows;
    QCOMPARE(bad.counts.at(6).EditedRows, documents - 3);
}

QTEST_MAIN(TestImportRuns)
#include "test_importruns.moc"
