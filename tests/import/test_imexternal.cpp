#include "../data/centraldb.h"
#include "../data/jobtest.h"
#include "core/appinfo.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "data/srvrplthread.h"
#include "import/imexternal.h"
#include "jobcheck.h"

#include <QtTest>
#include <map>

namespace {

const QString kSep = QString(65, QLatin1Char('-'));
const QString kEsvsAlias = QStringLiteral("ESVS_TEST");

// ЕСВС as the tests know it: regions at two RAZDEL levels, one known only to ЕСВС, codes padded
// to 13 as a fixed-length column holds them, addresses with an 11-character and a blank code,
// types and hospitals.
void fillEsvs(CentralDb &e)
{
    e.Exec(QStringLiteral(
        "INSERT INTO ADRES VALUES (1, 'Омская область', '52000000000  ', 1), "
        "(2, 'Омская область (МО)', '52000000000  ', 2), "
        "(3, 'Тюменская область', '71000000000  ', 1), (4, 'Тарский район', '52254000000  ', 1), "
        "(5, 'Республика Алтай', '84000000000  ', 1), "
        "(10, 'г. Тара, ул. Советская, 1', '52254501000  ', 3), "
        "(11, 'без кода', '             ', 3)"));
    e.Exec(QStringLiteral("INSERT INTO TMU (IDTMU, TMU, CODTMU) VALUES "
                          "(1, 'Центральная районная больница', 'црб'), "
                          "(2, 'Фельдшерско-акушерский пункт', 'фельдшерско-ак')"));
    e.Exec(QStringLiteral(
        "INSERT INTO MU (IDMU, MU, IDTMU, OFFICE, RSECNAME, OMS, EMAIL, EMSIZE, IDADRES) VALUES "
        "(100, 'Тарская црб', 1, '1', '0', '1', 'tara.crb.glavvrach@zdrav.omskportal.ru.x', 2048, "
        "10), (101, 'ФАП д. Ложниково', 2, '0', '1', '0', NULL, NULL, NULL), "
        "(102, 'Без кода', 77, '0', '0', '0', NULL, NULL, 11), "
        "(103, NULL, 1, '0', '0', '0', NULL, NULL, 1), "
        "(104, 'Областная больница', 1, '1', '1', '1', NULL, 512, 1)"));
}

// The centre before the run: a region and a type known by their ЕСВС keys, a type ЕСВС has
// dropped, a hospital with its own contact columns and one that ЕСВС lacks.
void fillCenter(CentralDb &c)
{
    c.Exec(QStringLiteral("INSERT INTO REGION VALUES (7, 'ТЮМЕНСКАЯ ОБЛ.', '71000000000')"));
    c.Exec(QStringLiteral(
        "INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU) VALUES (5, 1, 'ЦРБ'), (6, 99, 'УДАЛЁН')"));
    c.Exec(QStringLiteral("INSERT INTO HOSPITAL (HSPGID, IDMU, MU, FAX, MAILADR, HTPGID, REGGID) "
                          "VALUES (20, 100, 'СТАРОЕ ИМЯ', '22-22-22', 'УЛ. ЛЕНИНА, 1', 6, NULL), "
                          "(21, 900, 'ТОЛЬКО В ЦЕНТРЕ', NULL, NULL, 6, 7)"));
}

// The central and the ЕСВС database of one backend, filled.
struct Databases
{
    explicit Databases(const QString &backend) : central(backend), esvs(backend, SchemaKind::Esvs)
    {
        fillCenter(central);
        fillEsvs(esvs);
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
        int result = 0;
        int refused = 0;
    };
    std::map<QString, FirstRun> m_runs;
    FirstRun *m_run = nullptr;
    CentralDb *m_central = nullptr; // the one the configuration points at

    QString logPath() const { return m_program.filePath(QStringLiteral("log.txt")); }

