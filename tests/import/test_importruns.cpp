// Import runs as the journal sees them, on a demo installation: counts per table as the log
// reports them, the outcome of failed and cancelled runs, the guard against importing the same
// package twice, and the dry run.

#include "../data/jobtest.h"
#include "core/appinfo.h"
#include "core/paths.h"
#include "data/srvrplthread.h"
#include "demosite.h"
#include "engine/sqlscript.h"
#include "import/imwst.h"
#include "import/packageinfo.h"
#include "jobcheck.h"
#include "ui/dialogs.h"

#include <QtTest>

using Policy = TImWorkstationToServer::TRepeatPolicy;

namespace {

struct Outcome
{
    int code = 0;
    QStringList lines;
    QList<TImportTableCounts> counts;
    bool refused = false;
    QList<TImWorkstationToServer::TProblem> problems;
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

    std::unique_ptr<DemoSite> m_site;
    std::unique_ptr<TAppInfo> m_info;
    std::unique_ptr<TDatabase> m_center;

    Outcome run(const QString &package, Policy policy, const QString &stopOn = {},
                bool dryRun = false)
    {
        jobtest::RecordingWindow w;
        Outcome o;
        o.code = jobtest::runJob(w, stopOn, [&](TJobWindow &window) {
            auto job = std::make_unique<TImWorkstationToServer>(window, package);
            job->SetRepeatPolicy(policy);
            job->SetDryRun(dryRun);
            QObject::connect(job.get(), &QThread::finished, job.get(), [&o, j = job.get()] {
                o.counts = j->Counts();
                o.refused = j->RefusedAsRepeated();
                o.problems = j->Problems();
            });
            return job;
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
    qint64 lastRun()
    {
        return scalar(QStringLiteral("SELECT MAX(RUNGID) FROM IMPORTJOURNAL")).toLongLong();
    }
    QString person(const QList<TImportTableCounts> &counts) { return countsText(counts).at(5); }
    void tearDown()
    {
        SetCentralDatabase(nullptr);
        AppInfo = nullptr;
        m_center.reset();
        m_info.reset();
        m_site.reset();
    }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    void initTestCase() { TDialogs::SetTestMode(true); }
    // A fresh demo installation for every test.
    void init()
    {
        TDialogs::Reset();
        QFETCH_GLOBAL(QString, backend);
        tearDown();
        m_site = std::make_unique<DemoSite>();
        const QString error = m_site->Create(backend, {QStringLiteral("zoru-arc")});
        QVERIFY2(error.isEmpty(), qPrintable(error));
        m_info = std::make_unique<TAppInfo>(m_site->folder + QStringLiteral("/zoru-admin"),
                                            m_site->Aliases());
        m_info->ImportPath = paths::includeTrailing(m_site->ImportFolder());
        AppInfo = m_info.get();
        m_center = m_site->Connect();
        SetCentralDatabase(m_center.get());
    }
    void cleanupTestCase() { tearDown(); }

    // One journal row per run, with its result, its message and the counts of what it
    // committed, which are the counts the log reports.
    void journalRecordsRuns_data()
    {
        QTest::addColumn<int>("persons");
        QTest::addColumn<QString>("stopOn");
        QTest::addColumn<bool>("corrupt");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("error");
        QTest::newRow("succeeded") << 40 << QString() << false << ImportResultSucceeded << "";
        QTest::newRow("cancelled after the persons")
            << 15 << QStringLiteral("Импорт данных в таблицу: Document") << false
            << ImportResultCancelled << StrConst::Interrupted;
        QTest::newRow("cannot be unpacked")
            << 5 << QString() << true << ImportResultFailed << "Ошибка при извлечении из архива";
    }
    void journalRecordsRuns()
    {
        QFETCH(int, persons);
        QFETCH(QString, stopOn);
        QFETCH(bool, corrupt);
        QFETCH(QString, result);
        QFETCH(QString, error);
        const QString p = m_site->Package(persons);
        if (corrupt)
            testsupport::writeFile(p, "not an archive");
        const Outcome o = run(p, Policy::Ask, stopOn);
        QCOMPARE(o.code, result == ImportResultSucceeded ? 1 : 2);
        QCOMPARE(QFile::exists(p), o.code != 1);
        const QString runOf = QStringLiteral(" FROM IMPORTJOURNAL WHERE RUNGID = ?");
        QCOMPARE(scalar(QStringLiteral("SELECT RESULT") + runOf, {lastRun()}).toString(), result);
        const QString text =
            scalar(QStringLiteral("SELECT ERRORTEXT") + runOf, {lastRun()}).toString();
        QVERIFY2(error.isEmpty() ? text.isEmpty() : text.startsWith(error), qPrintable(text));

        QCOMPARE(journalCounts(*m_center, lastRun()), countsText(o.counts));
        QCOMPARE(o.counts.isEmpty(), corrupt);
        if (corrupt)
            return;
        QCOMPARE(person(o.counts), QStringLiteral("Person %1/0/0/0").arg(persons));
        const QMap<QString, int> logged = loggedCounts(o.lines);
        if (stopOn.isEmpty())
            QCOMPARE(logged.size(), 11);
        for (const TImportTableCounts &c : o.counts) {
            const bool dictionary =
                QStringList{QStringLiteral("City"), QStringLiteral("Street"),
                            QStringLiteral("Post"), QStringLiteral("RegistrationArea")}
                    .contains(c.Table);
            if (logged.contains(c.Table))
                QCOMPARE(dictionary ? c.NewMappings : c.NewRows + c.EditedRows,
                         qint64(logged.value(c.Table)));
        }
    }

    // A package imported before: the window asks; No imports and records nothing, Yes imports it
    // again, idempotently. The command line's refusal is tried on zoru-admin itself.
    void repeatedPackage()
    {
        const QString p = m_site->Package(20);
        const QString sha = ReadPackageInfo(m_site->folder, p).Sha256;
        QCOMPARE(run(p, Policy::Ask).code, 1);
        const qint64 runs = lastRun();
        const QDateTime when = QDateTime::fromString(
            scalar(QStringLiteral("SELECT MAX(ENDTIME) FROM IMPORTJOURNAL WHERE PKGSHA256 = ?"),
                   {sha})
                .toString(),
            Qt::ISODateWithMs);
        const QVariant persons = scalar(QStringLiteral("SELECT COUNT(*) FROM PERSON"));

        m_site->Restore(p);
        TDialogs::SetNextAnswer(TDialogs::Button::No);
        const Outcome no = run(p, Policy::Ask);
        QCOMPARE(no.code, 2);
        QVERIFY(no.refused);
        const QList<TDialogs::Asked> asked = TDialogs::AskedSoFar();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].text.startsWith(QStringLiteral("Пакет уже импортирован ")) &&
                     asked[0].text.endsWith(QStringLiteral(". Импортировать повторно?")),
                 qPrintable(asked[0].text));
        if (when.isValid())
            QVERIFY(asked[0].text.contains(when.toString(QStringLiteral("dd.MM.yyyy hh:mm"))));
        QVERIFY(QFile::exists(p));
        QCOMPARE(lastRun(), runs);

        TDialogs::Reset();
        TDialogs::SetNextAnswer(TDialogs::Button::Yes);
        const Outcome yes = run(p, Policy::Ask);
        QCOMPARE(yes.code, 1);
        QCOMPARE(lastRun(), runs + 1);
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM PERSON")), persons);
        QCOMPARE(person(yes.counts), QStringLiteral("Person 0/20/0/0"));
        QCOMPARE(yes.counts.at(0).NewMappings, 0);
    }

    // A dry run changes no table, the journal included, keeps the package and counts what the
    // import then does; rows the centre refuses are all listed and the rest is counted.
    void dryRun()
    {
        const QString p = m_site->Package(25);
        const QStringList before = tableDigest(*m_center);
        const Outcome dry = run(p, Policy::Ask, {}, true);
        QCOMPARE(dry.code, 1);
        QVERIFY(dry.lines.contains(QStringLiteral("Ошибок: 0")));
        QCOMPARE(tableDigest(*m_center), before);
        QVERIFY(QFile::exists(p));
        QCOMPARE(person(dry.counts), QStringLiteral("Person 25/0/0/0"));

        const Outcome real = run(p, Policy::Ask);
        QCOMPARE(real.code, 1);
        QCOMPARE(countsText(real.counts), countsText(dry.counts));
        for (int i = 0; i < real.counts.size(); ++i)
            QCOMPARE(real.counts[i].UnchangedRows, dry.counts[i].UnchangedRows);

        m_site->Restore(p);
        const int wst = ReadPackageInfo(m_site->folder, p).WstGID.toInt();
        const QString firstThree =
            QStringLiteral(
                "(SELECT DOCLID FROM DOCUMENT WHERE WSTGID = %1 ORDER BY DOCLID LIMIT 3)")
                .arg(wst);
        engine::ExecuteScript(
            *m_center,
            m_center->Driver() == QLatin1String("POSTGRESQL")
                ? QStringLiteral(
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
        const QStringList beforeBad = tableDigest(*m_center);
        const Outcome bad = run(p, Policy::Force, {}, true);
        QCOMPARE(bad.code, 1);
        QCOMPARE(tableDigest(*m_center), beforeBad);
        QCOMPARE(bad.problems.size(), 3);
        for (const auto &problem : bad.problems) {
            QCOMPARE(problem.Table, QStringLiteral("Document"));
            QVERIFY(!problem.Message.isEmpty() && problem.LocalId.isValid());
        }
        QVERIFY(bad.lines.contains(QStringLiteral("Ошибок: 3")));
        QCOMPARE(bad.counts.at(6).EditedRows, real.counts.at(6).NewRows - 3);
    }
};

QTEST_MAIN(TestImportRuns)
#include "test_importruns.moc"
