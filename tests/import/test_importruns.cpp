// Import runs as the journal sees them, on a demo installation: counts per table as the log
// reports them, the outcome of failed and cancelled runs, the guard against importing the same
// package twice, and the dry run.

#include "core/appinfo.h"
#include "core/clock.h"
#include "core/paths.h"
#include "demosite.h"
#include "engine/sqlscript.h"
#include "import/importjob.h"
#include "jobcheck.h"
#include "jobtest.h"
#include "package/packageinfo.h"
#include "refusal.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using Policy = TImWorkstationToServer::TRepeatPolicy;

namespace {

struct Outcome
{
    int code = 0;
    QStringList lines;
    TImportResult result;
};

// How an import meets a refused row.
enum class Refusal
{
    Stop,      // as always: the import ends there
    KeepGoing, // --keep-going
    AskYes,    // the window's question, answered Yes
    AskNo,     // answered No
    DryRun
};

// The "N записей" line that closes each step of the log, by step label.
QMap<QString, int> loggedCounts(const QStringList &lines)
{
    QMap<QString, int> out;
    QString step;
    const QString prefix = u"Импорт данных в таблицу: "_s;
    for (const QString &l : lines) {
        if (l.startsWith(prefix))
            step = l.mid(prefix.size());
        else if (!step.isEmpty() && l.endsWith(u" записей"_s) && !l.contains(u"обработано"_s))
            out[std::exchange(step, {})] = l.section(u' ', 0, 0).toInt();
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
    // The user's answer to the repeat question, and the questions asked.
    bool m_repeatAnswer = false;
    QStringList m_asked;

    Outcome run(const QString &package, Policy policy, const QString &stopOn = {},
                bool dryRun = false)
    {
        return run(package, policy, stopOn, dryRun ? Refusal::DryRun : Refusal::Stop);
    }
    Outcome run(const QString &package, Policy policy, const QString &stopOn, Refusal refusal)
    {
        jobtest::RecordingWindow w;
        Outcome o;
        o.code = jobtest::runJob(
            w, stopOn,
            [&](const TJobContext &context) {
                auto job =
                    std::make_unique<TImWorkstationToServer>(context, *m_info, *m_center, package);
                job->SetRepeatPolicy(policy);
                job->SetDryRun(refusal == Refusal::DryRun);
                job->SetKeepGoing(refusal == Refusal::KeepGoing);
                job->SetRepeatQuestion([this](const QDateTime &imported) {
                    m_asked << RepeatQuestion(imported);
                    return m_repeatAnswer;
                });
                if (refusal == Refusal::AskYes || refusal == Refusal::AskNo)
                    job->SetKeepGoingQuestion([this, refusal](const TImportProblem &row) {
                        m_asked << KeepGoingQuestion(row);
                        return refusal == Refusal::AskYes;
                    });
                return job;
            },
            [&o](TRplThread &job) {
                o.result = static_cast<const TImWorkstationToServer &>(job).Result();
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
    qint64 lastRun() { return scalar(u"SELECT MAX(RUNGID) FROM IMPORTJOURNAL"_s).toLongLong(); }
    QString person(const QList<TImportTableCounts> &counts) { return countsText(counts).at(5); }
    void tearDown()
    {
        AppInfo = nullptr;
        m_center.reset();
        m_info.reset();
        m_site.reset();
    }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    // A fresh demo installation for every test.
    void init()
    {
        m_repeatAnswer = false;
        m_asked.clear();
        QFETCH_GLOBAL(QString, backend);
        tearDown();
        m_site = std::make_unique<DemoSite>();
        const QString error = m_site->Create(backend, {u"zoru-arc"_s});
        QVERIFY2(error.isEmpty(), qPrintable(error));
        m_info = std::make_unique<TAppInfo>(m_site->folder + u"/zoru-admin"_s, m_site->Aliases());
        m_info->ImportPath = paths::includeTrailing(m_site->ImportFolder());
        AppInfo = m_info.get();
        m_center = m_site->Connect();
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
        // clang-format off
        QTest::newRow("succeeded") << 40 << QString() << false << ImportResultSucceeded << "";
        QTest::newRow("cancelled after the persons") << 15 << u"Импорт данных в таблицу: Document"_s << false << ImportResultCancelled << StrConst::Interrupted;
        QTest::newRow("cannot be unpacked") << 5 << QString() << true << ImportResultFailed << "Ошибка при извлечении из архива";
        // clang-format on
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
        const QString got = scalar(u"SELECT RESULT || '|' || COALESCE(ERRORTEXT, '') FROM "
                                   "IMPORTJOURNAL WHERE RUNGID = ?"_s,
                                   {lastRun()})
                                .toString();
        const QString want = result + u'|' + error;
        QVERIFY2(error.isEmpty() ? got == want : got.startsWith(want), qPrintable(got));
        QCOMPARE(o.result.Result + u'|' + o.result.Error, got);

        QCOMPARE(journalCounts(*m_center, lastRun()), countsText(o.result.Tables));
        QCOMPARE(o.result.Tables.isEmpty(), corrupt);
        if (corrupt)
            return;
        QCOMPARE(person(o.result.Tables), u"Person %1/0/0/0"_s.arg(persons));
        const QMap<QString, int> logged = loggedCounts(o.lines);
        if (stopOn.isEmpty())
            QCOMPARE(logged.size(), 11);
        const QStringList dictionaries = u"City Street Post RegistrationArea"_s.split(u' ');
        for (const TImportTableCounts &c : o.result.Tables)
            if (logged.contains(c.Table))
                QCOMPARE(dictionaries.contains(c.Table) ? c.NewMappings : c.NewRows + c.EditedRows,
                         qint64(logged.value(c.Table)));
    }

    // A package imported before: the window asks; No imports and records nothing, Yes imports it
    // again, idempotently. The command line's refusal is tried on zoru-admin itself.
    void repeatedPackage()
    {
        const QString p = m_site->Package(20);
        const TFixedClock clock(QDateTime(QDate(2026, 1, 15), QTime(10, 0)));
        QCOMPARE(run(p, Policy::Ask).code, 1);
        const qint64 runs = lastRun();
        const QVariant persons = scalar(u"SELECT COUNT(*) FROM PERSON"_s);

        m_site->Restore(p);
        m_repeatAnswer = false;
        const Outcome no = run(p, Policy::Ask);
        QCOMPARE(no.code, 2);
        QVERIFY(no.result.Repeated);
        QCOMPARE(m_asked.size(), 1);
        QVERIFY2(m_asked[0].startsWith(u"Пакет уже импортирован "_s) &&
                     m_asked[0].endsWith(u". Импортировать повторно?"_s),
                 qPrintable(m_asked[0]));
        QVERIFY(m_asked[0].contains(u"15.01.2026 10:00"_s));
        QVERIFY(QFile::exists(p));
        QCOMPARE(lastRun(), runs);

        m_repeatAnswer = true;
        const Outcome yes = run(p, Policy::Ask);
        QCOMPARE(yes.code, 1);
        QCOMPARE(lastRun(), runs + 1);
        QCOMPARE(scalar(u"SELECT COUNT(*) FROM PERSON"_s), persons);
        QCOMPARE(person(yes.result.Tables), u"Person 0/20/0/0"_s);
        QCOMPARE(yes.result.Tables.at(0).NewMappings, 0);
    }

    // A dry run changes no table, the journal included, keeps the package and counts what the
    // import then does; rows the centre refuses are all listed and the rest is counted.
    void dryRun()
    {
        const QString p = m_site->Package(25);
        const QStringList before = tableDigest(*m_center);
        const Outcome dry = run(p, Policy::Ask, {}, true);
        QCOMPARE(dry.code, 1);
        QVERIFY(dry.lines.contains(u"Ошибок: 0"_s));
        QCOMPARE(tableDigest(*m_center), before);
        QVERIFY(QFile::exists(p));
        QCOMPARE(person(dry.result.Tables), u"Person 25/0/0/0"_s);

        const Outcome real = run(p, Policy::Ask);
        QCOMPARE(real.code, 1);
        QCOMPARE(countsText(real.result.Tables), countsText(dry.result.Tables));
        for (int i = 0; i < real.result.Tables.size(); ++i)
            QCOMPARE(real.result.Tables[i].UnchangedRows, dry.result.Tables[i].UnchangedRows);

        m_site->Restore(p);
        const int wst = ReadPackageInfo(m_site->folder, p).WstGID.toInt();
        // Three documents differ in the centre, so that writing them again is an update, which
        // the trigger refuses (a row equal to the package's is not written at all).
        engine::ExecuteScript(
            *m_center,
            u"UPDATE DOCUMENT SET DOCNUMBER = 'изменён' WHERE WSTGID = %1 AND DOCLID IN "
            "(SELECT DOCLID FROM DOCUMENT WHERE WSTGID = %1 ORDER BY DOCLID LIMIT 3);"_s.arg(wst));
        refusal::Refuse(*m_center, "UPDATE", u"DOCUMENT"_s,
                        u"NEW.WSTGID = %1 AND NEW.DOCLID IN (SELECT DOCLID FROM DOCUMENT WHERE "
                        "WSTGID = %1 ORDER BY DOCLID LIMIT 3)"_s.arg(wst));
        const QStringList beforeBad = tableDigest(*m_center);
        const Outcome bad = run(p, Policy::Force, {}, true);
        QCOMPARE(bad.code, 1);
        QCOMPARE(tableDigest(*m_center), beforeBad);
        QCOMPARE(bad.result.Refused.size(), 3);
        for (const auto &problem : bad.result.Refused) {
            QCOMPARE(problem.Table, u"Document"_s);
            QVERIFY(!problem.Message.isEmpty() && problem.LocalId.isValid());
        }
        QVERIFY(bad.lines.contains(u"Ошибок: 3"_s));
        QCOMPARE(bad.result.Tables.at(6).EditedRows, real.result.Tables.at(6).NewRows - 3);
    }

    // Persons 4, 13 and 22 of a package are refused by the database itself (a trigger). The
    // import stops at the first, keeping the rows before it, and its message names the row; a
    // dry run lists every refused row, says where the import stops and what skipping brings;
    // going on past them (--keep-going, or Yes to the question) skips them and everything that
    // depends on them, records them, keeps the package, and an import after the mend completes
    // the data.
    void refusedRows_data()
    {
        QTest::addColumn<int>("refusalRow");
        QTest::newRow("stop") << int(Refusal::Stop);
        QTest::newRow("keep going") << int(Refusal::KeepGoing);
        QTest::newRow("asked, yes") << int(Refusal::AskYes);
        QTest::newRow("asked, no") << int(Refusal::AskNo);
        QTest::newRow("dry run") << int(Refusal::DryRun);
    }
    void refusedRows()
    {
        QFETCH(int, refusalRow);
        const auto refusal = static_cast<Refusal>(refusalRow);
        const QString p = m_site->Package(25);
        const QList<TImportTableCounts> clean = run(p, Policy::Ask, {}, true).result.Tables;
        const int wst = ReadPackageInfo(m_site->folder, p).WstGID.toInt();
        refusal::Refuse(*m_center, "INSERT", u"PERSON"_s,
                        u"NEW.WSTGID = %1 AND NEW.PRNLID IN (4, 13, 22)"_s.arg(wst));
        const QString persons = u"SELECT COUNT(*) FROM PERSON WHERE WSTGID = %1"_s.arg(wst);
        const QString documents = u"SELECT COUNT(*) FROM DOCUMENT WHERE WSTGID = %1"_s.arg(wst);
        const QStringList before = tableDigest(*m_center);

        const Outcome o = run(p, Policy::Ask, {}, refusal);
        const QString person4 = u"Person (PrnLID=4, WstGID=%1)"_s.arg(wst);
        const bool asked = refusal == Refusal::AskYes || refusal == Refusal::AskNo;
        QCOMPARE(m_asked.size(), asked ? 1 : 0);
        if (asked)
            QVERIFY2(m_asked[0].startsWith(u"Импорт остановлен на записи "_s + person4) &&
                         m_asked[0].endsWith(u"Продолжить импорт, пропуская отвергнутые записи?"_s),
                     qPrintable(m_asked[0]));
        QStringList refusedPersons;
        for (const TImportProblem &r : o.result.Refused)
            if (r.Table == "Person"_L1)
                refusedPersons << r.LocalId.toString();
        // Each of a refused person's documents is refused in turn, and what depends on them.
        const int dependents = int(o.result.Refused.size()) - int(refusedPersons.size());
        const auto refusedDocuments =
            std::count_if(o.result.Refused.begin(), o.result.Refused.end(),
                          [](const TImportProblem &r) { return r.Table == "Document"_L1; });

        if (refusal == Refusal::Stop || refusal == Refusal::AskNo) {
            QCOMPARE(o.code, 2);
            QCOMPARE(o.result.Result, ImportResultFailed);
            QVERIFY2(o.result.Error.contains(u"отказано"_s) &&
                         o.result.Error.endsWith(u" (запись: PrnLID=4, WstGID=%1)"_s.arg(wst)),
                     qPrintable(o.result.Error));
            QCOMPARE(scalar(persons).toInt(), 3); // the rows before it, of the same window
            QCOMPARE(scalar(documents).toInt(), 0);
            QCOMPARE(person(o.result.Tables), u"Person 3/0/0/0"_s);
            QCOMPARE(journalCounts(*m_center, lastRun()).at(5), u"Person 3/0/0/0"_s);
            QVERIFY(QFile::exists(p));
            return;
        }
        QCOMPARE(refusedPersons, (QStringList{u"4"_s, u"13"_s, u"22"_s}));
        QVERIFY(dependents > 0);
        QCOMPARE(o.code, 1);
        if (refusal == Refusal::DryRun) {
            QCOMPARE(tableDigest(*m_center), before);
            QVERIFY(o.lines.contains(u"Ошибок: %1"_s.arg(o.result.Refused.size())));
            QVERIFY(o.lines.contains(
                u"Импорт остановится на записи %1; из таблицы Person войдёт "
                "записей: 3; ничего не получат таблицы: Document, "
                "PrimaryInspection, PrimDiag, ScriningCard, MapDiag"_s.arg(person4)));
            QCOMPARE(person(o.result.Tables), u"Person 22/0/0/0"_s);
            return;
        }
        QCOMPARE(o.result.Result, ImportResultSkipped);
        QCOMPARE(scalar(persons).toInt(), 22);
        QCOMPARE(scalar(documents).toLongLong(), clean.at(6).NewRows - refusedDocuments);
        QCOMPARE(
            scalar(u"SELECT RESULT FROM IMPORTJOURNAL WHERE RUNGID = ?"_s, {lastRun()}).toString(),
            ImportResultSkipped);
        QCOMPARE(
            scalar(u"SELECT COUNT(*) FROM IMPORTJOURNALREFUSED WHERE RUNGID = ?"_s, {lastRun()})
                .toInt(),
            o.result.Refused.size());
        QVERIFY(QFile::exists(p)); // kept for the rows it could not bring

        // Mended: the same package again brings the rest, and is no repeat.
        refusal::Mend(*m_center, u"PERSON"_s);
        const Outcome again = run(p, Policy::Ask);
        QCOMPARE(again.code, 1);
        QCOMPARE(m_asked.size(), asked ? 1 : 0);
        QCOMPARE(scalar(persons).toInt(), 25);
        QCOMPARE(scalar(documents).toLongLong(), clean.at(6).NewRows);
        QVERIFY(!QFile::exists(p));
    }

    // A dry run of a package from a workstation the centre does not know, whose registration
    // the database refuses: the registration is undone, and so is everything else.
    void dryRunWithRefusedRegistration()
    {
        const QString p = m_site->Package(10, true);
        refusal::Refuse(*m_center, "INSERT", u"OPERATOR"_s);
        const QStringList before = tableDigest(*m_center);
        const Outcome dry = run(p, Policy::Ask, {}, true);
        QCOMPARE(dry.code, 1);
        QCOMPARE(tableDigest(*m_center), before);
        for (const TImportTableCounts &c : dry.result.Tables)
            QCOMPARE(c.Registrations, 0);
    }

    // The server drops the import's connections in the middle of the persons: the import says so
    // once, in Russian, and keeps the package; the next import completes.
    void lostConnection()
    {
        if (!m_center->IsServer())
            QSKIP("an embedded database has no connection to lose");
        const QString p = m_site->Package(600);
        jobtest::RecordingWindow w;
        w.onLine = [this](const QString &line) {
            if (line == u"Импорт данных в таблицу: Person"_s)
                scalar(u"SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE "
                       "datname = current_database() AND pid <> pg_backend_pid()"_s);
        };
        const int code = jobtest::runJob(w, {}, [&](const TJobContext &context) {
            return std::make_unique<TImWorkstationToServer>(context, *m_info, *m_center, p);
        });
        QCOMPARE(code, 2);
        QVERIFY2(
            w.lines.last().startsWith(u"ОШИБКА!!! Соединение с сервером базы данных потеряно"_s),
            qPrintable(w.lines.last()));
        QCOMPARE(w.lines.filter(u"потеряно"_s).size(), 1);
        QVERIFY(QFile::exists(p));
        QCOMPARE(run(p, Policy::Ask).code, 1);
    }
};

QTEST_MAIN(TestImportRuns)
#include "test_importruns.moc"
