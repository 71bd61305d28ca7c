#include "centraldb.h"
#include "core/appinfo.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "jobs/serverjob.h"
#include "jobtest.h"
#include "sync/syncjob.h"
#include "tabledigest.h"

#include <QSqlQuery>
#include <QtTest>
#include <map>

using namespace Qt::StringLiterals;

namespace {

const QString kSep = QString(65, u'-');
const QString kEsvsAlias = u"ESVS_TEST"_s;

// The central and the ЕСВС database of one backend, filled. ЕСВС: regions at two RAZDEL levels,
// one known only to ЕСВС, codes padded to 13 as a fixed-length column holds them, addresses with
// an 11-character and a blank code, types and hospitals. The centre: regions and a type known by
// their ЕСВС keys (one code left padded, as an older program stored it), a region ЕСВС lacks
// (padded too), a type ЕСВС has dropped, a hospital with its own contact columns and one that
// ЕСВС lacks.
struct Databases
{
    explicit Databases(const QString &backend) : central(backend), esvs(backend, SchemaKind::Esvs)
    {
        // clang-format off
        esvs.Exec(u"INSERT INTO ADRES VALUES (1, 'Омская область', '52000000000  ', 1), "
                  "(2, 'Омская область (МО)', '52000000000  ', 2), (3, 'Тюменская область', '71000000000  ', 1), "
                  "(4, 'Тарский район', '52254000000  ', 1), (5, 'Республика Алтай', '84000000000  ', 1), "
                  "(10, 'г. Тара, ул. Советская, 1', '52254501000  ', 3), (11, 'без кода', '             ', 3), "
                  "(12, 'г. Курган, ул. Ленина, 2', '37000000100  ', 3)"_s);
        esvs.Exec(u"INSERT INTO TMU (IDTMU, TMU, CODTMU) VALUES (1, 'Центральная районная больница', 'црб'), "
                  "(2, 'Фельдшерско-акушерский пункт', 'фельдшерско-ак')"_s);
        esvs.Exec(u"INSERT INTO MU (IDMU, MU, IDTMU, OFFICE, RSECNAME, OMS, EMAIL, EMSIZE, IDADRES) VALUES "
                  "(100, 'Тарская црб', 1, '1', '0', '1', 'tara.crb.glavvrach@zdrav.omskportal.ru.x', 2048, 10), "
                  "(101, 'ФАП д. Ложниково', 2, '0', '1', '0', NULL, NULL, NULL), "
                  "(102, 'Без кода', 77, '0', '0', '0', NULL, NULL, 11), (103, NULL, 1, '0', '0', '0', NULL, NULL, 1), "
                  "(104, 'Областная больница', 1, '1', '1', '1', NULL, 512, 1), (105, 'Курганская больница', 1, '0', '0', '0', NULL, NULL, 12)"_s);
        central.Exec(u"INSERT INTO REGION VALUES (7, 'ТЮМЕНСКАЯ ОБЛ.', '71000000000'), (8, 'ОМСКАЯ ОБЛ.', '52000000000  '), "
                     "(9, 'КУРГАНСКАЯ ОБЛ.', '37000000000 ')"_s);
        central.Exec(u"INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU) VALUES (5, 1, 'ЦРБ'), (6, 99, 'УДАЛЁН')"_s);
        central.Exec(u"INSERT INTO HOSPITAL (HSPGID, IDMU, MU, FAX, MAILADR, HTPGID, REGGID) VALUES "
                     "(20, 100, 'СТАРОЕ ИМЯ', '22-22-22', 'УЛ. ЛЕНИНА, 1', 6, NULL), (21, 900, 'ТОЛЬКО В ЦЕНТРЕ', NULL, NULL, 6, 7)"_s);
        // clang-format on
    }
    CentralDb central;
    CentralDb esvs;
};

} // namespace

class TestImExternal : public QObject
{
    Q_OBJECT