    // The messages of log.txt, without their time stamps.
    QStringList logged() const
    {
        QStringList out;
        for (const QString &line :
             cp1251::decode(testsupport::readFile(logPath())).split(QStringLiteral("\r\n"))) {
            const qsizetype at = line.indexOf(QStringLiteral("> "));
            if (at >= 0)
                out << line.mid(at + 2);
        }
        return out;
    }

    // Points the configuration and the jobs at these databases.
    void use(Databases &d)
    {
        m_central = &d.central;
        SetCentralDatabase(&d.central.Db());
        if (m_aliases.IsAlias(kEsvsAlias))
            m_aliases.DeleteAlias(kEsvsAlias);
        TAliasStore &e = d.esvs.Aliases();
        const QString driver = e.GetAliasDriverName(QStringLiteral("CENTER"));
        m_aliases.AddAlias(kEsvsAlias, driver, e.GetAliasParams(QStringLiteral("CENTER")));
        const auto pg = testsupport::pgServer();
        m_info->WriteString(StrConst::SettingsSection, StrConst::UserNameESVSKey,
                            driver == QLatin1String("POSTGRESQL") ? pg->user : QString());
        TDatabase::SetLoginHandler([pg](const QString &db, QString &, QString &password) {
            if (db != QLatin1String("ESVS"))
                return false;
            password = pg ? pg->password : QString();
            return true;
        });
    }

