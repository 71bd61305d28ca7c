#include "../data/centraldb.h"
#include "core/appinfo.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "data/siedm.h"
#include "engine/paradox/paradoxtable.h"
#include "import/imwst.h"
#include "replication/archive.h"
#include "replication/consolejobwindow.h"
#include "ui/dialogs.h"

#include <QDir>
#include <QDirIterator>
#include <QLockFile>
#include <QSqlQuery>
#include <QtTest>
#include <archive.h>
#include <archive_entry.h>

namespace {

using Rows = QList<QVariantMap>;
using Tables = QMap<QString, Rows>;
using Layouts = QMap<QString, QString>;

// A value of a package row.
struct V
{
    QVariant v;
    V(int i) : v(i) {}
    V(bool b) : v(b) {}
    V(const char *s) : v(QString::fromUtf8(s)) {}
    V(const QString &s) : v(s) {}
    V(const QDate &d) : v(d) {}
    V(const QDateTime &t) : v(t) {}
};

QVariantMap row(std::initializer_list<std::pair<const char *, V>> values)
{
    QVariantMap m;
    for (const auto &[k, val] : values)
        m.insert(QString::fromLatin1(k), val.v);
    return m;
}

QStringList names(std::initializer_list<const char *> list)
{
    QStringList out;
    for (const char *n : list)
        out << QString::fromUtf8(n);
    return out;
}

const QDateTime kOld(QDate(2004, 1, 1), QTime(8, 0));
const QDateTime kNew(QDate(2005, 6, 1), QTime(9, 30));

// Values of the columns that the centre requires, where a row does not give them.
const QVariantMap &defaults()
{
    static const QVariantMap map = row({{"WstGID", 1},
                                        {"UserGID", 1},
                                        {"CrDate", kNew},
                                        {"LastUpdate", kNew},
                                        {"CityName", "Город"},
                                        {"StrName", "Улица"},
                                        {"PosName", "Должность"},
                                        {"AreaCode", "01"},
                                        {"HspGID", 10},
                                        {"PrnSurName", "Фамилия"},
                                        {"DocDate", QDate(2005, 1, 1)},
                                        {"DtpGID", 1}});
    return map;
}

// Column layouts of the package tables: "Name:T", T = I long, S short, F number, B logical,
// D date, T timestamp, An alpha(n).
const QMap<QString, QString> &layouts()
{
    static const QMap<QString, QString> map = [] {
        QMap<QString, QString> m;
        const QString origin = QStringLiteral(",CrDate:T,LastUpdate:T,WstGID:I,UserGID:I");
        m[QStringLiteral("City")] =
            QStringLiteral("CityLID:I,CityName:A50,CityLocCod:A10,CitySoato:A10,CityOkato:A13,"
                           "RegGID:I") +
            origin;
        m[QStringLiteral("Street")] = QStringLiteral("StrLID:I,StrName:A50,StrLocCod:A10,CityLID:I,"
                                                     "CrDate:T,LastUpdate:T,UserGID:I,WstGID:I");
        m[QStringLiteral("Post")] = QStringLiteral("PosLID:I,PosName:A50,PosLocCod:A10") + origin;
        m[QStringLiteral("RegistrationArea")] =
            QStringLiteral("AreaLID:I,AreaCode:A10,HspGID:I") + origin;
        m[QStringLiteral("Address")] =
            QStringLiteral("AdrLID:I,AdrHousNum:A10,AdrRoomNum:A5,CityLID:I,StrLID:I,CrDate:T,"
                           "LastUpdate:T,UserGID:I,WstGID:I");
        m[QStringLiteral("Person")] =
            QStringLiteral("PrnLID:I,PrnSurName:A15,PrnName:A15,PrnOtch:A15,PrnSex:S,PrnDate:D,"
                           "PrnMdnName:A15,PrnPhone:A15,AreaLID:I,PosLID:I,AdrLID:I,PrnRefLID:I,"
                           "paspor:A10,kod:A10") +
            origin;
        m[QStringLiteral("Document")] =
            QStringLiteral("DocLID:I,DocDate:D,DocNumber:A10,DtpGID:I,PrnLID:I") + origin;
        m[QStringLiteral("PrimDiag")] = QStringLiteral("DiagGID:I,DocLID:I,DiagType:S") + origin;
        m[QStringLiteral("MapDiag")] = m[QStringLiteral("PrimDiag")];
        // The long forms: every copied column, small integers unless named otherwise.
        const TSIEDM dm(nullptr, nullptr);
        const auto longForm = [](QStringList names) {
            names.removeFirst(); // DocGID, derived
            QStringList cols;
            for (const QString &n : names) {
                if (n == QLatin1String("DocLID") || n == QLatin1String("PostLID") ||
                    n == QLatin1String("WstGID") || n == QLatin1String("UserGID"))
                    cols << n + QStringLiteral(":I");
                else if (n == QLatin1String("CrDate") || n == QLatin1String("LastUpdate"))
                    cols << n + QStringLiteral(":T");
                else
                    cols << n + QStringLiteral(":S");
            }
            return cols.join(QLatin1Char(','));
        };
        m[QStringLiteral("PrimaryInspection")] = longForm(dm.colPrimaryInspection);
        QStringList card = dm.colMapScrining;
        card.replace(card.indexOf(QStringLiteral("PostGID")), QStringLiteral("PostLID"));
        card.insert(card.indexOf(QStringLiteral("CrDate")), QStringLiteral("IndexKetle"));
        m[QStringLiteral("ScriningCard")] = longForm(card);
        m[QStringLiteral("Operator")] =
            QStringLiteral("WstGID:I,UserGID:I,UserName:A20,UserHash:A20,UserLevel:I");
        m[QStringLiteral("Workstation")] =
            QStringLiteral("WstGID:I,WstName:A100,WstRplDate:T,HspGID:I,BrgGID:I");
        m[QStringLiteral("Hospital")] = QStringLiteral(
            "HspGID:I,IDMU:I,MU:A100,MUFL:A250,CODMU:A10,IDTMU:I,OFFICE:B,SURNAMER:A50,NAME_R:A30,"
            "SECNAMER:A30,RSECNAME:B,IDPOST:I,PHONE_R:A20,CNTPHONE:A20,FAX:A20,FAXREG:B,EMAIL:A32,"
            "EMSIZE:A10,IDADRES:I,MAILCODE:A6,MAILADR:A250,HOUSE:S,HOUSELIT:A2,CORPUS:S,OMS:B,"
            "BGDATE:T,BGREASON:A100,CLDATE:T,CLREASON:A100,CRDATE:T,HtpGID:I,RegGID:I");
        m[QStringLiteral("HospType")] =
            QStringLiteral("HtpGID:I,IDTMU:I,TMU:A250,CODTMU:A10,BGDATE:T,BGREASON:A100,CLDATE:T,"
                           "CLREASON:A100,CRDATE:T");
        m[QStringLiteral("Region")] = QStringLiteral("RegGID:I,RegName:A255,RegOkato:A13");
        m[QStringLiteral("Brigade")] = QStringLiteral("BrgGID:I,BrgName:A255,CityGID:I");
        return m;
    }();
    return map;
}

const QStringList kMerged = {QStringLiteral("City"),     QStringLiteral("Street"),
                             QStringLiteral("Post"),     QStringLiteral("RegistrationArea"),
                             QStringLiteral("Address"),  QStringLiteral("Person"),
                             QStringLiteral("Document"), QStringLiteral("PrimaryInspection"),
                             QStringLiteral("PrimDiag"), QStringLiteral("ScriningCard"),
                             QStringLiteral("MapDiag")};

paradox::Schema schemaOf(const QString &layout)
{
    paradox::Schema s;
    for (const QString &col : layout.split(QLatin1Char(','))) {
        const QString name = col.section(QLatin1Char(':'), 0, 0);
        const QString t = col.section(QLatin1Char(':'), 1);
        using F = paradox::FieldType;
        const F type = t == QLatin1String("I")   ? F::Long
                       : t == QLatin1String("S") ? F::Short
                       : t == QLatin1String("F") ? F::Number
                       : t == QLatin1String("B") ? F::Logical
                       : t == QLatin1String("D") ? F::Date
                       : t == QLatin1String("T") ? F::Timestamp
                                                 : F::Alpha;
        s.fields.emplace_back(name, type, type == F::Alpha ? t.mid(1).toInt() : 0);
    }
    return s;
}

// Writes a package folder: the eleven merged tables (empty unless given), plus any other table
// given. layoutOf replaces a table's layout; omit leaves tables out. Rows name their columns;
// WstGID and UserGID default to 1.
void writePackage(const QString &dir, const Tables &tables,
                  const QMap<QString, QString> &layoutOf = {}, const QStringList &omit = {})
{
    QDir().mkpath(dir);
    QStringList names = kMerged;
    for (auto it = tables.begin(); it != tables.end(); ++it)
        if (!names.contains(it.key()))
            names << it.key();
    for (const QString &t : names) {
        if (omit.contains(t))
            continue;
        const paradox::Schema s = schemaOf(layoutOf.value(t, layouts().value(t)));
        std::vector<paradox::Row> rows;
        for (const QVariantMap &r : tables.value(t)) {
            paradox::Row row(s.fields.size());
            for (size_t i = 0; i < s.fields.size(); ++i) {
                const QString &n = s.fields[i].name;
                if (r.contains(n))
                    row[i] = r.value(n);
                else if (kMerged.contains(t))
                    row[i] = defaults().value(n);
            }
            rows.push_back(row);
        }
        paradox::writeTable(dir + QStringLiteral("/") + t + QStringLiteral(".DB"), s, rows);
    }
}

// A zip archive holding these entries, names as given.
void writeZip(const QString &path, const QList<std::pair<QByteArray, QByteArray>> &entries)
{
    archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_filename(a, QFile::encodeName(path).constData());
    for (const auto &[name, data] : entries) {
        archive_entry *e = archive_entry_new();
        archive_entry_set_pathname(e, name.constData());
        archive_entry_set_perm(e, 0644);
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_size(e, data.size());
        archive_write_header(a, e);
        archive_write_data(a, data.constData(), size_t(data.size()));
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
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

} // namespace

class TestImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_program;
    TAliasStore m_aliases;
    std::unique_ptr<TAppInfo> m_info;
    std::unique_ptr<CentralDb> m_central;
    QString m_backend;

    QString importDir() const { return m_program.filePath(QStringLiteral("import")); }

    qint64 count(const QString &table, const QString &where = {}, const QVariantList &v = {})
    {
        return m_central
            ->Scalar(QStringLiteral("SELECT COUNT(*) FROM ") + table +
                         (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where),
                     v)
            .toLongLong();
    }
    QVariant value(const QString &sql, const QVariantList &v = {})
    {
        return m_central->Scalar(sql, v);
    }

    // Merges a package folder with a job that is not launched; the error message, if any.
    QString merge(const QString &folder, RecordingWindow &w, int windowRows = 256)
    {
        TImWorkstationToServer job(w, QStringLiteral("unused"));
        job.SetWindowRows(windowRows);
        try {
            job.ImportFolder(folder);
        } catch (const Exception &e) {
            return e.Message();
        }
        return {};
    }
    QString merge(const Tables &tables, RecordingWindow &w, int windowRows = 256)
    {
        QTemporaryDir dir;
        writePackage(dir.path(), tables);
        return merge(dir.path(), w, windowRows);
    }

    // A ".w2s" of a package folder written by fill(dir), in the import folder.
    QString packWith(const QString &name, const std::function<void(const QString &)> &fill)
    {
        const QString dir = importDir() + QStringLiteral("/packing");
        QDir(dir).removeRecursively();
        fill(dir);
        const QString archive = importDir() + QDir::separator() + name;
        QFile::remove(archive);
        const int code = PackFolder(m_info->AppFolder(), dir, QStringLiteral("w"), name);
        QDir(dir).removeRecursively();
        return code == 0 ? archive : QString();
    }
    QString pack(const Tables &tables, const QString &name = QStringLiteral("wst12.w2s"),
                 const Layouts &layoutOf = {}, const QStringList &omit = {})
    {
        return packWith(name,
                        [&](const QString &dir) { writePackage(dir, tables, layoutOf, omit); });
    }

    int runJob(const QString &package, RecordingWindow &w, const QString &stopOn = {})
    {
        w.stopOn = stopOn;
        return RunJob(w, [&](TJobWindow &window) {
            auto job = std::make_unique<TImWorkstationToServer>(window, package);
            w.job = job.get();
            return std::unique_ptr<TRplThread>(std::move(job));
        });
    }

    QStringList importContents() const
    {
        QStringList out;
        QDirIterator it(importDir(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            out << QDir(importDir()).relativeFilePath(it.next());
        out.sort();
        return out;
    }

    void seed(CentralDb &c)
    {
        c.Exec(QStringLiteral("INSERT INTO REGION VALUES (1, 'Омская область', '52000000000')"));
        c.Exec(QStringLiteral("INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU) VALUES (5, 1, 'ЦРБ')"));
        c.Exec(QStringLiteral("INSERT INTO HOSPITAL (HSPGID, IDMU, MU, HTPGID, REGGID) VALUES "
                              "(10, 100, 'Тарская ЦРБ', 5, 1)"));
        c.Exec(
            QStringLiteral("INSERT INTO WORKSTATION VALUES (1, 'Регистратура', NULL, 10, NULL)"));
        c.Exec(QStringLiteral("INSERT INTO OPERATOR VALUES (1, 1, 'oper', 'hash', 1)"));
        c.Exec(QStringLiteral("INSERT INTO CITY (CITYGID, CITYNAME, CITYSOATO) VALUES (100, "
                              "'Омск', '5200')"));
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
        const QString arc = qEnvironmentVariable("ZORU_PROGRAM_DIR") + QStringLiteral("/zoru-arc");
        QVERIFY2(QFile::copy(arc, m_program.filePath(QStringLiteral("zoru-arc"))), qPrintable(arc));
        QFile::setPermissions(m_program.filePath(QStringLiteral("zoru-arc")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString ini = QStringLiteral("[Settings]\r\nIsServer=1\r\nAIS_RODE_IMPORT=%1\r\n")
                                .arg(importDir() + QDir::separator());
        testsupport::writeFile(m_program.filePath(QStringLiteral("zoru-admin.ini")),
                               cp1251::encode(ini));
        m_info =
            std::make_unique<TAppInfo>(m_program.filePath(QStringLiteral("zoru-admin")), m_aliases);
        m_info->ImportPath = importDir() + QDir::separator();
        AppInfo = m_info.get();
        TDialogs::SetTestMode(true);
    }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == QLatin1String("POSTGRESQL") && !testsupport::pgServer())
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
        SetCentralDatabase(nullptr);
        m_central.reset();
        m_central = std::make_unique<CentralDb>(backend);
        seed(*m_central);
        m_backend = backend;
        SetCentralDatabase(&m_central->Db());
        QDir(importDir()).removeRecursively();
        QDir().mkpath(importDir());
        TDialogs::Reset();
    }
    void cleanupTestCase()
    {
        SetCentralDatabase(nullptr);
        AppInfo = nullptr;
        m_central.reset();
    }

    // Dictionary rows: one central row per natural key, one mapping per workstation row, mapped
    // rows never updated; a second import adds nothing.
    void dictionaries()
    {
        Tables t;
        t[QStringLiteral("City")] = {
            row({{"CityLID", 1}, {"CityName", "Тара"}, {"CitySoato", "111"}, {"RegGID", 1}}),
            row({{"CityLID", 2}, {"CityName", "Тара-2"}, {"CitySoato", "111"}}),
            row({{"CityLID", 3}, {"CityName", "Омск-местный"}, {"CitySoato", "5200"}})};
        t[QStringLiteral("Street")] = {row({{"StrLID", 1}, {"StrName", "Ленина"}, {"CityLID", 1}}),
                                       row({{"StrLID", 2}, {"StrName", "Ленина"}, {"CityLID", 2}})};
        t[QStringLiteral("Post")] = {row({{"PosLID", 1}, {"PosName", "Врач"}})};
        t[QStringLiteral("RegistrationArea")] = {
            row({{"AreaLID", 1}, {"AreaCode", "01"}, {"HspGID", 10}})};
        RecordingWindow w;
        QCOMPARE(merge(t, w), QString());
        QCOMPARE(count(QStringLiteral("CITY")), 2);
        QCOMPARE(count(QStringLiteral("AUXCITY")), 3);
        QCOMPARE(value(QStringLiteral("SELECT CITYGID FROM AUXCITY WHERE CITYLID = 3")).toInt(),
                 100);
        const int tara =
            value(QStringLiteral("SELECT CITYGID FROM AUXCITY WHERE CITYLID = 1")).toInt();
        QCOMPARE(value(QStringLiteral("SELECT CITYGID FROM AUXCITY WHERE CITYLID = 2")).toInt(),
                 tara);
        QCOMPARE(
            value(QStringLiteral("SELECT CITYNAME FROM CITY WHERE CITYGID = ?"), {tara}).toString(),
            QStringLiteral("Тара"));
        QCOMPARE(value(QStringLiteral("SELECT REGGID FROM CITY WHERE CITYGID = ?"), {tara}).toInt(),
                 1);
        QCOMPARE(count(QStringLiteral("STREET")), 1);
        QCOMPARE(value(QStringLiteral("SELECT CITYGID FROM STREET")).toInt(), tara);
        QCOMPARE(count(QStringLiteral("AUXSTREET")), 2);
        QCOMPARE(count(QStringLiteral("AUXPOST")), 1);
        QCOMPARE(count(QStringLiteral("AUXREGISTRATIONAREA")), 1);
        const int city = w.lines.indexOf(QStringLiteral("Импорт данных в таблицу: City"));
        QCOMPARE(w.lines.mid(city + 1, 2), (QStringList{QStringLiteral("3 записей"), QString()}));

        t[QStringLiteral("City")][0][QStringLiteral("CityName")] = QStringLiteral("Тара-новая");
        RecordingWindow again;
        QCOMPARE(merge(t, again), QString());
        QCOMPARE(
            value(QStringLiteral("SELECT CITYNAME FROM CITY WHERE CITYGID = ?"), {tara}).toString(),
            QStringLiteral("Тара"));
        QCOMPARE(count(QStringLiteral("CITY")), 2);
        QCOMPARE(count(QStringLiteral("AUXCITY")), 3);
        QCOMPARE(count(QStringLiteral("STREET")), 1);
        QCOMPARE(again.lines.count(QStringLiteral("0 записей")), 11);
    }

    // Owned rows: edited in place on re-import, forward references filled then, removed
    // diagnoses kept, older rows overwrite, a diagnosis without its inspection stored once.
    void ownedRows()
    {
        Tables t;
        t[QStringLiteral("Address")] = {row({{"AdrLID", 1}, {"AdrHousNum", "5"}})};
        t[QStringLiteral("Person")] = {
            row({{"PrnLID", 1},
                 {"PrnSurName", "Иванов"},
                 {"PrnRefLID", 2},
                 {"AdrLID", 1},
                 {"LastUpdate", kNew}}),
            row({{"PrnLID", 2}, {"PrnSurName", "Петров"}, {"PrnDate", QDate(1950, 3, 8)}})};
        t[QStringLiteral("Document")] = {row({{"DocLID", 7}, {"PrnLID", 2}, {"DocNumber", "A-1"}}),
                                         row({{"DocLID", 8}, {"PrnLID", 1}})};
        t[QStringLiteral("PrimaryInspection")] = {row({{"DocLID", 7}, {"PinNumber", 3}})};
        t[QStringLiteral("PrimDiag")] = {row({{"DiagGID", 1}, {"DocLID", 7}, {"DiagType", 1}}),
                                         row({{"DiagGID", 2}, {"DocLID", 7}, {"DiagType", 1}}),
                                         row({{"DiagGID", 3}, {"DocLID", 99}, {"DiagType", 1}})};
        t[QStringLiteral("ScriningCard")] = {row({{"DocLID", 8}, {"Hyper", 1}})};
        t[QStringLiteral("MapDiag")] = {row({{"DiagGID", 4}, {"DocLID", 8}, {"DiagType", 2}})};
        RecordingWindow w;
        QCOMPARE(merge(t, w), QString());
        const auto prn = [&](int lid) {
            return value(QStringLiteral("SELECT PRNGID FROM PERSON WHERE PRNLID = ?"), {lid});
        };
        const QVariant ivanov = prn(1);
        const QVariant petrov = prn(2);
        QVERIFY(value(QStringLiteral("SELECT PRNREFGID FROM PERSON WHERE PRNLID = 1")).isNull());
        QCOMPARE(value(QStringLiteral("SELECT ADRGID FROM PERSON WHERE PRNLID = 1")),
                 value(QStringLiteral("SELECT ADRGID FROM ADDRESS")));
        const QVariant doc7 = value(QStringLiteral("SELECT DOCGID FROM DOCUMENT WHERE DOCLID = 7"));
        QCOMPARE(value(QStringLiteral("SELECT PRNGID FROM DOCUMENT WHERE DOCLID = 7")), petrov);
        QCOMPARE(value(QStringLiteral("SELECT DOCGID FROM PRIMARYINSPECTION")), doc7);
        QCOMPARE(count(QStringLiteral("PRIMDIAG"), QStringLiteral("DOCGID = ?"), {doc7}), 2);
        QCOMPARE(count(QStringLiteral("PRIMDIAG"), QStringLiteral("DOCGID IS NULL")), 1);
        QCOMPARE(count(QStringLiteral("MAPDIAG")), 1);
        QCOMPARE(value(QStringLiteral("SELECT DOCGID FROM SCRININGCARD")),
                 value(QStringLiteral("SELECT DOCGID FROM DOCUMENT WHERE DOCLID = 8")));

        t[QStringLiteral("Person")][0][QStringLiteral("PrnSurName")] = QStringLiteral("Сидоров");
        t[QStringLiteral("Person")][0][QStringLiteral("LastUpdate")] = kOld;
        t[QStringLiteral("PrimDiag")].removeAt(1);
        RecordingWindow again;
        QCOMPARE(merge(t, again), QString());
        QCOMPARE(count(QStringLiteral("PERSON")), 2);
        QCOMPARE(prn(1), ivanov);
        QCOMPARE(value(QStringLiteral("SELECT PRNREFGID FROM PERSON WHERE PRNLID = 1")), petrov);
        QCOMPARE(value(QStringLiteral("SELECT PRNSURNAME FROM PERSON WHERE PRNLID = 1")).toString(),
                 QStringLiteral("Сидоров"));
        QCOMPARE(
            value(QStringLiteral("SELECT LASTUPDATE FROM PERSON WHERE PRNLID = 1")).toDateTime(),
            kOld);
        QCOMPARE(count(QStringLiteral("ADDRESS")), 1);
        QCOMPARE(count(QStringLiteral("DOCUMENT")), 2);
        QCOMPARE(count(QStringLiteral("PRIMARYINSPECTION")), 1);
        QCOMPARE(count(QStringLiteral("SCRININGCARD")), 1);
        QCOMPARE(count(QStringLiteral("PRIMDIAG")), 3);
        QCOMPARE(count(QStringLiteral("PRIMDIAG"), QStringLiteral("DOCGID IS NULL")), 1);
        QCOMPARE(count(QStringLiteral("MAPDIAG")), 1);
    }

    // Windows of any size give the same rows; progress lines at every tenth row of the owned-row
    // steps only; a failing row leaves the rows before it committed and counted.
    void windows_data()
    {
        QTest::addColumn<int>("windowRows");
        QTest::addColumn<int>("badRow"); // 1-based; 0: none
        QTest::newRow("one row each") << 1 << 0;
        QTest::newRow("windows of 7") << 7 << 0;
        QTest::newRow("one window") << 256 << 0;
        QTest::newRow("bad row 13, windows of 4") << 4 << 13;
        QTest::newRow("bad row 13, windows of 7") << 7 << 13;
        QTest::newRow("bad row 13, one window") << 256 << 13;
        QTest::newRow("bad first row") << 256 << 1;
    }
    void windows()
    {
        QFETCH(int, windowRows);
        QFETCH(int, badRow);
        Tables t;
        for (int i = 1; i <= 12; ++i)
            t[QStringLiteral("City")] << row({{"CityLID", i}, {"CitySoato", QString::number(i)}});
        for (int i = 1; i <= 23; ++i)
            t[QStringLiteral("Person")]
                << row({{"PrnLID", i},
                        {"PrnSex", i == badRow ? QStringLiteral("муж") : QStringLiteral("1")}});
        QTemporaryDir dir;
        QMap<QString, QString> layout;
        layout[QStringLiteral("Person")] =
            layouts()
                .value(QStringLiteral("Person"))
                .replace(QStringLiteral("PrnSex:S"), QStringLiteral("PrnSex:A5"));
        writePackage(dir.path(), t, layout);
        RecordingWindow w;
        const QString error = merge(dir.path(), w, windowRows);
        QCOMPARE(count(QStringLiteral("AUXCITY")), 12);
        const int written = badRow ? badRow - 1 : 23;
        QCOMPARE(count(QStringLiteral("PERSON")), written);
        QCOMPARE(w.lines.count(QStringLiteral("10 записей обработано")), written >= 10 ? 1 : 0);
        QCOMPARE(w.lines.count(QStringLiteral("20 записей обработано")), written >= 20 ? 1 : 0);
        QCOMPARE(w.lines.filter(QStringLiteral("обработано")).size(), written / 10);
        const int person = w.lines.indexOf(QStringLiteral("Импорт данных в таблицу: Person"));
        QCOMPARE(w.lines.at(person + 1 + written / 10),
                 QString::number(written) + QStringLiteral(" записей"));
        if (badRow) {
            QVERIFY2(error.contains(QStringLiteral("муж")), qPrintable(error));
            QVERIFY(!w.lines.contains(QStringLiteral("Импорт данных в таблицу: Document")));
        } else {
            QCOMPARE(error, QString());
            QCOMPARE(value(QStringLiteral("SELECT MAX(PRNSEX) FROM PERSON")).toInt(), 1);
        }
    }

    // Registration of operators and workstations new to the centre.
    void registration_data()
    {
        QTest::addColumn<Tables>("tables");
        QTest::addColumn<Layouts>("layout");
        // New rows of REGION, HOSPTYPE, HOSPITAL, BRIGADE, WORKSTATION, OPERATOR.
        QTest::addColumn<QList<int>>("added");

        const QDateTime open(QDate(2001, 9, 1), QTime(0, 0));
        Tables full;
        full[QStringLiteral("Operator")] = {row({{"WstGID", 7},
                                                 {"UserGID", 3},
                                                 {"UserName", "ivanova"},
                                                 {"UserHash", "h"},
                                                 {"UserLevel", 2}})};
        full[QStringLiteral("Workstation")] = {
            row({{"WstGID", 7}, {"WstName", "Новая"}, {"HspGID", 70}, {"BrgGID", 80}})};
        full[QStringLiteral("Hospital")] = {row({{"HspGID", 70},
                                                 {"IDMU", 700},
                                                 {"MU", "Новая ЦРБ"},
                                                 {"OFFICE", true},
                                                 {"OMS", false},
                                                 {"HOUSE", 4},
                                                 {"BGDATE", open},
                                                 {"HtpGID", 60},
                                                 {"RegGID", 50}})};
        full[QStringLiteral("HospType")] = {
            row({{"HtpGID", 60}, {"IDTMU", 6}, {"TMU", "Больница"}, {"BGDATE", open}})};
        full[QStringLiteral("Region")] = {
            row({{"RegGID", 50}, {"RegName", "Новая область"}, {"RegOkato", "99"}})};
        full[QStringLiteral("Brigade")] = {
            row({{"BrgGID", 80}, {"BrgName", "Бригада"}, {"CityGID", 100}})};
        full[QStringLiteral("City")] = {
            row({{"CityLID", 1}, {"CitySoato", "9"}, {"WstGID", 7}, {"UserGID", 3}})};
        QTest::newRow("all missing") << full << Layouts{} << QList<int>{1, 1, 1, 1, 1, 1};

        Tables known = full;
        known[QStringLiteral("Workstation")] = {
            row({{"WstGID", 7}, {"WstName", "Новая"}, {"HspGID", 10}})};
        QTest::newRow("known hospital, no brigade")
            << known << Layouts{} << QList<int>{0, 0, 0, 0, 1, 1};

        Tables newOperator = full;
        newOperator[QStringLiteral("Operator")][0][QStringLiteral("WstGID")] = 1;
        newOperator[QStringLiteral("Workstation")][0][QStringLiteral("WstGID")] = 1;
        newOperator[QStringLiteral("City")][0][QStringLiteral("WstGID")] = 1;
        QTest::newRow("new operator of a known workstation")
            << newOperator << Layouts{} << QList<int>{0, 0, 0, 0, 0, 0};

        Tables anyOperator = full;
        anyOperator.remove(QStringLiteral("City"));
        anyOperator[QStringLiteral("Street")] = {
            row({{"StrLID", 1}, {"StrName", "Ленина"}, {"WstGID", 7}, {"UserGID", 3}})};
        QTest::newRow("any operator, none central")
            << anyOperator << Layouts{} << QList<int>{0, 0, 0, 0, 0, 0};

        QMap<QString, QString> textId;
        textId[QStringLiteral("Workstation")] =
            layouts()
                .value(QStringLiteral("Workstation"))
                .replace(QStringLiteral("HspGID:I"), QStringLiteral("HspGID:A40"));
        Tables hostileId = full;
        hostileId[QStringLiteral("Workstation")][0][QStringLiteral("HspGID")] =
            QStringLiteral("70; drop table region");
        QTest::newRow("identifier that is no number")
            << hostileId << textId << QList<int>{0, 0, 0, 0, 0, 0};

        QMap<QString, QString> hostileColumn;
        hostileColumn[QStringLiteral("HospType")] = layouts().value(QStringLiteral("HospType")) +
                                                    QStringLiteral(",x) drop table operator:A10");
        QTest::newRow("column name with SQL")
            << full << hostileColumn << QList<int>{0, 0, 0, 0, 0, 0};
    }
    void registration()
    {
        QFETCH(Tables, tables);
        QFETCH(Layouts, layout);
        QFETCH(QList<int>, added);
        const QStringList central = {QStringLiteral("REGION"),      QStringLiteral("HOSPTYPE"),
                                     QStringLiteral("HOSPITAL"),    QStringLiteral("BRIGADE"),
                                     QStringLiteral("WORKSTATION"), QStringLiteral("OPERATOR")};
        QList<qint64> before;
        for (const QString &t : central)
            before << count(t);
        QTemporaryDir dir;
        writePackage(dir.path(), tables, layout);
        RecordingWindow w;
        QCOMPARE(merge(dir.path(), w), QString());
        for (int i = 0; i < central.size(); ++i)
            QCOMPARE(count(central.at(i)) - before.at(i), qint64(added.at(i)));
        // The import goes on whatever the registration did.
        QCOMPARE(count(QStringLiteral("AUXCITY")) + count(QStringLiteral("AUXSTREET")), 1);

        if (added.at(4) == 1) {
            QCOMPARE(value(QStringLiteral("SELECT WSTRPLDATE FROM WORKSTATION WHERE WSTGID = 7"))
                         .toDateTime()
                         .date(),
                     QDate::currentDate());
            QCOMPARE(
                value(QStringLiteral("SELECT USERNAME FROM OPERATOR WHERE WSTGID = 7")).toString(),
                QStringLiteral("ivanova"));
            m_central->Exec(QStringLiteral("INSERT INTO WORKSTATION (WSTNAME) VALUES ('y')"));
            QVERIFY(value(QStringLiteral("SELECT MAX(WSTGID) FROM WORKSTATION")).toInt() > 7);
        }
        if (added.at(4) == 1 && added.at(3) == 0)
            QVERIFY(
                value(QStringLiteral("SELECT BRGGID FROM WORKSTATION WHERE WSTGID = 7")).isNull());
        if (added.at(2) == 1) {
            QCOMPARE(value(QStringLiteral("SELECT OFFICE FROM HOSPITAL WHERE HSPGID = 70")).toInt(),
                     1);
            QCOMPARE(value(QStringLiteral("SELECT OMS FROM HOSPITAL WHERE HSPGID = 70")).toInt(),
                     0);
            QCOMPARE(
                value(QStringLiteral("SELECT BGDATE FROM HOSPITAL WHERE HSPGID = 70")).toDateTime(),
                QDateTime(QDate(2001, 9, 1), QTime(0, 0)));
            QCOMPARE(value(QStringLiteral("SELECT CITYGID FROM BRIGADE WHERE BRGGID = 80")).toInt(),
                     100);
            // Numbers assigned later by the centre pass the registered identifiers.
            m_central->Exec(
                QStringLiteral("INSERT INTO REGION (REGNAME, REGOKATO) VALUES ('x', '1')"));
            QVERIFY(value(QStringLiteral("SELECT MAX(REGGID) FROM REGION")).toInt() > 50);
            m_central->Exec(QStringLiteral("INSERT INTO HOSPITAL (IDMU, MU) VALUES (1, 'x')"));
            QVERIFY(value(QStringLiteral("SELECT MAX(HSPGID) FROM HOSPITAL")).toInt() > 70);
            m_central->Exec(QStringLiteral("INSERT INTO BRIGADE (BRGNAME) VALUES ('x')"));
            QVERIFY(value(QStringLiteral("SELECT MAX(BRGGID) FROM BRIGADE")).toInt() > 80);
            m_central->Exec(QStringLiteral("INSERT INTO HOSPTYPE (IDTMU) VALUES (1)"));
            QVERIFY(value(QStringLiteral("SELECT MAX(HTPGID) FROM HOSPTYPE")).toInt() > 60);
        }
    }

    // Text of the package is data, SQL or not.
    void sqlInTextIsData()
    {
        const QString name = QStringLiteral("x'); DROP TABLE CITY; --");
        Tables t;
        t[QStringLiteral("City")] = {
            row({{"CityLID", 1}, {"CityName", name}, {"CitySoato", name.left(10)}})};
        RecordingWindow w;
        QCOMPARE(merge(t, w), QString());
        QCOMPARE(value(QStringLiteral("SELECT CITYNAME FROM CITY WHERE CITYGID <> 100")).toString(),
                 name);
    }

    // The job from the package file to its deletion.
    void job_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("lastLine"); // prefix
        QTest::newRow("success") << "success"
                                 << "Импорт данных завершен";
        QTest::newRow("dialog") << "dialog"
                                << "Импорт данных завершен";
        QTest::newRow("dialog cancelled") << "cancelled"
                                          << "ОШИБКА!!! Прервано пользователем";
        QTest::newRow("folder exists") << "exists"
                                       << "ОШИБКА!!! Папка уже существует\r\n";
        QTest::newRow("not an archive") << "garbage"
                                        << "ОШИБКА!!! Ошибка при извлечении из архива\r\n";
        QTest::newRow("entry leaving the folder")
            << "escape"
            << "ОШИБКА!!! Ошибка при извлечении из архива\r\n";
        QTest::newRow("subfolders in the package") << "subfolders"
                                                   << "Импорт данных завершен";
        QTest::newRow("cancel mid-step") << "cancel"
                                         << "ОШИБКА!!! Прервано пользователем";
        QTest::newRow("missing table") << "noTable"
                                       << "ОШИБКА!!! ";
        QTest::newRow("missing column") << "noColumn"
                                        << "ОШИБКА!!! ";
        QTest::newRow("damaged table") << "damaged"
                                       << "ОШИБКА!!! ";
        QTest::newRow("import running") << "locked"
                                        << "ОШИБКА!!! Импорт уже выполняется";
    }
    void job()
    {
        QFETCH(QString, kind);
        QFETCH(QString, lastLine);
        Tables t;
        t[QStringLiteral("City")] = {row({{"CityLID", 1}, {"CitySoato", "1"}})};
        t[QStringLiteral("Post")] = {row({{"PosLID", 1}, {"PosName", "Врач"}})};
        t[QStringLiteral("Person")] = {row({{"PrnLID", 1}}), row({{"PrnLID", 2}})};
        QMap<QString, QString> layout;
        QStringList omit;
        if (kind == QLatin1String("noTable"))
            omit << QStringLiteral("Person");
        if (kind == QLatin1String("noColumn"))
            layout[QStringLiteral("Person")] =
                layouts()
                    .value(QStringLiteral("Person"))
                    .replace(QStringLiteral(",PrnRefLID:I"), QString());
        const QString package = kind == QLatin1String("damaged")
                                    ? packWith(QStringLiteral("wst12.w2s"),
                                               [&](const QString &dir) {
                                                   // A table whose header promises more than the
                                                   // file holds.
                                                   writePackage(dir, t);
                                                   QFile f(dir + QStringLiteral("/Person.DB"));
                                                   if (f.open(QIODevice::ReadWrite))
                                                       f.resize(f.size() / 2 + 3);
                                               })
                                    : pack(t, QStringLiteral("wst12.w2s"), layout, omit);
        QVERIFY(!package.isEmpty());
        // Neighbours that a name mask would have taken.
        for (const char *n : {"wst1.w2s", "wst123.w2s", "wst12 копия.txt"})
            testsupport::writeFile(importDir() + QStringLiteral("/") + QString::fromUtf8(n),
                                   "keep");
        if (kind == QLatin1String("garbage"))
            testsupport::writeFile(package, "not an archive at all");
        if (kind == QLatin1String("escape"))
            writeZip(package, {{"City.DB", "x"}, {"../evil.txt", "x"}});
        if (kind == QLatin1String("subfolders")) {
            QTemporaryDir dir;
            writePackage(dir.path(), t);
            QList<std::pair<QByteArray, QByteArray>> entries;
            for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
                entries.append(std::pair(f.toUtf8(), testsupport::readFile(dir.filePath(f))));
            entries.append(std::pair<QByteArray, QByteArray>("sub/deeper/note.txt", "x"));
            writeZip(package, entries);
        }
        if (kind == QLatin1String("exists"))
            QDir().mkdir(importDir() + QStringLiteral("/wst12"));
        std::unique_ptr<QLockFile> sqliteLock;
        if (kind == QLatin1String("locked")) {
            if (m_backend == QLatin1String("SQLITE") ||
                m_central->Db().Driver() == QLatin1String("SQLITE")) {
                sqliteLock = std::make_unique<QLockFile>(m_central->Db().Sql().databaseName() +
                                                         QStringLiteral(".import.lock"));
                QVERIFY(sqliteLock->tryLock(0));
            } else {
                m_central->Scalar(QStringLiteral("SELECT pg_advisory_lock(?)"),
                                  {qint64(0x5A4F5255494D504FLL)});
            }
        }

        const QStringList neighbours = importContents();
        RecordingWindow w;
        QString given = package;
        if (kind == QLatin1String("dialog") || kind == QLatin1String("cancelled")) {
            TDialogs::SetNextFileName(kind == QLatin1String("dialog") ? package : QString());
            given.clear();
        }
        const int result = runJob(given, w,
                                  kind == QLatin1String("cancel")
                                      ? QStringLiteral("Импорт данных в таблицу: Person")
                                      : QString());
        if (kind == QLatin1String("locked") && !sqliteLock)
            m_central->Scalar(QStringLiteral("SELECT pg_advisory_unlock(?)"),
                              {qint64(0x5A4F5255494D504FLL)});

        const bool ok = lastLine == QStringLiteral("Импорт данных завершен");
        const bool cancelled = kind == QLatin1String("cancel");
        QCOMPARE(result, ok ? 1 : 2);
        QCOMPARE(w.caption, QStringLiteral("Импорт анкет и внутренних справочников"));
        QVERIFY2(w.lines.last().startsWith(lastLine), qPrintable(w.lines.last()));
        QCOMPARE(w.lines.at(w.lines.size() - 2), StrConst::Separator);
        QVERIFY(!QFileInfo::exists(m_program.filePath(QStringLiteral("evil.txt"))));
        QVERIFY(!QFileInfo::exists(importDir() + QStringLiteral("/evil.txt")));
        if (kind == QLatin1String("dialog") || kind == QLatin1String("cancelled")) {
            QCOMPARE(TDialogs::AskedSoFar().size(), 1);
            QCOMPARE(TDialogs::AskedSoFar().first().kind, TDialogs::Kind::FileOpen);
        }
        if (kind == QLatin1String("exists")) {
            QCOMPARE(w.lines.last(), QStringLiteral("ОШИБКА!!! Папка уже существует\r\n") +
                                         importDir() + QStringLiteral("/wst12"));
            return;
        }
        if (kind == QLatin1String("escape"))
            QVERIFY2(w.lines.last().size() > lastLine.size() + 3, qPrintable(w.lines.last()));

        // The work folder is gone; the package is deleted only after success, its neighbours never.
        QStringList expected = neighbours;
        if (ok) {
            expected.removeAll(QStringLiteral("wst12.w2s"));
            QVERIFY(w.lines.contains(QStringLiteral("Удаление репликации: ") + package));
        }
        QCOMPARE(importContents(), expected);

        // Rows of the steps before a failure are there; nothing before unpacking is written.
        const bool unpacked = kind != QLatin1String("cancelled") &&
                              kind != QLatin1String("garbage") && kind != QLatin1String("escape") &&
                              kind != QLatin1String("locked");
        QCOMPARE(count(QStringLiteral("AUXPOST")), unpacked ? 1 : 0);
        // A cancellation takes effect after the row under way, which is kept.
        const int persons = ok ? 2 : cancelled ? 1 : 0;
        QCOMPARE(count(QStringLiteral("PERSON")), persons);
        if (kind == QLatin1String("noColumn"))
            QVERIFY2(w.lines.last().contains(QStringLiteral("PrnRefLID"), Qt::CaseInsensitive),
                     qPrintable(w.lines.last()));
        if (unpacked) {
            const int person = w.lines.indexOf(QStringLiteral("Импорт данных в таблицу: Person"));
            QCOMPARE(
                w.lines.mid(person + 1, 2),
                (QStringList{QString::number(persons) + QStringLiteral(" записей"), QString()}));
        }
    }

    // The work folder is named after the package file.
    void workFolder_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << "/x/wst12.w2s"
                               << "wst12";
        QTest::newRow("two dots") << "/x/a.b.w2s"
                                  << "a.b";
        QTest::newRow("cut before the extension")
            << "/x/0123456789012345678901234567.89abcdefgh.w2s"
            << "0123456789012345678901234567";
        QTest::newRow("cut, no dot left") << "/x/012345678901234567890123456789012345678.w2s"
                                          << "012345678901234567890123456789012345";
    }
    void workFolder()
    {
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QCOMPARE(ImportWorkFolder(QStringLiteral("/imp/"), file), QStringLiteral("/imp/") + folder);
    }

    // The volume set of a package is what the archiver names, nothing more.
    void volumes_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QStringList>("set");
        const QStringList around = {QStringLiteral("w.w2s"),       QStringLiteral("wst12.w2s"),
                                    QStringLiteral("wst12.w00"),   QStringLiteral("wst12.w01"),
                                    QStringLiteral("wst123.w2s"),  QStringLiteral("wst12.w03"),
                                    QStringLiteral("x.part1.w2s"), QStringLiteral("x.part2.w2s"),
                                    QStringLiteral("x.part3.w2s"), QStringLiteral("x.part10.w2s")};
        QTest::newRow("lettered volumes")
            << around << "wst12.w2s" << names({"wst12.w2s", "wst12.w00", "wst12.w01"});
        QTest::newRow("single") << around << "w.w2s" << names({"w.w2s"});
        QTest::newRow("numbered parts")
            << around << "x.part1.w2s" << names({"x.part1.w2s", "x.part2.w2s", "x.part3.w2s"});
    }
    void volumes()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, first);
        QFETCH(QStringList, set);
        QTemporaryDir dir;
        for (const QString &f : files)
            testsupport::writeFile(dir.filePath(f), "v");
        QStringList got;
        for (const QString &v : PackageVolumes(dir.filePath(first)))
            got << QFileInfo(v).fileName();
        QCOMPARE(got, set);
    }
};

QTEST_MAIN(TestImport)
#include "test_import.moc"