    QTemporaryDir m_program;
    TAliasStore m_aliases;
    std::unique_ptr<TAppInfo> m_info;
    // By backend: the databases and what the first run over them showed, made by the first test
    // that runs on the backend.
    struct FirstRun
    {
        std::unique_ptr<Databases> db;
        jobtest::RecordingWindow window;
        QStringList logged;
        int code = 0;
        TSyncResult result;
    };
    std::map<QString, FirstRun> m_runs;
    FirstRun *m_run = nullptr;
    CentralDb *m_central = nullptr; // the one the configuration points at

    QString logPath() const { return m_program.filePath(u"log.txt"_s); }

    // The messages of log.txt, without their time stamps.
    QStringList logged() const
    {
        QStringList out;
        for (const QString &line :
             cp1251::decode(testsupport::readFile(logPath())).split(u"\r\n"_s))
            if (const qsizetype at = line.indexOf(u"> "_s); at >= 0)
                out << line.mid(at + 2);
        return out;
    }

    // Points the configuration and the jobs at these databases.
    void use(Databases &d)
    {
        m_central = &d.central;
        if (m_aliases.IsAlias(kEsvsAlias))
            m_aliases.DeleteAlias(kEsvsAlias);
        TAliasStore &e = d.esvs.Aliases();
        const QString driver = e.GetAliasDriverName(u"CENTER"_s);
        m_aliases.AddAlias(kEsvsAlias, driver, e.GetAliasParams(u"CENTER"_s));
        const auto pg = testsupport::pgServer();
        m_info->WriteString(StrConst::SettingsSection, StrConst::UserNameESVSKey,
                            driver == "POSTGRESQL"_L1 ? pg->user : QString());
        TDatabase::SetLoginHandler([pg](const QString &db, QString &, QString &password) {
            if (db == "ESVS"_L1)
                password = pg ? pg->password : QString();
            return db == "ESVS"_L1;
        });
    }