    int sync(jobtest::RecordingWindow &w, int *refused = nullptr, const QString &stopOn = {})
    {
        return jobtest::runJob(w, stopOn, [refused](TJobWindow &window) {
            auto job = std::make_unique<TImExternalToServer>(window);
            QObject::connect(job.get(), &QThread::finished, job.get(), [refused, j = job.get()] {
                if (refused)
                    *refused = j->RefusedRows();
            });
            return job;
        });
    }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    void initTestCase()
    {
        m_aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
        testsupport::writeFile(m_program.filePath(QStringLiteral("zoru-admin.ini")),
                               cp1251::encode(QStringLiteral("[Settings]\r\nIsServer=1\r\n"
                                                             "AIS_RODE_ESVS_DB=%1\r\n")
                                                  .arg(kEsvsAlias)));
        m_info =
            std::make_unique<TAppInfo>(m_program.filePath(QStringLiteral("zoru-admin")), m_aliases);
        AppInfo = m_info.get();
    }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == QLatin1String("POSTGRESQL") && !testsupport::pgServer())
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
        m_run = &m_runs[backend];
        if (m_run->db) {
            use(*m_run->db);
            return;
        }
        m_run->db = std::make_unique<Databases>(backend);
        use(*m_run->db);
        QFile::remove(logPath());
        m_run->result = sync(m_run->window, &m_run->refused);
        m_run->logged = logged();
    }
    void cleanupTestCase()
    {
        SetCentralDatabase(nullptr);
        TDatabase::SetLoginHandler({});
        m_runs.clear();
        AppInfo = nullptr;
    }

    // The window and log.txt show the same lines; a refused hospital is reported, the others
    // are written, and the run succeeds.
    void logLines()
    {
        QCOMPARE(m_run->result, 1);
        QCOMPARE(m_run->refused, 1);
        const QString title = QStringLiteral("Импорт внешних справочников из БД \"DidoZorer\"");
        QCOMPARE(m_run->window.caption, title);
        const QString step = QStringLiteral("Импорт данных в таблицу: %1\n");
        const QString expected =
            title + QLatin1Char('\n') + kSep + QLatin1Char('\n') +
            step.arg(QStringLiteral("Region")) + QStringLiteral("4 записей\n\n") +
            step.arg(QStringLiteral("HospType")) + QStringLiteral("2 записей\n\n") +
            step.arg(QStringLiteral("Hospital")) +
            QStringLiteral("ОШИБКА!!! \nIDMU = 103\n4 записей\n\n") + kSep +
            QStringLiteral("\nИмпорт данных завершен");
        for (QStringList lines : {m_run->window.lines, m_run->logged}) {
            // The refused post's message is the engine's.
            const qsizetype error =
                lines.indexOf(QRegularExpression(QStringLiteral("(?s)ОШИБКА!!! .+")));
            QVERIFY(error > 0);
            lines[error] = QStringLiteral("ОШИБКА!!! ");
            QCOMPARE(lines.join(QLatin1Char('\n')), expected);
        }
    }

    // What the first run left: regions at the smallest RAZDEL, one row per code, stored without
    // blanks; each hospital's region by its cut code and type by IDTMU, or none; values of the
    // central column's type; the centre's own columns, identifiers and rows kept.
    void afterRun_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        const QString place = QStringLiteral(
            "SELECT COUNT(*) FROM HOSPITAL h JOIN REGION r ON r.REGGID = h.REGGID JOIN HOSPTYPE t "
            "ON t.HTPGID = h.HTPGID WHERE h.IDMU = %1 AND r.REGOKATO = '%2' AND t.IDTMU = %3");
        const QString region = QStringLiteral("SELECT REGNAME FROM REGION WHERE REGOKATO = '%1'");
        const QString h = QStringLiteral("SELECT %1 FROM HOSPITAL WHERE IDMU = 100");
        QTest::newRow("11-character code padded to 13")
            << place.arg(100).arg(QStringLiteral("52254000000")).arg(1) << "1";
        QTest::newRow("region itself")
            << place.arg(104).arg(QStringLiteral("52000000000")).arg(1) << "1";
        QTest::newRow("lacking in ЕСВС: kept, with the dropped type")
            << place.arg(900).arg(QStringLiteral("71000000000")).arg(99) << "1";
        QTest::newRow("no address") << "SELECT COUNT(*) FROM HOSPITAL h JOIN HOSPTYPE t ON "
                                       "t.HTPGID = h.HTPGID WHERE h.IDMU = 101 AND h.REGGID IS "
                                       "NULL AND t.IDTMU = 2"
                                    << "1";
        QTest::newRow("blank code, unknown type") << "SELECT COUNT(*) FROM HOSPITAL WHERE IDMU = "
                                                     "102 AND REGGID IS NULL AND HTPGID IS NULL"
                                                  << "1";
        QTest::newRow("one row per hospital")
            << "SELECT COUNT(*) || '/' || COUNT(DISTINCT IDMU) FROM HOSPITAL"
            << "5/5";
        QTest::newRow("refused hospital not written")
            << "SELECT COUNT(*) FROM HOSPITAL WHERE IDMU = 103"
            << "0";
        QTest::newRow("one row per region code")
            << "SELECT COUNT(*) || '/' || COUNT(DISTINCT REGOKATO) FROM REGION"
            << "4/4";
        QTest::newRow("two RAZDEL levels")
            << region.arg(QStringLiteral("52000000000")) << "ОМСКАЯ ОБЛАСТЬ";
        QTest::newRow("known only to ЕСВС")
            << region.arg(QStringLiteral("84000000000")) << "РЕСПУБЛИКА АЛТАЙ";
        QTest::newRow("region already central: identifier kept, name taken")
            << "SELECT REGGID || ' ' || REGNAME FROM REGION WHERE REGOKATO = '71000000000'"
            << "7 ТЮМЕНСКАЯ ОБЛАСТЬ";
        QTest::newRow("renamed, upper case") << h.arg(QStringLiteral("MU")) << "ТАРСКАЯ ЦРБ";
        QTest::newRow("EMAIL cut to 32, upper case")
            << h.arg(QStringLiteral("EMAIL")) << "TARA.CRB.GLAVVRACH@ZDRAV.OMSKPOR";
        QTest::newRow("EMSIZE as text") << h.arg(QStringLiteral("EMSIZE")) << "2048";
        QTest::newRow("flags 0/1")
            << h.arg(QStringLiteral("OFFICE * 100 + RSECNAME * 10 + OMS")) << "101";
        QTest::newRow("FAX survives") << h.arg(QStringLiteral("FAX")) << "22-22-22";
        QTest::newRow("MAILADR survives") << h.arg(QStringLiteral("MAILADR")) << "УЛ. ЛЕНИНА, 1";
        QTest::newRow("HSPGID survives") << h.arg(QStringLiteral("HSPGID")) << "20";
        QTest::newRow("CODTMU cut to 10, upper case")
            << "SELECT CODTMU FROM HOSPTYPE WHERE IDTMU = 2"
            << "ФЕЛЬДШЕРСК";
        QTest::newRow("type keeps its identifier") << "SELECT HTPGID FROM HOSPTYPE WHERE IDTMU = 1"
                                                   << "5";
        QTest::newRow("type dropped by ЕСВС stays") << "SELECT TMU FROM HOSPTYPE WHERE IDTMU = 99"
                                                    << "УДАЛЁН";
    }
    void afterRun()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QCOMPARE(m_central->Scalar(sql).toString(), expected);
    }

    // A second run finds every row and changes nothing.
    void secondRunChangesNothing()
    {
        const QStringList before = tableDigest(m_central->Db());
        jobtest::RecordingWindow w;
        int refused = 0;
        QCOMPARE(sync(w, &refused), 1);
        QCOMPARE(refused, 1);
        QCOMPARE(tableDigest(m_central->Db()), before);
    }

    // A run that ends early keeps what it wrote before.
    void failures_data()
    {
        QTest::addColumn<QString>("stopOn");
        QTest::addColumn<QString>("lastLine");
        QTest::addColumn<QString>("mu"); // of the hospital written first
        QTest::newRow("region without a name") << QString() << "ОШИБКА!!! "
                                               << "СТАРОЕ ИМЯ";
        QTest::newRow("cancel during the hospitals")
            << QStringLiteral("Импорт данных в таблицу: Hospital")
            << "ОШИБКА!!! Прервано пользователем"
            << "ТАРСКАЯ ЦРБ";
    }
    void failures()
    {
        QFETCH_GLOBAL(QString, backend);
        QFETCH(QString, stopOn);
        QFETCH(QString, lastLine);
        QFETCH(QString, mu);
        Databases own(backend);
        use(own);
        if (stopOn.isEmpty())
            own.esvs.Exec(
                QStringLiteral("INSERT INTO ADRES VALUES (99, NULL, '99000000000  ', 1)"));
        jobtest::RecordingWindow w;
        QCOMPARE(sync(w, nullptr, stopOn), 2);
        QCOMPARE(w.lines.at(w.lines.size() - 2), kSep);
        QVERIFY2(w.lines.last().startsWith(lastLine), qPrintable(w.lines.last()));
        QCOMPARE(own.central.Scalar(QStringLiteral("SELECT COUNT(*) FROM REGION")).toInt(), 4);
        QCOMPARE(own.central.Scalar(QStringLiteral("SELECT COUNT(*) FROM HOSPITAL")).toInt(), 2);
        QCOMPARE(own.central.Scalar(QStringLiteral("SELECT MU FROM HOSPITAL WHERE IDMU = 100"))
                     .toString(),
                 mu);
    }

    // The region of an OKATO: blanks stripped, then the first five characters and "000000"
    // (blank and Null codes are rows of afterRun).
    void regionCodeOf_data()
    {
        QTest::addColumn<QVariant>("okato");
        QTest::addColumn<QString>("code");
        QTest::newRow("padded 11") << QVariant(QStringLiteral("52254501000  ")) << "52254000000";
        QTest::newRow("shorter than six") << QVariant(QStringLiteral("5201 ")) << "";
        QTest::newRow("six") << QVariant(QStringLiteral("123456")) << "000000";
    }
    void regionCodeOf()
    {
        QFETCH(QVariant, okato);
        QFETCH(QString, code);
        QCOMPARE(TImExternalToServer::RegionCodeOf(okato), code);
    }
};

QTEST_GUILESS_MAIN(TestImExternal)
#include "test_imexternal.moc"
