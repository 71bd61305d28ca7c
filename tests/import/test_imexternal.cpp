#include "../data/centraldb.h"
#include "core/appinfo.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "import/imexternal.h"
#include "replication/consolejobwindow.h"

#include <QSqlRecord>
#include <QtTest>
#include <map>

namespace {

const QString kSep = QString(65, QLatin1Char('-'));
const QString kEsvsAlias = QStringLiteral("ESVS_TEST");

QString padded(const char *code)
{
    return QString::fromLatin1(code).leftJustified(13, QLatin1Char(' '));
}

class RecordingWindow : public TJobWindow
{
public:
    void PrepareForJob() override {}
    void SetCaption(const QString &c) override { caption = c; }
    void ClearMessages() override { lines.clear(); }
    void AddMessage(const QString &line) override
    {
        lines << line;
        if (job && !stopOn.isEmpty() && line == stopOn)
            job->Terminate();
    }
    void SetGauge(int) override {}
    void JobFinished(int) override {}
    QString caption;
    QStringList lines;
    QString stopOn;
    TRplThread *job = nullptr;
};

// ЕСВС as the tests know it: regions at two RAZDEL levels, one known only to ЕСВС, addresses
// with an 11-character and a blank code, types and hospitals.
void fillEsvs(CentralDb &e)
{
    const QString adres = QStringLiteral("INSERT INTO ADRES VALUES (?, ?, ?, ?)");
    e.Exec(adres, {1, QStringLiteral("Омская область"), padded("52000000000"), 1});
    e.Exec(adres, {2, QStringLiteral("Омская область (МО)"), padded("52000000000"), 2});
    e.Exec(adres, {3, QStringLiteral("Тюменская область"), padded("71000000000"), 1});
    e.Exec(adres, {4, QStringLiteral("Тарский район"), padded("52254000000"), 1});
    e.Exec(adres, {5, QStringLiteral("Республика Алтай"), padded("84000000000"), 1});
    e.Exec(adres, {10, QStringLiteral("г. Тара, ул. Советская, 1"), padded("52254501000"), 3});
    e.Exec(adres, {11, QStringLiteral("без кода"), padded(""), 3});
    const QString tmu = QStringLiteral("INSERT INTO TMU (IDTMU, TMU, CODTMU) VALUES (?, ?, ?)");
    e.Exec(tmu, {1, QStringLiteral("Центральная районная больница"), QStringLiteral("црб")});
    e.Exec(tmu,
           {2, QStringLiteral("Фельдшерско-акушерский пункт"), QStringLiteral("фельдшерско-ак")});
    const QString mu = QStringLiteral(
        "INSERT INTO MU (IDMU, MU, IDTMU, OFFICE, RSECNAME, OMS, EMAIL, EMSIZE, IDADRES) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    e.Exec(mu, {100, QStringLiteral("Тарская црб"), 1, true, false, true,
                QStringLiteral("tara.crb.glavvrach@zdrav.omskportal.ru.x"), 2048, 10});
    e.Exec(mu, {101, QStringLiteral("ФАП д. Ложниково"), 2, false, true, false, QVariant(),
                QVariant(), QVariant()});
    e.Exec(mu,
           {102, QStringLiteral("Без кода"), 77, false, false, false, QVariant(), QVariant(), 11});
    e.Exec(mu, {103, QVariant(), 1, false, false, false, QVariant(), QVariant(), 1});
    e.Exec(mu,
           {104, QStringLiteral("Областная больница"), 1, true, true, true, QVariant(), 512, 1});
}

// The centre before the run: a region and a type known by their ЕСВС keys, a type ЕСВС has
// dropped, a hospital with its own contact columns and one that ЕСВС lacks.
void fillCenter(CentralDb &c)
{
    c.Exec(QStringLiteral("INSERT INTO REGION VALUES (7, 'ТЮМЕНСКАЯ ОБЛ.', '71000000000')"));
    c.Exec(QStringLiteral("INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU) VALUES (5, 1, 'ЦРБ')"));
    c.Exec(QStringLiteral("INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU) VALUES (6, 99, 'УДАЛЁН')"));
    c.Exec(QStringLiteral("INSERT INTO HOSPITAL (HSPGID, IDMU, MU, FAX, MAILADR, HTPGID) VALUES "
                          "(20, 100, 'СТАРОЕ ИМЯ', '22-22-22', 'УЛ. ЛЕНИНА, 1', 6)"));
    c.Exec(QStringLiteral("INSERT INTO HOSPITAL (HSPGID, IDMU, MU, HTPGID, REGGID) VALUES "
                          "(21, 900, 'ТОЛЬКО В ЦЕНТРЕ', 6, 7)"));
}

} // namespace

class TestImExternal : public QObject
{
    Q_OBJECT