    int sync(jobtest::RecordingWindow &w, TSyncResult *result = nullptr, const QString &stopOn = {})
    {
        return jobtest::runJob(
            w, stopOn,
            [this](const TJobContext &context) {
                return std::make_unique<TImExternalToServer>(context, *m_info, m_central->Db());
            },
            [result](TRplThread &job) {
                if (result)
                    *result = static_cast<TImExternalToServer &>(job).Result();
            });
    }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    void initTestCase()
    {
        m_aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
        testsupport::writeFile(
            m_program.filePath(u"zoru-admin.ini"_s),
            cp1251::encode(
                u"[Settings]\r\nIsServer=1\r\nAIS_RODE_ESVS_DB=%1\r\n"_s.arg(kEsvsAlias)));
        m_info = std::make_unique<TAppInfo>(m_program.filePath(u"zoru-admin"_s), m_aliases);
        AppInfo = m_info.get();
    }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == "POSTGRESQL"_L1 && !testsupport::pgServer())
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
        m_run = &m_runs[backend];
        const bool first = !m_run->db;
        if (first)
            m_run->db = std::make_unique<Databases>(backend);
        use(*m_run->db);
        if (!first)
            return;
        QFile::remove(logPath());
        m_run->code = sync(m_run->window, &m_run->result);
        m_run->logged = logged();
    }
    void cleanupTestCase()
    {
        TDatabase::SetLoginHandler({});
        m_runs.clear();
        AppInfo = nullptr;
    }

    // The window and log.txt show the same lines; a refused hospital is reported, the others
    // are written, and the run succeeds.
    void logLines()
    {
        QCOMPARE(m_run->code, 1);
        QCOMPARE(m_run->result.End, TJobOutcome::Completed);
        QCOMPARE(m_run->result.Tables,
                 (QList<TTableRows>{{u"Region"_s, 4}, {u"HospType"_s, 2}, {u"Hospital"_s, 5}}));
        QCOMPARE(m_run->result.Refused.size(), 1);
        QCOMPARE(m_run->result.Refused[0].IDMU, 103);
        const QString title = u"Импорт внешних справочников из БД \"DidoZorer\""_s;
        QCOMPARE(m_run->window.caption, title);
        const QString expected =
            u"%1\n%2\n%3Region\n4 записей\n\n%3HospType\n2 записей\n\n%3Hospital\n"
            "ОШИБКА!!! \nIDMU = 103\n5 записей\n\n%2\nИмпорт данных завершен"_s.arg(
                title, kSep, u"Импорт данных в таблицу: "_s);
        for (QStringList lines : {m_run->window.lines, m_run->logged}) {
            // The refused post's message is the engine's.
            const qsizetype error = lines.indexOf(QRegularExpression(u"(?s)ОШИБКА!!! .+"_s));
            QVERIFY(error > 0);
            lines[error] = u"ОШИБКА!!! "_s;
            QCOMPARE(lines.join(u'\n'), expected);
        }
    }

    // What the first run left: regions at the smallest RAZDEL, one row per code, stored without
    // blanks and found by codes compared without blanks; each hospital's region by its cut code
    // and type by IDTMU, or none; values of the central column's type; the centre's own columns,
    // identifiers and rows kept.
    void afterRun_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        const QString place =
            u"SELECT COUNT(*) FROM HOSPITAL h JOIN REGION r ON r.REGGID = h.REGGID JOIN HOSPTYPE t "
            "ON t.HTPGID = h.HTPGID WHERE h.IDMU = %1 AND r.REGOKATO = '%2' AND t.IDTMU = %3"_s;
        const QString region = u"SELECT REGNAME FROM REGION WHERE REGOKATO = '%1'"_s;
        const QString h = u"SELECT %1 FROM HOSPITAL WHERE IDMU = 100"_s;
        // clang-format off
        QTest::newRow("11-character code padded to 13") << place.arg(u"100"_s, u"52254000000"_s, u"1"_s) << "1";
        QTest::newRow("region itself") << place.arg(u"104"_s, u"52000000000"_s, u"1"_s) << "1";
        QTest::newRow("lacking in ЕСВС: kept, with the dropped type") << place.arg(u"900"_s, u"71000000000"_s, u"99"_s) << "1";
        QTest::newRow("no address") << "SELECT COUNT(*) FROM HOSPITAL h JOIN HOSPTYPE t ON t.HTPGID = h.HTPGID "
                                       "WHERE h.IDMU = 101 AND h.REGGID IS NULL AND t.IDTMU = 2" << "1";
        QTest::newRow("blank code, unknown type") << "SELECT COUNT(*) FROM HOSPITAL WHERE IDMU = 102 AND REGGID IS NULL AND HTPGID IS NULL" << "1";
        QTest::newRow("one row per hospital") << "SELECT COUNT(*) || '/' || COUNT(DISTINCT IDMU) FROM HOSPITAL" << "6/6";
        QTest::newRow("refused hospital not written") << "SELECT COUNT(*) FROM HOSPITAL WHERE IDMU = 103" << "0";
        QTest::newRow("one row per region code") << "SELECT COUNT(*) || '/' || COUNT(DISTINCT RTRIM(REGOKATO)) FROM REGION" << "5/5";
        QTest::newRow("two RAZDEL levels; padded central code found, stored without blanks")
            << "SELECT REGGID || ' ' || REGNAME FROM REGION WHERE REGOKATO = '52000000000'" << "8 ОМСКАЯ ОБЛАСТЬ";
        QTest::newRow("padded code of a region ЕСВС lacks") << "SELECT REGGID FROM HOSPITAL WHERE IDMU = 105" << "9";
        QTest::newRow("known only to ЕСВС") << region.arg(u"84000000000"_s) << "РЕСПУБЛИКА АЛТАЙ";
        QTest::newRow("region already central: identifier kept, name taken")
            << "SELECT REGGID || ' ' || REGNAME FROM REGION WHERE REGOKATO = '71000000000'" << "7 ТЮМЕНСКАЯ ОБЛАСТЬ";
        QTest::newRow("renamed, upper case") << h.arg(u"MU"_s) << "ТАРСКАЯ ЦРБ";
        QTest::newRow("EMAIL cut to 32, upper case") << h.arg(u"EMAIL"_s) << "TARA.CRB.GLAVVRACH@ZDRAV.OMSKPOR";
        QTest::newRow("EMSIZE as text") << h.arg(u"EMSIZE"_s) << "2048";
        QTest::newRow("flags 0/1") << h.arg(u"OFFICE * 100 + RSECNAME * 10 + OMS"_s) << "101";
        QTest::newRow("FAX survives") << h.arg(u"FAX"_s) << "22-22-22";
        QTest::newRow("MAILADR survives") << h.arg(u"MAILADR"_s) << "УЛ. ЛЕНИНА, 1";
        QTest::newRow("HSPGID survives") << h.arg(u"HSPGID"_s) << "20";
        QTest::newRow("CODTMU cut to 10, upper case") << "SELECT CODTMU FROM HOSPTYPE WHERE IDTMU = 2" << "ФЕЛЬДШЕРСК";
        QTest::newRow("type keeps its identifier") << "SELECT HTPGID FROM HOSPTYPE WHERE IDTMU = 1" << "5";
        QTest::newRow("type dropped by ЕСВС stays") << "SELECT TMU FROM HOSPTYPE WHERE IDTMU = 99" << "УДАЛЁН";
        // clang-format on
    }
    void afterRun()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QCOMPARE(m_central->Scalar(sql).toString(), expected);
    }

    // A second run finds every row and changes nothing. It runs on the test's own thread: the
    // job is plain work reporting to a recording window.
    void secondRunChangesNothing()
    {
        const QStringList before = tableDigest(m_central->Db());
        jobtest::RecordingWindow w;
        TImExternalToServer job(w.Context(), *m_info, m_central->Db());
        QCOMPARE(job.Run(), 1);
        QCOMPARE(w.caption, u"Импорт внешних справочников из БД \"DidoZorer\""_s);
        QCOMPARE(job.Result().Refused.size(), 1);
        QCOMPARE(tableDigest(m_central->Db()), before);
    }

    // A run that ends early keeps what it wrote before; a refused region names its row.
    void failures_data()
    {
        QTest::addColumn<QString>("stopOn");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("error"); // a pattern
        QTest::addColumn<QString>("mu");    // of the hospital written first
        QTest::newRow("region without a name") << QString() << int(TJobOutcome::Failed)
                                               << R"((?s)\S.* \(запись: REGOKATO=99000000000\))"
                                               << "СТАРОЕ ИМЯ";
        QTest::newRow("cancel during the hospitals")
            << u"Импорт данных в таблицу: Hospital"_s << int(TJobOutcome::Cancelled)
            << "Прервано пользователем"
            << "ТАРСКАЯ ЦРБ";
    }
    void failures()
    {
        QFETCH_GLOBAL(QString, backend);
        QFETCH(QString, stopOn);
        QFETCH(int, end);
        QFETCH(QString, error);
        QFETCH(QString, mu);
        Databases own(backend);
        use(own);
        if (stopOn.isEmpty())
            own.esvs.Exec(u"INSERT INTO ADRES VALUES (99, NULL, '99000000000  ', 1)"_s);
        jobtest::RecordingWindow w;
        TSyncResult result;
        QCOMPARE(sync(w, &result, stopOn), 2);
        QCOMPARE(int(result.End), end);
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(error))
                     .match(result.Error)
                     .hasMatch(),
                 qPrintable(result.Error));
        // clang-format off
        QCOMPARE(own.central.Scalar(u"SELECT (SELECT COUNT(*) FROM REGION) || '/' || (SELECT COUNT(*) FROM HOSPITAL) "
                                    "|| '/' || MU FROM HOSPITAL WHERE IDMU = 100"_s).toString(), u"5/2/"_s + mu);
        // clang-format on
    }

    // Hospitals are written a window of rows at a time: refused rows in the first and the last
    // window (a Null name the database refuses, a flag given as text that its column cannot
    // hold) are each reported and skipped, the other rows are written, and the run counts right.
    void refusedRowsInSeveralWindows_data()
    {
        QTest::addColumn<QString>("mu");
        QTest::addColumn<QString>("office");
        QTest::addColumn<QString>("lastRefused");
        QTest::addColumn<QString>("written"); // rows, first and last name
        QTest::newRow("Null name")
            << u"CASE WHEN i IN (1100, 1400) THEN NULL ELSE 'ФАП ' || i END"_s << u"'0'"_s
            << u"1400"_s << u"598/ФАП 1000/ФАП 1599"_s;
        QTest::newRow("text in a flag")
            << u"'ФАП ' || i"_s << u"CASE i WHEN 1100 THEN 'yes' WHEN 1599 THEN 'да' ELSE '0' END"_s
            << u"1599"_s << u"598/ФАП 1000/ФАП 1598"_s;
    }
    void refusedRowsInSeveralWindows()
    {
        QFETCH_GLOBAL(QString, backend);
        QFETCH(QString, mu);
        QFETCH(QString, office);
        QFETCH(QString, lastRefused);
        QFETCH(QString, written);
        Databases own(backend);
        use(own);
        // A server's ЕСВС whose flag column came to hold text.
        if (backend == "POSTGRESQL"_L1)
            QVERIFY(QSqlQuery(own.esvs.Db().Sql())
                        .exec(u"ALTER TABLE MU ALTER COLUMN OFFICE TYPE VARCHAR(10) "
                              "USING CASE WHEN OFFICE THEN '1' ELSE '0' END"_s));
        // clang-format off
        own.esvs.Exec(u"WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 1599) "
                      "INSERT INTO MU (IDMU, MU, IDTMU, OFFICE, RSECNAME, OMS) SELECT i, %1, 2, %2, '0', '0' FROM n"_s
                          .arg(mu, office));
        // clang-format on
        jobtest::RecordingWindow w;
        TSyncResult result;
        QCOMPARE(sync(w, &result), 1);
        QList<qint64> refused;
        for (const TRefusedHospital &h : result.Refused)
            refused << h.IDMU;
        QCOMPARE(refused, (QList<qint64>{103, 1100, lastRefused.toLongLong()}));
        QCOMPARE(result.Tables.last(), (TTableRows{u"Hospital"_s, 603}));
        QCOMPARE(own.central
                     .Scalar(u"SELECT COUNT(*) || '/' || MIN(MU) || '/' || MAX(MU) FROM "
                             "HOSPITAL WHERE IDMU >= 1000"_s)
                     .toString(),
                 written);
    }

    // The region of an OKATO: blanks stripped, then the first five characters and "000000"
    // (blank and Null codes are rows of afterRun).
    void regionCodeOf_data()
    {
        QTest::addColumn<QVariant>("okato");
        QTest::addColumn<QString>("code");
        QTest::newRow("padded 11") << QVariant(u"52254501000  "_s) << "52254000000";
        QTest::newRow("shorter than six") << QVariant(u"5201 "_s) << "";
        QTest::newRow("six") << QVariant(u"123456"_s) << "000000";
    }
    void regionCodeOf()
    {
        QFETCH(QVariant, okato);
        QFETCH(QString, code);
        QCOMPARE(TImExternalToServer::RegionCodeOf(okato), code);
    }
};

QTEST_GUILESS_MAIN(TestImExternal)
#include "test_syncjob.moc"
