// The import of a workstation package, on both backends: the merge rules, the registration of a
// workstation new to the centre, the job from the package file to its deletion, hostile packages.

#include "../data/centraldb.h"
#include "../data/jobtest.h"
#include "core/appinfo.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "engine/paradox/paradoxtable.h"
#include "import/imwst.h"
#include "package.h"
#include "replication/archive.h"
#include "ui/dialogs.h"

#include <QLockFile>
#include <QSqlQuery>
#include <archive.h>
#include <archive_entry.h>

namespace {

using jobtest::RecordingWindow;
using Rows = QList<QVariantMap>;
using Tables = QMap<QString, Rows>;

// A value of a package row or an expected value (nullptr: Null).
struct V
{
    QVariant v;
    V(std::nullptr_t) {}
    V(int i) : v(i) {}
    V(bool b) : v(b) {}
    V(const char *s) : v(QString::fromUtf8(s)) {}
    V(const QString &s) : v(s) {}
    V(const QDate &d) : v(d) {}
    V(const QDateTime &t) : v(t) {}
};

// A package row by column name; also a set of checks, a query each with the value it must give.
QVariantMap row(std::initializer_list<std::pair<const char *, V>> values)
{
    QVariantMap m;
    for (const auto &[k, val] : values)
        m.insert(QString::fromUtf8(k), val.v);
    return m;
}

const QDateTime kOld(QDate(2004, 1, 1), QTime(8, 0));
const QDateTime kNew(QDate(2005, 6, 1), QTime(9, 30));
const QString kStep = QStringLiteral("Импорт данных в таблицу: ");

// Values of the columns that the centre requires, where a row of a merged table does not give them.
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

// Writes a package folder: the eleven merged tables (empty unless given) and the copies given,
// unkeyed so that rows keep their order. An edit "Table.Column:An" makes the column text of n
// characters (added when absent), "Table.Column" leaves it out; omit leaves tables out.
void writePackage(const QString &dir, const Tables &tables, const QStringList &edits = {},
                  const QStringList &omit = {})
{
    QDir().mkpath(dir);
    const std::vector<QString> &all = demo::PackageTableNames();
    for (size_t n = 0; n < all.size(); ++n) {
        const QString &t = all[n];
        if (omit.contains(t) || (n >= 11 && !tables.contains(t)))
            continue;
        paradox::Schema s = demo::PackageTableSchema(t);
        s.keyFieldCount = 0;
        for (const QString &e : edits) {
            const QString column = e.section(QLatin1Char('.'), 1).section(QLatin1Char(':'), 0, 0);
            const int size = e.section(QLatin1Char(':'), 1).mid(1).toInt();
            const int i = s.indexOf(column);
            if (e.section(QLatin1Char('.'), 0, 0) != t)
                continue;
            if (size == 0 && i >= 0)
                s.fields.erase(s.fields.begin() + i);
            else if (i < 0)
                s.fields.emplace_back(column, paradox::FieldType::Alpha, size);
            else
                s.fields[size_t(i)] = paradox::Field(column, paradox::FieldType::Alpha, size);
        }
        std::vector<paradox::Row> rows;
        for (const QVariantMap &r : tables.value(t)) {
            paradox::Row out;
            for (const paradox::Field &f : s.fields)
                out.push_back(r.value(f.name, n < 11 ? defaults().value(f.name) : QVariant()));
            rows.push_back(std::move(out));
        }
        paradox::writeTable(dir + QLatin1Char('/') + t + QStringLiteral(".DB"), s, rows);
    }
}

// A zip archive holding these entries, names as given (the archiver would refuse to make it).
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

// The count a step logged: the line after its title and its progress lines, which an empty line
// must follow.
QString logged(const QStringList &lines, const QString &table)
{
    qsizetype i = lines.indexOf(kStep + table);
    while (i >= 0 && ++i < lines.size() && lines.at(i).endsWith(QStringLiteral("обработано"))) {
    }
    if (i < 0 || !lines.value(i + 1).isEmpty())
        return QStringLiteral("<no count and empty line>");
    return lines.value(i);
}

QString records(qint64 n)
{
    return QString::number(n) + QStringLiteral(" записей");
}

} // namespace

class TestImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_program;
    TAliasStore m_aliases;
    std::unique_ptr<TAppInfo> m_info;
    std::unique_ptr<CentralDb> m_central;

    QString importDir() const { return m_program.filePath(QStringLiteral("import")); }
    QVariant value(const QString &sql) { return m_central->Scalar(sql); }
    qint64 count(const QString &table)
    {
        return value(QStringLiteral("SELECT COUNT(*) FROM ") + table).toLongLong();
    }

    // The first check whose query gives another value than expected; empty when none does.
    QString mismatch(const QVariantMap &checks)
    {
        for (auto it = checks.begin(); it != checks.end(); ++it) {
            const QVariant got = value(it.key());
            const QVariant &want = it.value();
            const bool same =
                !want.isValid() ? got.isNull()
                : want.typeId() == QMetaType::Int
                    ? !got.isNull() && got.toLongLong() == want.toLongLong()
                : want.typeId() == QMetaType::QDateTime ? got.toDateTime() == want.toDateTime()
                : want.typeId() == QMetaType::QDate     ? got.toDateTime().date() == want.toDate()
                                                        : got.toString() == want.toString();
            if (!same)
                return it.key() + QStringLiteral(" gives ") + got.toString();
        }
        return {};
    }

    // The identifiers the centre holds for the workstation's rows, by their own identifiers.
    QStringList assigned()
    {
        QStringList out;
        for (const char *sql :
             {"SELECT CITYLID, CITYGID FROM AUXCITY", "SELECT STRLID, STRGID FROM AUXSTREET",
              "SELECT POSLID, POSGID FROM AUXPOST",
              "SELECT AREALID, AREAGID FROM AUXREGISTRATIONAREA",
              "SELECT ADRLID, ADRGID FROM ADDRESS", "SELECT PRNLID, PRNGID FROM PERSON",
              "SELECT DOCLID, DOCGID FROM DOCUMENT"}) {
            QSqlQuery q(m_central->Db().Sql());
            q.exec(QString::fromLatin1(sql));
            while (q.next())
                out << QString::fromLatin1(sql).section(QLatin1Char(' '), 1, 1) +
                           q.value(0).toString() + QLatin1Char('=') + q.value(1).toString();
        }
        out.sort();
        return out;
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
    QString merge(const Tables &tables, RecordingWindow &w, const QStringList &edits = {},
                  int windowRows = 256)
    {
        QTemporaryDir dir;
        writePackage(dir.path(), tables, edits);
        return merge(dir.path(), w, windowRows);
    }

    // The package "wst12.w2s" in the import folder, packed by the archiver from fill(folder).
    QString pack(const std::function<void(const QString &)> &fill)
    {
        const QString dir = importDir() + QStringLiteral("/packing");
        fill(dir);
        const int code =
            PackFolder(m_info->AppFolder(), dir, QStringLiteral("w"), QStringLiteral("wst12.w2s"));
        QDir(dir).removeRecursively();
        return code == 0 ? importDir() + QStringLiteral("/wst12.w2s") : QString();
    }

    void exec(const char *sql) { m_central->Exec(QString::fromUtf8(sql)); }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    void initTestCase()
    {
        QVERIFY(jobtest::installArchiver(m_program.path()));
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
        exec("INSERT INTO REGION VALUES (1, 'Омская область', '52000000000')");
        exec("INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU) VALUES (5, 1, 'ЦРБ')");
        exec("INSERT INTO HOSPITAL (HSPGID, IDMU, MU, HTPGID, REGGID) VALUES "
             "(10, 100, 'Тарская ЦРБ', 5, 1)");
        exec("INSERT INTO WORKSTATION VALUES (1, 'Регистратура', NULL, 10, NULL)");
        exec("INSERT INTO OPERATOR VALUES (1, 1, 'oper', 'hash', 1)");
        exec("INSERT INTO CITY (CITYGID, CITYNAME, CITYSOATO) VALUES (100, 'Омск', '5200')");
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

    // A package merged, then merged again (changed as "again" says, or as it was): each time the
    // checks hold, the dictionary steps count the mappings they add (none the second time), the
    // others their rows, and the second merge keeps every identifier and adds no row.
    void merge_data()
    {
        QTest::addColumn<Tables>("tables");
        QTest::addColumn<QVariantMap>("checks");
        QTest::addColumn<Tables>("again");
        QTest::addColumn<QVariantMap>("checksAgain");

        // One central row per natural key, one mapping per workstation row, mapped rows never
        // updated.
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
        const char *taraName = "SELECT c.CITYNAME FROM CITY c JOIN AUXCITY a ON a.CITYGID = "
                               "c.CITYGID WHERE a.CITYLID = 1";
        Tables renamed = t;
        renamed[QStringLiteral("City")][0][QStringLiteral("CityName")] =
            QStringLiteral("Тара-новая");
        QTest::newRow("dictionaries")
            << t
            << row({{"SELECT COUNT(*) FROM CITY", 2},
                    {"SELECT COUNT(*) FROM AUXCITY", 3},
                    {"SELECT CITYGID FROM AUXCITY WHERE CITYLID = 3", 100},
                    {"SELECT COUNT(DISTINCT CITYGID) FROM AUXCITY WHERE CITYLID IN (1, 2)", 1},
                    {taraName, "Тара"},
                    {"SELECT c.REGGID FROM CITY c JOIN AUXCITY a ON a.CITYGID = c.CITYGID WHERE "
                     "a.CITYLID = 2",
                     1},
                    {"SELECT COUNT(*) FROM STREET s JOIN AUXCITY a ON a.CITYGID = s.CITYGID "
                     "WHERE a.CITYLID = 1",
                     1},
                    {"SELECT COUNT(*) FROM AUXSTREET", 2},
                    {"SELECT COUNT(*) FROM AUXPOST", 1},
                    {"SELECT COUNT(*) FROM AUXREGISTRATIONAREA", 1}})
            << renamed
            << row({{"SELECT COUNT(*) FROM CITY", 2},
                    {taraName, "Тара"},
                    {"SELECT COUNT(*) FROM STREET", 1}});

        // Owned rows: edited in place, forward references filled on the second merge, removed
        // diagnoses kept, older rows overwrite, a diagnosis without its document stored once.
        t.clear();
        t[QStringLiteral("Address")] = {row({{"AdrLID", 1}, {"AdrHousNum", "5"}})};
        t[QStringLiteral("Person")] = {
            row({{"PrnLID", 1}, {"PrnSurName", "Иванов"}, {"PrnRefLID", 2}, {"AdrLID", 1}}),
            row({{"PrnLID", 2}, {"PrnSurName", "Петров"}, {"PrnDate", QDate(1950, 3, 8)}})};
        t[QStringLiteral("Document")] = {row({{"DocLID", 7}, {"PrnLID", 2}, {"DocNumber", "A-1"}}),
                                         row({{"DocLID", 8}, {"PrnLID", 1}})};
        t[QStringLiteral("PrimaryInspection")] = {row({{"DocLID", 7}, {"PinNumber", "3"}})};
        t[QStringLiteral("PrimDiag")] = {row({{"DiagGID", 1}, {"DocLID", 7}, {"DiagType", 1}}),
                                         row({{"DiagGID", 2}, {"DocLID", 7}, {"DiagType", 1}}),
                                         row({{"DiagGID", 3}, {"DocLID", 99}, {"DiagType", 1}})};
        t[QStringLiteral("ScriningCard")] = {row({{"DocLID", 8}, {"Hyper", 1}})};
        t[QStringLiteral("MapDiag")] = {row({{"DiagGID", 4}, {"DocLID", 8}, {"DiagType", 2}})};
        Tables changed = t;
        changed[QStringLiteral("Person")][0][QStringLiteral("PrnSurName")] =
            QStringLiteral("Сидоров");
        changed[QStringLiteral("Person")][0][QStringLiteral("LastUpdate")] = kOld;
        changed[QStringLiteral("PrimDiag")].removeAt(1);
        const char *doc7Diags = "SELECT COUNT(*) FROM PRIMDIAG x JOIN DOCUMENT d ON d.DOCGID = "
                                "x.DOCGID WHERE d.DOCLID = 7";
        QTest::newRow("owned rows")
            << t
            << row({{"SELECT COUNT(*) FROM PERSON WHERE PRNLID = 1 AND PRNREFGID IS NULL", 1},
                    {"SELECT a.ADRLID FROM PERSON p JOIN ADDRESS a ON a.ADRGID = p.ADRGID", 1},
                    {"SELECT p.PRNLID FROM DOCUMENT d JOIN PERSON p ON p.PRNGID = d.PRNGID "
                     "WHERE d.DOCLID = 7",
                     2},
                    {"SELECT d.DOCLID FROM PRIMARYINSPECTION x JOIN DOCUMENT d ON d.DOCGID = "
                     "x.DOCGID",
                     7},
                    {"SELECT d.DOCLID FROM SCRININGCARD x JOIN DOCUMENT d ON d.DOCGID = x.DOCGID",
                     8},
                    {doc7Diags, 2},
                    {"SELECT COUNT(*) FROM PRIMDIAG WHERE DOCGID IS NULL", 1},
                    {"SELECT COUNT(*) FROM MAPDIAG", 1}})
            << changed
            << row({{"SELECT r.PRNLID FROM PERSON p JOIN PERSON r ON r.PRNGID = p.PRNREFGID "
                     "WHERE p.PRNLID = 1",
                     2},
                    {"SELECT PRNSURNAME FROM PERSON WHERE PRNLID = 1", "Сидоров"},
                    {"SELECT LASTUPDATE FROM PERSON WHERE PRNLID = 1", kOld},
                    {"SELECT COUNT(*) FROM PRIMARYINSPECTION", 1},
                    {"SELECT COUNT(*) FROM SCRININGCARD", 1},
                    {doc7Diags, 2},
                    {"SELECT COUNT(*) FROM PRIMDIAG WHERE DOCGID IS NULL", 1},
                    {"SELECT COUNT(*) FROM MAPDIAG", 1}});

        // Text of the package is data, SQL or not.
        const char *sqlName = "x'); DROP TABLE CITY; --";
        t.clear();
        t[QStringLiteral("City")] = {
            row({{"CityLID", 1}, {"CityName", sqlName}, {"CitySoato", "1"}})};
        QTest::newRow("SQL in a name")
            << t << row({{"SELECT CITYNAME FROM CITY WHERE CITYGID <> 100", sqlName}}) << Tables{}
            << row({{"SELECT COUNT(*) FROM CITY", 2}});
    }
    void merge()
    {
        QFETCH(Tables, tables);
        QFETCH(QVariantMap, checks);
        QFETCH(Tables, again);
        QFETCH(QVariantMap, checksAgain);
        const std::vector<QString> &steps = demo::PackageTableNames();
        const QStringList aux = {QStringLiteral("AUXCITY"), QStringLiteral("AUXSTREET"),
                                 QStringLiteral("AUXPOST"), QStringLiteral("AUXREGISTRATIONAREA")};
        RecordingWindow w;
        QCOMPARE(merge(tables, w), QString());
        QCOMPARE(mismatch(checks), QString());
        const QStringList ids = assigned();
        RecordingWindow w2;
        QCOMPARE(merge(again.isEmpty() ? tables : again, w2), QString());
        QCOMPARE(mismatch(checksAgain), QString());
        QCOMPARE(assigned(), ids);
        for (size_t i = 0; i < 11; ++i) {
            QCOMPARE(logged(w.lines, steps[i]),
                     records(i < 4 ? count(aux.at(int(i))) : tables.value(steps[i]).size()));
            QCOMPARE(
                logged(w2.lines, steps[i]),
                records(i < 4 ? 0 : (again.isEmpty() ? tables : again).value(steps[i]).size()));
        }
    }

    // Windows of any size give the same rows; progress lines at every tenth row of the owned-row
    // steps only; text that is no number fails its row, the rows before it committed and counted.
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
                << row({{"PrnLID", i}, {"PrnSex", i == badRow ? "муж" : "1"}});
        RecordingWindow w;
        const QString error = merge(t, w, {QStringLiteral("Person.PrnSex:A5")}, windowRows);
        QCOMPARE(count(QStringLiteral("AUXCITY")), 12);
        const int written = badRow ? badRow - 1 : 23;
        QCOMPARE(count(QStringLiteral("PERSON")), written);
        QStringList progress;
        for (int n = 10; n <= written; n += 10)
            progress << QString::number(n) + QStringLiteral(" записей обработано");
        QCOMPARE(w.lines.filter(QStringLiteral("обработано")), progress);
        QCOMPARE(logged(w.lines, QStringLiteral("Person")), records(written));
        QVERIFY2(badRow ? error.contains(QStringLiteral("муж")) : error.isEmpty(),
                 qPrintable(error));
        QCOMPARE(w.lines.contains(kStep + QStringLiteral("Document")), badRow == 0);
        if (!badRow)
            QCOMPARE(value(QStringLiteral("SELECT MAX(PRNSEX) FROM PERSON")).toInt(), 1);
    }

    // Registration of operators and workstations new to the centre; whatever it does, the import
    // goes on. Numbers the centre assigns later pass the identifiers it registered.
    void registration_data()
    {
        QTest::addColumn<Tables>("tables");
        QTest::addColumn<QStringList>("edits");
        // New rows of REGION, HOSPTYPE, HOSPITAL, BRIGADE, WORKSTATION, OPERATOR.
        QTest::addColumn<QList<int>>("added");
        QTest::addColumn<QVariantMap>("checks");

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
        const QVariantMap registered =
            row({{"SELECT WSTRPLDATE FROM WORKSTATION WHERE WSTGID = 7", QDate::currentDate()},
                 {"SELECT USERNAME FROM OPERATOR WHERE WSTGID = 7", "ivanova"}});
        QVariantMap all = registered;
        all.insert(row({{"SELECT OFFICE FROM HOSPITAL WHERE HSPGID = 70", 1},
                        {"SELECT OMS FROM HOSPITAL WHERE HSPGID = 70", 0},
                        {"SELECT BGDATE FROM HOSPITAL WHERE HSPGID = 70", open},
                        {"SELECT CITYGID FROM BRIGADE WHERE BRGGID = 80", 100}}));
        const QList<int> none{0, 0, 0, 0, 0, 0};
        QTest::newRow("all missing")
            << full << QStringList{} << QList<int>{1, 1, 1, 1, 1, 1} << all;

        Tables known = full;
        known[QStringLiteral("Workstation")] = {
            row({{"WstGID", 7}, {"WstName", "Новая"}, {"HspGID", 10}})};
        QVariantMap noBrigade = registered;
        noBrigade.insert(row({{"SELECT BRGGID FROM WORKSTATION WHERE WSTGID = 7", nullptr}}));
        QTest::newRow("known hospital, no brigade")
            << known << QStringList{} << QList<int>{0, 0, 0, 0, 1, 1} << noBrigade;

        Tables newOperator = full;
        for (const char *t : {"Operator", "Workstation", "City"})
            newOperator[QString::fromLatin1(t)][0][QStringLiteral("WstGID")] = 1;
        QTest::newRow("new operator of a known workstation")
            << newOperator << QStringList{} << none << QVariantMap{};

        Tables anyOperator = full;
        anyOperator.remove(QStringLiteral("City"));
        anyOperator[QStringLiteral("Street")] = {
            row({{"StrLID", 1}, {"StrName", "Ленина"}, {"WstGID", 7}, {"UserGID", 3}})};
        QTest::newRow("any operator, none central")
            << anyOperator << QStringList{} << none << QVariantMap{};

        Tables hostileId = full;
        hostileId[QStringLiteral("Workstation")][0][QStringLiteral("HspGID")] =
            QStringLiteral("70; drop table region");
        QTest::newRow("identifier that is no number")
            << hostileId << QStringList{QStringLiteral("Workstation.HspGID:A40")} << none
            << QVariantMap{};
        QTest::newRow("column name with SQL")
            << full << QStringList{QStringLiteral("HospType.x) drop table operator:A10")} << none
            << QVariantMap{};
    }
    void registration()
    {
        QFETCH(Tables, tables);
        QFETCH(QStringList, edits);
        QFETCH(QList<int>, added);
        QFETCH(QVariantMap, checks);
        const QStringList central = {QStringLiteral("REGION"),      QStringLiteral("HOSPTYPE"),
                                     QStringLiteral("HOSPITAL"),    QStringLiteral("BRIGADE"),
                                     QStringLiteral("WORKSTATION"), QStringLiteral("OPERATOR")};
        QList<int> before;
        for (const QString &t : central)
            before << int(count(t));
        RecordingWindow w;
        QCOMPARE(merge(tables, w, edits), QString());
        QList<int> got;
        for (int i = 0; i < central.size(); ++i)
            got << int(count(central.at(i))) - before.at(i);
        QCOMPARE(got, added);
        QCOMPARE(count(QStringLiteral("AUXCITY")) + count(QStringLiteral("AUXSTREET")), 1);
        QCOMPARE(mismatch(checks), QString());
        const struct
        {
            const char *insert;
            const char *max;
            int registered;
        } later[] = {
            {"INSERT INTO REGION (REGNAME, REGOKATO) VALUES ('x', '1')",
             "SELECT MAX(REGGID) FROM REGION", 50},
            {"INSERT INTO HOSPTYPE (IDTMU) VALUES (1)", "SELECT MAX(HTPGID) FROM HOSPTYPE", 60},
            {"INSERT INTO HOSPITAL (IDMU, MU) VALUES (1, 'x')", "SELECT MAX(HSPGID) FROM HOSPITAL",
             70},
            {"INSERT INTO BRIGADE (BRGNAME) VALUES ('x')", "SELECT MAX(BRGGID) FROM BRIGADE", 80},
            {"INSERT INTO WORKSTATION (WSTNAME) VALUES ('y')",
             "SELECT MAX(WSTGID) FROM WORKSTATION", 7}};
        for (int i = 0; i < 5; ++i) {
            if (added.at(i)) {
                exec(later[i].insert);
                QVERIFY(value(QString::fromLatin1(later[i].max)).toInt() > later[i].registered);
            }
        }
    }

    // The job from the package file to its deletion; hostile and broken packages.
    void job_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("lastLine"); // prefix
        const QString done = QStringLiteral("Импорт данных завершен");
        const QString error = QStringLiteral("ОШИБКА!!! ");
        const QString unpack = error + QStringLiteral("Ошибка при извлечении из архива\r\n");
        QTest::newRow("success") << "success" << done;
        QTest::newRow("dialog") << "dialog" << done;
        const QString cancelled = error + QStringLiteral("Прервано пользователем");
        QTest::newRow("dialog cancelled") << "cancelled" << cancelled;
        QTest::newRow("folder exists")
            << "exists" << error + QStringLiteral("Папка уже существует\r\n");
        QTest::newRow("not an archive") << "garbage" << unpack;
        QTest::newRow("entry leaving the folder") << "escape" << unpack;
        QTest::newRow("absolute entry") << "absolute" << unpack;
        QTest::newRow("subfolders in the package") << "subfolders" << done;
        QTest::newRow("cancel mid-step") << "cancel" << cancelled;
        QTest::newRow("missing table") << "noTable" << error;
        QTest::newRow("missing column") << "noColumn" << error;
        QTest::newRow("damaged table") << "damaged" << error;
        QTest::newRow("import running")
            << "locked" << error + QStringLiteral("Импорт уже выполняется");
    }
    void job()
    {
        QFETCH(QString, kind);
        QFETCH(QString, lastLine);
        const auto is = [&](const char *k) { return kind == QLatin1String(k); };
        Tables t;
        t[QStringLiteral("City")] = {row({{"CityLID", 1}, {"CitySoato", "1"}})};
        t[QStringLiteral("Post")] = {row({{"PosLID", 1}, {"PosName", "Врач"}})};
        t[QStringLiteral("Person")] = {row({{"PrnLID", 1}}), row({{"PrnLID", 2}})};
        const QString evil = m_program.filePath(QStringLiteral("evil.txt"));
        const QString package = pack([&](const QString &dir) {
            writePackage(dir, t,
                         is("noColumn") ? QStringList{QStringLiteral("Person.PrnRefLID")}
                                        : QStringList{},
                         is("noTable") ? QStringList{QStringLiteral("Person")} : QStringList{});
            if (is("damaged")) { // a table whose header promises more than the file holds
                QFile f(dir + QStringLiteral("/Person.DB"));
                QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(f.size() / 2 + 3));
            }
        });
        QVERIFY(!package.isEmpty());
        // Neighbours that a name mask would have taken.
        for (const char *n : {"wst1.w2s", "wst123.w2s", "wst12 копия.txt"})
            testsupport::writeFile(importDir() + QLatin1Char('/') + QString::fromUtf8(n), "keep");
        if (is("garbage"))
            testsupport::writeFile(package, "not an archive at all");
        if (is("escape") || is("absolute"))
            writeZip(package,
                     {{"City.DB", "x"},
                      {is("escape") ? QByteArray("../evil.txt") : QFile::encodeName(evil), "x"}});
        if (is("subfolders")) {
            QTemporaryDir dir;
            writePackage(dir.path(), t);
            QList<std::pair<QByteArray, QByteArray>> entries{{"sub/deeper/note.txt", "x"}};
            for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
                entries.append({f.toUtf8(), testsupport::readFile(dir.filePath(f))});
            writeZip(package, entries);
        }
        if (is("exists"))
            QDir().mkdir(importDir() + QStringLiteral("/wst12"));
        std::unique_ptr<QLockFile> sqliteLock;
        const QString advisory = QStringLiteral("SELECT pg_advisory_%1(?)");
        const qint64 lockKey = 0x5A4F5255494D504FLL;
        const bool sqlite = m_central->Db().Driver() == QLatin1String("SQLITE");
        if (is("locked") && sqlite) {
            sqliteLock = std::make_unique<QLockFile>(m_central->Db().Sql().databaseName() +
                                                     QStringLiteral(".import.lock"));
            QVERIFY(sqliteLock->tryLock(0));
        } else if (is("locked")) {
            m_central->Scalar(advisory.arg(QStringLiteral("lock")), {lockKey});
        }

        const QStringList neighbours = jobtest::folderContents(importDir());
        const bool asked = is("dialog") || is("cancelled");
        if (asked)
            TDialogs::SetNextFileName(is("dialog") ? package : QString());
        RecordingWindow w;
        const int result =
            jobtest::runJob(w, is("cancel") ? kStep + QStringLiteral("Person") : QString(),
                            [&](TJobWindow &window) {
                                return std::make_unique<TImWorkstationToServer>(
                                    window, asked ? QString() : package);
                            });
        if (is("locked") && !sqlite)
            m_central->Scalar(advisory.arg(QStringLiteral("unlock")), {lockKey});

        const bool ok = lastLine == QStringLiteral("Импорт данных завершен");
        QCOMPARE(result, ok ? 1 : 2);
        QCOMPARE(w.caption, QStringLiteral("Импорт анкет и внутренних справочников"));
        QVERIFY2(w.lines.last().startsWith(lastLine), qPrintable(w.lines.last()));
        QCOMPARE(w.lines.at(w.lines.size() - 2), StrConst::Separator);
        QVERIFY(!QFileInfo::exists(evil));
        QVERIFY(!QFileInfo::exists(importDir() + QStringLiteral("/evil.txt")));
        QCOMPARE(TDialogs::AskedSoFar().size(), asked ? 1 : 0);
        if (asked)
            QCOMPARE(TDialogs::AskedSoFar().first().kind, TDialogs::Kind::FileOpen);
        if (is("exists")) {
            QCOMPARE(w.lines.last(), lastLine + importDir() + QStringLiteral("/wst12"));
            return;
        }
        if (is("escape") || is("absolute")) // the archiver's reason follows
            QVERIFY2(w.lines.last().size() > lastLine.size() + 3, qPrintable(w.lines.last()));
        if (is("noColumn"))
            QVERIFY2(w.lines.last().contains(QStringLiteral("PrnRefLID"), Qt::CaseInsensitive),
                     qPrintable(w.lines.last()));

        // The work folder is gone; the package is deleted only after success, its neighbours never.
        QStringList expected = neighbours;
        if (ok) {
            expected.removeAll(QStringLiteral("wst12.w2s"));
            QVERIFY(w.lines.contains(QStringLiteral("Удаление репликации: ") + package));
        }
        QCOMPARE(jobtest::folderContents(importDir()), expected);

        // Rows of the steps before a failure are there; nothing before unpacking is written; a
        // cancellation takes effect after the row under way, which is kept and counted.
        const bool written =
            !is("cancelled") && !is("garbage") && !is("escape") && !is("absolute") && !is("locked");
        QCOMPARE(count(QStringLiteral("AUXPOST")), written ? 1 : 0);
        const int persons = ok ? 2 : is("cancel") ? 1 : 0;
        QCOMPARE(count(QStringLiteral("PERSON")), persons);
        if (written)
            QCOMPARE(logged(w.lines, QStringLiteral("Person")), records(persons));
    }

    // The work folder is named after the package file: cut to 36 characters, then its last
    // extension removed.
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
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("set");
        QTest::newRow("lettered volumes") << "wst12.w2s"
                                          << "wst12.w2s wst12.w00 wst12.w01";
        QTest::newRow("single") << "w.w2s"
                                << "w.w2s";
        QTest::newRow("numbered parts") << "x.part1.w2s"
                                        << "x.part1.w2s x.part2.w2s x.part3.w2s";
    }
    void volumes()
    {
        QFETCH(QString, first);
        QFETCH(QString, set);
        QTemporaryDir dir;
        for (const QString &f : QStringLiteral("w.w2s wst12.w2s wst12.w00 wst12.w01 wst123.w2s "
                                               "wst12.w03 x.part1.w2s x.part2.w2s x.part3.w2s "
                                               "x.part10.w2s")
                                    .split(QLatin1Char(' ')))
            testsupport::writeFile(dir.filePath(f), "v");
        QStringList got;
        for (const QString &v : VolumeSet(dir.filePath(first)))
            got << QFileInfo(v).fileName();
        QCOMPARE(got.join(QLatin1Char(' ')), set);
    }
};

QTEST_MAIN(TestImport)
#include "test_import.moc"