    QTemporaryDir m_program;
    TAliasStore m_aliases;
    std::unique_ptr<TAppInfo> m_info;
    // A central and an ЕСВС database, filled, and what the first run over them showed.
    struct Databases
    {
        std::unique_ptr<CentralDb> central;
        std::unique_ptr<CentralDb> esvs;
        RecordingWindow first;
        QStringList logged;
        int result = 0;
        int refused = 0;
    };
    std::map<QString, Databases> m_shared; // by backend, made by the first test that needs it
    Databases *m_db = nullptr;
    std::map<QString, Databases>
        m_scratch; // for the runs that end early             // the one the configuration points at

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

    // Fresh databases of the backend, filled.
    static void make(Databases &d, const QString &backend)
    {
        d.central = std::make_unique<CentralDb>(backend);
        d.esvs = std::make_unique<CentralDb>(backend, SchemaKind::Esvs);
        fillCenter(*d.central);
        fillEsvs(*d.esvs);
    }

    // Points the configuration and the jobs at these databases.
    void use(Databases &d)
    {
        m_db = &d;
        SetCentralDatabase(&d.central->Db());
        if (m_aliases.IsAlias(kEsvsAlias))
            m_aliases.DeleteAlias(kEsvsAlias);
        TAliasStore &e = d.esvs->Aliases();
        m_aliases.AddAlias(kEsvsAlias, e.GetAliasDriverName(QStringLiteral("CENTER")),
                           e.GetAliasParams(QStringLiteral("CENTER")));
        const auto pg = testsupport::pgServer();
        const bool onServer =
            e.GetAliasDriverName(QStringLiteral("CENTER")) == QLatin1String("POSTGRESQL");
        m_info->WriteString(StrConst::SettingsSection, StrConst::UserNameESVSKey,
                            onServer ? pg->user : QString());
        TDatabase::SetLoginHandler([pg](const QString &db, QString &, QString &password) {
            if (db != QLatin1String("ESVS"))
                return false;
            password = pg ? pg->password : QString();
            return true;
        });
    }

    int sync(RecordingWindow &w, int *refused = nullptr)
    {
        return RunJob(w, [&](TJobWindow &window) {
            auto job = std::make_unique<TImExternalToServer>(window);
            w.job = job.get();
            QObject::connect(job.get(), &QThread::finished, job.get(), [refused, j = job.get()] {
                if (refused)
                    *refused = j->RefusedRows();
            });
            return std::unique_ptr<TRplThread>(std::move(job));
        });
    }

    QVariant scalar(const QString &sql, const QVariantList &values = {})
    {
        return m_db->central->Scalar(sql, values);
    }

    QStringList snapshot()
    {
        QStringList out;
        for (const QString &sql :
             {QStringLiteral("SELECT REGGID, REGOKATO, REGNAME FROM REGION ORDER BY 1"),
              QStringLiteral("SELECT HTPGID, IDTMU, TMU FROM HOSPTYPE ORDER BY 1"),
              QStringLiteral("SELECT HSPGID, IDMU, MU, HTPGID, REGGID FROM HOSPITAL ORDER BY 1")}) {
            QSqlQuery q(m_db->central->Db().Sql());
            q.exec(sql);
            while (q.next()) {
                QStringList values;
                for (int c = 0; c < q.record().count(); ++c)
                    values << q.value(c).toString();
                out << values.join(QLatin1Char('|'));
            }
        }
        return out;
    }

private Q_SLOTS:
    void initTestCase_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "SQLITE";
        if (testsupport::pgServer() || testsupport::pgRequired())
            QTest::newRow("postgresql") << "POSTGRESQL";
    }
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
        const bool made = m_shared.count(backend) > 0;
        Databases &d = m_shared[backend];
        if (!made)
            make(d, backend);
        use(d);
        if (!made) {
            QFile::remove(logPath());
            d.result = sync(d.first, &d.refused);
            d.logged = logged();
        }
    }
    void cleanupTestCase()
    {
        SetCentralDatabase(nullptr);
        TDatabase::SetLoginHandler({});
        m_shared.clear();
        m_scratch.clear();
        AppInfo = nullptr;
    }

    // The window and log.txt show the same lines; a refused hospital is reported, the others
    // are written, and the run succeeds.
    void logLines()
    {
        QCOMPARE(m_db->result, 1);
        QCOMPARE(m_db->refused, 1);
        const QString title = QStringLiteral("Импорт внешних справочников из БД \"DidoZorer\"");
        QCOMPARE(m_db->first.caption, title);
        const QString prefix = QStringLiteral("Импорт данных в таблицу: ");
        const QStringList expected = {title,
                                      kSep,
                                      prefix + QStringLiteral("Region"),
                                      QStringLiteral("4 записей"),
                                      QString(),
                                      prefix + QStringLiteral("HospType"),
                                      QStringLiteral("2 записей"),
                                      QString(),
                                      prefix + QStringLiteral("Hospital"),
                                      QStringLiteral("ОШИБКА!!! "),
                                      QStringLiteral("IDMU = 103"),
                                      QStringLiteral("4 записей"),
                                      QString(),
                                      kSep,
                                      QStringLiteral("Импорт данных завершен")};
        for (const QStringList &lines : {m_db->first.lines, m_db->logged}) {
            QCOMPARE(lines.size(), expected.size());
            for (int i = 0; i < expected.size(); ++i) {
                if (expected[i] == QStringLiteral("ОШИБКА!!! "))
                    QVERIFY2(lines[i].startsWith(expected[i]) && lines[i].size() > 10,
                             qPrintable(lines[i]));
                else
                    QCOMPARE(lines[i], expected[i]);
            }
        }
    }

    // Each hospital's region (by the code it should be found under) and type (by IDTMU).
    void hospitals_data()
    {
        QTest::addColumn<int>("idmu");
        QTest::addColumn<QString>("mu");
        QTest::addColumn<QString>("region");
        QTest::addColumn<QVariant>("type");
        QTest::newRow("11-character code padded to 13") << 100 << "ТАРСКАЯ ЦРБ"
                                                        << "52254000000" << QVariant(1);
        QTest::newRow("no address") << 101 << "ФАП Д. ЛОЖНИКОВО"
                                    << "" << QVariant(2);
        QTest::newRow("blank code, unknown type") << 102 << "БЕЗ КОДА"
                                                  << "" << QVariant();
        QTest::newRow("region itself") << 104 << "ОБЛАСТНАЯ БОЛЬНИЦА"
                                       << "52000000000" << QVariant(1);
        QTest::newRow("lacking in ЕСВС: kept, with the dropped type")
            << 900 << "ТОЛЬКО В ЦЕНТРЕ"
            << "71000000000" << QVariant(99);
    }
    void hospitals()
    {
        QFETCH(int, idmu);
        QFETCH(QString, mu);
        QFETCH(QString, region);
        QFETCH(QVariant, type);
        QCOMPARE(
            scalar(QStringLiteral("SELECT COUNT(*) FROM HOSPITAL WHERE IDMU = ?"), {idmu}).toInt(),
            1);
        QCOMPARE(
            scalar(QStringLiteral("SELECT MU FROM HOSPITAL WHERE IDMU = ?"), {idmu}).toString(),
            mu);
        const QVariant reggid =
            scalar(QStringLiteral("SELECT REGGID FROM HOSPITAL WHERE IDMU = ?"), {idmu});
        if (region.isEmpty())
            QVERIFY(reggid.isNull());
        else
            QCOMPARE(
                reggid.toInt(),
                scalar(QStringLiteral("SELECT REGGID FROM REGION WHERE REGOKATO = ?"), {region})
                    .toInt());
        const QVariant htpgid =
            scalar(QStringLiteral("SELECT HTPGID FROM HOSPITAL WHERE IDMU = ?"), {idmu});
        if (type.isNull())
            QVERIFY(htpgid.isNull());
        else
            QCOMPARE(htpgid.toInt(),
                     scalar(QStringLiteral("SELECT HTPGID FROM HOSPTYPE WHERE IDTMU = ?"), {type})
                         .toInt());
    }

    // One row per code, at the smallest RAZDEL, stored without blanks; a code already central
    // keeps its identifier and takes the new name.
    void regions_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("two RAZDEL levels") << "52000000000"
                                           << "ОМСКАЯ ОБЛАСТЬ";
        QTest::newRow("already central") << "71000000000"
                                         << "ТЮМЕНСКАЯ ОБЛАСТЬ";
        QTest::newRow("known only to ЕСВС") << "84000000000"
                                            << "РЕСПУБЛИКА АЛТАЙ";
        QTest::newRow("district") << "52254000000"
                                  << "ТАРСКИЙ РАЙОН";
    }
    void regions()
    {
        QFETCH(QString, code);
        QFETCH(QString, name);
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM REGION WHERE REGOKATO = ?"), {code})
                     .toInt(),
                 1);
        QCOMPARE(scalar(QStringLiteral("SELECT REGNAME FROM REGION WHERE REGOKATO = ?"), {code})
                     .toString(),
                 name);
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM REGION")).toInt(), 4);
        QCOMPARE(scalar(QStringLiteral("SELECT REGGID FROM REGION WHERE REGOKATO = "
                                       "'71000000000'"))
                     .toInt(),
                 7);
    }

    // Values take the central column's type; the centre's own columns survive.
    void values_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        const QString h = QStringLiteral("SELECT %1 FROM HOSPITAL WHERE IDMU = 100");
        QTest::newRow("EMAIL cut to 32, upper case")
            << h.arg(QStringLiteral("EMAIL")) << "TARA.CRB.GLAVVRACH@ZDRAV.OMSKPOR";
        QTest::newRow("EMSIZE as text") << h.arg(QStringLiteral("EMSIZE")) << "2048";
        QTest::newRow("flags 0/1")
            << h.arg(QStringLiteral("OFFICE * 100 + RSECNAME * 10 + OMS")) << "101";
        QTest::newRow("FAX survives") << h.arg(QStringLiteral("FAX")) << "22-22-22";
        QTest::newRow("MAILADR survives") << h.arg(QStringLiteral("MAILADR")) << "УЛ. ЛЕНИНА, 1";
        QTest::newRow("HSPGID survives") << h.arg(QStringLiteral("HSPGID")) << "20";
        QTest::newRow("CODTMU cut to 10, upper case")
            << QStringLiteral("SELECT CODTMU FROM HOSPTYPE WHERE IDTMU = 2") << "ФЕЛЬДШЕРСК";
        QTest::newRow("existing type keeps its identifier")
            << QStringLiteral("SELECT HTPGID FROM HOSPTYPE WHERE IDTMU = 1") << "5";
        QTest::newRow("type dropped by ЕСВС stays")
            << QStringLiteral("SELECT TMU FROM HOSPTYPE WHERE IDTMU = 99") << "УДАЛЁН";
        QTest::newRow("refused hospital not written")
            << QStringLiteral("SELECT COUNT(*) FROM HOSPITAL WHERE IDMU = 103") << "0";
    }
    void values()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QCOMPARE(scalar(sql).toString(), expected);
    }

    void secondRunChangesNothing()
    {
        const QStringList before = snapshot();
        RecordingWindow w;
        int refused = 0;
        QCOMPARE(sync(w, &refused), 1);
        QCOMPARE(refused, 1);
        QCOMPARE(snapshot(), before);
    }

    // A run that ends early keeps what it wrote before.
    void failures_data()
    {
        QTest::addColumn<QString>("stopOn");
        QTest::addColumn<bool>("namelessRegion");
        QTest::addColumn<QString>("lastLine");
        QTest::addColumn<int>("regions");
        QTest::addColumn<int>("hospitals");
        QTest::newRow("region without a name")
            << QString() << true << QStringLiteral("ОШИБКА!!! ") << 4 << 2;
        QTest::newRow("cancel during the hospitals")
            << QStringLiteral("Импорт данных в таблицу: Hospital") << false
            << QStringLiteral("ОШИБКА!!! Прервано пользователем") << 4 << 2;
    }
    void failures()
    {
        QFETCH_GLOBAL(QString, backend);
        QFETCH(QString, stopOn);
        QFETCH(bool, namelessRegion);
        QFETCH(QString, lastLine);
        QFETCH(int, regions);
        QFETCH(int, hospitals);
        // Databases of its own, emptied and filled again for each row.
        const bool made = m_scratch.count(backend) > 0;
        Databases &own = m_scratch[backend];
        if (!made)
            make(own, backend);
        for (const char *table : {"HOSPITAL", "HOSPTYPE", "REGION"})
            own.central->Exec(QStringLiteral("DELETE FROM ") + QLatin1String(table));
        for (const char *table : {"MU", "TMU", "ADRES"})
            own.esvs->Exec(QStringLiteral("DELETE FROM ") + QLatin1String(table));
        fillCenter(*own.central);
        fillEsvs(*own.esvs);
        use(own);
        if (namelessRegion)
            own.esvs->Exec(QStringLiteral("INSERT INTO ADRES VALUES (99, NULL, ?, 1)"),
                           {padded("99000000000")});
        RecordingWindow w;
        w.stopOn = stopOn;
        QCOMPARE(sync(w), 2);
        QCOMPARE(w.lines.at(w.lines.size() - 2), kSep);
        QVERIFY2(w.lines.last().startsWith(lastLine), qPrintable(w.lines.last()));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM REGION")).toInt(), regions);
        // Hospitals: the centre's two, and the first one of ЕСВС when the cancel came after it.
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM HOSPITAL")).toInt(), hospitals);
        QCOMPARE(scalar(QStringLiteral("SELECT MU FROM HOSPITAL WHERE IDMU = 100")).toString(),
                 stopOn.isEmpty() ? QStringLiteral("СТАРОЕ ИМЯ") : QStringLiteral("ТАРСКАЯ ЦРБ"));
    }

    void regionCodeOf_data()
    {
        QTest::addColumn<QVariant>("okato");
        QTest::addColumn<QString>("code");
        QTest::newRow("padded 11") << QVariant(padded("52254501000")) << "52254000000";
        QTest::newRow("Null") << QVariant() << "";
        QTest::newRow("blank") << QVariant(padded("")) << "";
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
