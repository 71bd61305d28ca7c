// The import of a workstation package, on both backends: the merge rules, the registration of a
// workstation new to the centre, the job from the package file to its deletion, hostile packages.

#include "centraldb.h"
#include "core/appinfo.h"
#include "core/clock.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "engine/paradox/paradoxtable.h"
#include "import/importjob.h"
#include "jobtest.h"
#include "package.h"
#include "package/archiver.h"

#include <QLockFile>
#include <QSqlQuery>
#include <archive.h>
#include <archive_entry.h>

using namespace Qt::StringLiterals;

namespace {

using jobtest::RecordingWindow;
using Rows = QList<QVariantMap>;
using Tables = QMap<QString, Rows>;

// A value of a package row or an expected value (nullptr: Null).
struct V
{
    QVariant v;
    V(std::nullptr_t) {}
    V(const char *s) : v(QString::fromUtf8(s)) {}
    template <class T> V(const T &t) : v(QVariant::fromValue(t)) {}
};

// A package row by column name; also a set of checks, a query each with the value it must give.
QVariantMap row(std::initializer_list<std::pair<const char *, V>> values)
{
    QVariantMap m;
    for (const auto &[k, val] : values)
        m.insert(QString::fromUtf8(k), val.v);
    return m;
}

Tables tables(std::initializer_list<std::pair<const char *, Rows>> list)
{
    Tables t;
    for (const auto &[name, rows] : list)
        t.insert(QString::fromLatin1(name), rows);
    return t;
}

const QDateTime kOld(QDate(2004, 1, 1), QTime(8, 0));
const QDateTime kNew(QDate(2005, 6, 1), QTime(9, 30));
const QString kStep = u"Импорт данных в таблицу: "_s;

// Writes a package folder: the eleven merged tables (empty unless given) and the copies given,
// unkeyed so that rows keep their order; columns the centre requires default where a merged row
// leaves them out. An edit "Table.Column:An" makes the column text of n characters (added when
// absent), "Table.Column" leaves it out; omit leaves tables out.
void writePackage(const QString &dir, const Tables &tables, const QStringList &edits = {},
                  const QStringList &omit = {})
{
    // clang-format off
    static const QVariantMap defaults = row({{"WstGID", 1}, {"UserGID", 1}, {"CrDate", kNew},
        {"LastUpdate", kNew}, {"CityName", "Город"}, {"StrName", "Улица"}, {"PosName", "Должность"},
        {"AreaCode", "01"}, {"HspGID", 10}, {"PrnSurName", "Фамилия"},
        {"DocDate", QDate(2005, 1, 1)}, {"DtpGID", 1}});
    // clang-format on
    QDir().mkpath(dir);
    const std::vector<QString> &all = demo::PackageTableNames();
    for (size_t n = 0; n < all.size(); ++n) {
        const QString &t = all[n];
        if (omit.contains(t) || (n >= 11 && !tables.contains(t)))
            continue;
        paradox::Schema s = demo::PackageTableSchema(t);
        s.keyFieldCount = 0;
        for (const QString &e : edits) {
            const QString column = e.section(u'.', 1).section(u':', 0, 0);
            const int size = e.section(u':', 1).mid(1).toInt();
            const int i = s.indexOf(column);
            if (e.section(u'.', 0, 0) != t)
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
                out.push_back(r.value(f.name, n < 11 ? defaults.value(f.name) : QVariant()));
            rows.push_back(std::move(out));
        }
        paradox::writeTable(dir + u'/' + t + u".DB"_s, s, rows);
    }
}

// A zip archive holding these entries, names as given (the archiver would refuse to make it); data
// "link:<target>" makes the entry a symbolic link.
void writeZip(const QString &path, const QList<std::pair<QByteArray, QByteArray>> &entries)
{
    archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_filename(a, QFile::encodeName(path).constData());
    for (const auto &[name, data] : entries) {
        archive_entry *e = archive_entry_new();
        archive_entry_set_pathname(e, name.constData());
        archive_entry_set_perm(e, 0644);
        const bool link = data.startsWith("link:");
        archive_entry_set_filetype(e, link ? AE_IFLNK : AE_IFREG);
        archive_entry_set_symlink(e, link ? data.mid(5).constData() : nullptr);
        archive_entry_set_size(e, link ? 0 : data.size());
        archive_write_header(a, e);
        archive_write_data(a, data.constData(), link ? 0 : size_t(data.size()));
        archive_entry_free(e);
    }
    archive_write_free(a); // closes it first
}

QString records(qint64 n)
{
    return QString::number(n) + u" записей"_s;
}

// The count a step logged: the line after its title and its progress lines, which an empty line
// must follow.
QString logged(const QStringList &lines, const QString &table)
{
    qsizetype i = lines.indexOf(kStep + table);
    while (i >= 0 && ++i < lines.size() && lines.at(i).endsWith(u"обработано"_s)) {
    }
    return i >= 0 && lines.value(i + 1).isEmpty() ? lines.value(i) : u"<no count>"_s;
}

} // namespace

class TestImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_program;
    TAliasStore m_aliases;
    std::unique_ptr<TAppInfo> m_info;
    std::unique_ptr<CentralDb> m_central;

    QString importDir() const { return m_program.filePath(u"import"_s); }
    void exec(const char *sql) { m_central->Exec(QString::fromUtf8(sql)); }
    QVariant value(const QString &sql) { return m_central->Scalar(sql); }
    qint64 count(const QString &t) { return value(u"SELECT COUNT(*) FROM "_s + t).toLongLong(); }

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
                return it.key() + u" gives "_s + got.toString();
        }
        return {};
    }

    // The identifiers the centre holds for the workstation's rows, by their own identifiers.
    QStringList assigned()
    {
        QStringList out;
        for (const QString &t : u"CITY AUXCITY,STR AUXSTREET,POS AUXPOST,AREA AUXREGISTRATIONAREA,"
                                "ADR ADDRESS,PRN PERSON,DOC DOCUMENT"_s.split(u',')) {
            const QString p = t.section(u' ', 0, 0);
            QSqlQuery q(m_central->Db().Sql());
            q.exec(u"SELECT %1LID, %1GID FROM %2"_s.arg(p, t.section(u' ', 1)));
            while (q.next())
                out << p + q.value(0).toString() + u'=' + q.value(1).toString();
        }
        out.sort();
        return out;
    }

    // Merges a package with a job that is not launched; the error message, if any.
    QString merge(const Tables &tables, RecordingWindow &w, const QStringList &edits = {},
                  int windowRows = 256)
    {
        QTemporaryDir dir;
        writePackage(dir.path(), tables, edits);
        TImWorkstationToServer job(w.Context(), *m_info, m_central->Db(), u"unused"_s);
        job.SetWindowRows(windowRows);
        try {
            job.ImportFolder(dir.path());
        } catch (const Exception &e) {
            return e.Message();
        }
        return {};
    }

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }
    void initTestCase()
    {
        QVERIFY(jobtest::installArchiver(m_program.path()));
        const QString ini =
            u"[Settings]\r\nIsServer=1\r\nAIS_RODE_IMPORT=%1/\r\n"_s.arg(importDir());
        testsupport::writeFile(m_program.filePath(u"zoru-admin.ini"_s), cp1251::encode(ini));
        m_info = std::make_unique<TAppInfo>(m_program.filePath(u"zoru-admin"_s), m_aliases);
        m_info->ImportPath = importDir() + u'/';
        AppInfo = m_info.get();
    }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == QLatin1String("POSTGRESQL") && !testsupport::pgServer())
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
        m_central.reset();
        m_central = std::make_unique<CentralDb>(backend);
        exec("INSERT INTO REGION VALUES (1, 'Омская область', '52000000000')");
        exec("INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU) VALUES (5, 1, 'ЦРБ')");
        exec("INSERT INTO HOSPITAL (HSPGID, IDMU, MU, HTPGID, REGGID) VALUES (10, 100, 'ЦРБ', 5, "
             "1)");
        exec("INSERT INTO WORKSTATION VALUES (1, 'Регистратура', NULL, 10, NULL)");
        exec("INSERT INTO OPERATOR VALUES (1, 1, 'oper', 'hash', 1)");
        exec("INSERT INTO CITY (CITYGID, CITYNAME, CITYSOATO) VALUES (100, 'Омск', '5200')");
        QDir(importDir()).removeRecursively();
        QDir().mkpath(importDir());
    }
    void cleanupTestCase()
    {
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
        // clang-format off

        // One central row per natural key, one mapping per workstation row, mapped rows never
        // updated.
        Tables t = tables({
            {"City", {row({{"CityLID", 1}, {"CityName", "Тара"}, {"CitySoato", "111"}, {"RegGID", 1}}),
                      row({{"CityLID", 2}, {"CityName", "Тара-2"}, {"CitySoato", "111"}}),
                      row({{"CityLID", 3}, {"CityName", "Омск-местный"}, {"CitySoato", "5200"}})}},
            {"Street", {row({{"StrLID", 1}, {"StrName", "Ленина"}, {"CityLID", 1}}),
                        row({{"StrLID", 2}, {"StrName", "Ленина"}, {"CityLID", 2}})}},
            {"Post", {row({{"PosLID", 1}, {"PosName", "Врач"}})}},
            {"RegistrationArea", {row({{"AreaLID", 1}, {"AreaCode", "01"}, {"HspGID", 10}})}}});
        const char *city1 = "SELECT c.CITYNAME FROM CITY c JOIN AUXCITY a ON a.CITYGID = c.CITYGID WHERE a.CITYLID = 1";
        Tables renamed = t;
        renamed[u"City"_s][0][u"CityName"_s] = u"Тара-новая"_s;
        QTest::newRow("dictionaries") << t << row({
            {"SELECT COUNT(*) FROM CITY", 2},
            {"SELECT COUNT(*) FROM AUXCITY", 3},
            {"SELECT CITYGID FROM AUXCITY WHERE CITYLID = 3", 100},
            {"SELECT COUNT(DISTINCT CITYGID) FROM AUXCITY WHERE CITYLID IN (1, 2)", 1},
            {city1, "Тара"},
            {"SELECT c.REGGID FROM CITY c JOIN AUXCITY a ON a.CITYGID = c.CITYGID WHERE a.CITYLID = 2", 1},
            {"SELECT COUNT(*) FROM STREET s JOIN AUXCITY a ON a.CITYGID = s.CITYGID WHERE a.CITYLID = 1", 1},
            {"SELECT COUNT(*) FROM AUXSTREET", 2},
            {"SELECT COUNT(*) FROM AUXPOST", 1},
            {"SELECT COUNT(*) FROM AUXREGISTRATIONAREA", 1}})
            << renamed << row({{"SELECT COUNT(*) FROM CITY", 2}, {city1, "Тара"}, {"SELECT COUNT(*) FROM STREET", 1}});

        // Owned rows: edited in place, forward references filled on the second merge, removed
        // diagnoses kept, older rows overwrite, a diagnosis without its document stored once.
        t = tables({
            {"Address", {row({{"AdrLID", 1}, {"AdrHousNum", "5"}})}},
            {"Person", {row({{"PrnLID", 1}, {"PrnSurName", "Иванов"}, {"PrnRefLID", 2}, {"AdrLID", 1}}),
                        row({{"PrnLID", 2}, {"PrnSurName", "Петров"}, {"PrnDate", QDate(1950, 3, 8)}})}},
            {"Document", {row({{"DocLID", 7}, {"PrnLID", 2}, {"DocNumber", "A-1"}}), row({{"DocLID", 8}, {"PrnLID", 1}})}},
            {"PrimaryInspection", {row({{"DocLID", 7}, {"PinNumber", "3"}})}},
            {"PrimDiag", {row({{"DiagGID", 1}, {"DocLID", 7}, {"DiagType", 1}}),
                          row({{"DiagGID", 2}, {"DocLID", 7}, {"DiagType", 1}}),
                          row({{"DiagGID", 3}, {"DocLID", 99}, {"DiagType", 1}})}},
            {"ScriningCard", {row({{"DocLID", 8}, {"Hyper", 1}})}},
            {"MapDiag", {row({{"DiagGID", 4}, {"DocLID", 8}, {"DiagType", 2}})}}});
        Tables changed = t;
        changed[u"Person"_s][0][u"PrnSurName"_s] = u"Сидоров"_s;
        changed[u"Person"_s][0][u"LastUpdate"_s] = kOld;
        changed[u"PrimDiag"_s].removeAt(1);
        const QVariantMap diags = row({
            {"SELECT COUNT(*) FROM PRIMDIAG x JOIN DOCUMENT d ON d.DOCGID = x.DOCGID WHERE d.DOCLID = 7", 2},
            {"SELECT COUNT(*) FROM PRIMDIAG WHERE DOCGID IS NULL", 1},
            {"SELECT COUNT(*) FROM MAPDIAG", 1}});
        QVariantMap first = row({
            {"SELECT COUNT(*) FROM PERSON WHERE PRNLID = 1 AND PRNREFGID IS NULL", 1},
            {"SELECT a.ADRLID FROM PERSON p JOIN ADDRESS a ON a.ADRGID = p.ADRGID", 1},
            {"SELECT p.PRNLID FROM DOCUMENT d JOIN PERSON p ON p.PRNGID = d.PRNGID WHERE d.DOCLID = 7", 2},
            {"SELECT d.DOCLID FROM PRIMARYINSPECTION x JOIN DOCUMENT d ON d.DOCGID = x.DOCGID", 7},
            {"SELECT d.DOCLID FROM SCRININGCARD x JOIN DOCUMENT d ON d.DOCGID = x.DOCGID", 8}});
        QVariantMap second = row({
            {"SELECT r.PRNLID FROM PERSON p JOIN PERSON r ON r.PRNGID = p.PRNREFGID WHERE p.PRNLID = 1", 2},
            {"SELECT PRNSURNAME FROM PERSON WHERE PRNLID = 1", "Сидоров"},
            {"SELECT LASTUPDATE FROM PERSON WHERE PRNLID = 1", kOld},
            {"SELECT COUNT(*) FROM PRIMARYINSPECTION", 1},
            {"SELECT COUNT(*) FROM SCRININGCARD", 1}});
        first.insert(diags);
        second.insert(diags);
        QTest::newRow("owned rows") << t << first << changed << second;

        // Text of the package is data, SQL or not.
        const char *sqlName = "x'); DROP TABLE CITY; --";
        t = tables({{"City", {row({{"CityLID", 1}, {"CityName", sqlName}, {"CitySoato", "1"}})}}});
        QTest::newRow("SQL in a name") << t << row({{"SELECT CITYNAME FROM CITY WHERE CITYGID <> 100", sqlName}})
                                       << Tables{} << row({{"SELECT COUNT(*) FROM CITY", 2}});
        // clang-format on
    }
    void merge()
    {
        QFETCH(Tables, tables);
        QFETCH(QVariantMap, checks);
        QFETCH(Tables, again);
        QFETCH(QVariantMap, checksAgain);
        if (again.isEmpty())
            again = tables;
        const std::vector<QString> &steps = demo::PackageTableNames();
        const QStringList aux = u"AUXCITY AUXSTREET AUXPOST AUXREGISTRATIONAREA"_s.split(u' ');
        RecordingWindow w;
        QCOMPARE(merge(tables, w), QString());
        QCOMPARE(mismatch(checks), QString());
        const QStringList ids = assigned();
        RecordingWindow w2;
        QCOMPARE(merge(again, w2), QString());
        QCOMPARE(mismatch(checksAgain), QString());
        QCOMPARE(assigned(), ids);
        for (size_t i = 0; i < 11; ++i) {
            QCOMPARE(logged(w.lines, steps[i]),
                     records(i < 4 ? count(aux.at(int(i))) : tables.value(steps[i]).size()));
            QCOMPARE(logged(w2.lines, steps[i]), records(i < 4 ? 0 : again.value(steps[i]).size()));
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
            t[u"City"_s] << row({{"CityLID", i}, {"CitySoato", QString::number(i)}});
        for (int i = 1; i <= 23; ++i)
            t[u"Person"_s] << row({{"PrnLID", i}, {"PrnSex", i == badRow ? "муж" : "1"}});
        RecordingWindow w;
        const QString error = merge(t, w, {u"Person.PrnSex:A5"_s}, windowRows);
        QCOMPARE(count(u"AUXCITY"_s), 12);
        const int written = badRow ? badRow - 1 : 23;
        QCOMPARE(count(u"PERSON"_s), written);
        QStringList progress;
        for (int n = 10; n <= written; n += 10)
            progress << QString::number(n) + u" записей обработано"_s;
        QCOMPARE(w.lines.filter(u"обработано"_s), progress);
        QCOMPARE(logged(w.lines, u"Person"_s), records(written));
        QVERIFY2(badRow ? error.contains(u"муж"_s) : error.isEmpty(), qPrintable(error));
        QCOMPARE(w.lines.contains(kStep + u"Document"_s), badRow == 0);
        if (!badRow)
            QCOMPARE(value(u"SELECT MAX(PRNSEX) FROM PERSON"_s).toInt(), 1);
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
        // clang-format off
        const QDateTime open(QDate(2001, 9, 1), QTime(0, 0));
        const Tables full = tables({
            {"Operator", {row({{"WstGID", 7}, {"UserGID", 3}, {"UserName", "ivanova"}, {"UserHash", "h"}, {"UserLevel", 2}})}},
            {"Workstation", {row({{"WstGID", 7}, {"WstName", "Новая"}, {"HspGID", 70}, {"BrgGID", 80}})}},
            {"Hospital", {row({{"HspGID", 70}, {"IDMU", 700}, {"MU", "Новая ЦРБ"}, {"OFFICE", true}, {"OMS", false},
                               {"HOUSE", 4}, {"BGDATE", open}, {"HtpGID", 60}, {"RegGID", 50}})}},
            {"HospType", {row({{"HtpGID", 60}, {"IDTMU", 6}, {"TMU", "Больница"}, {"BGDATE", open}})}},
            {"Region", {row({{"RegGID", 50}, {"RegName", "Новая область"}, {"RegOkato", "99"}})}},
            {"Brigade", {row({{"BrgGID", 80}, {"BrgName", "Бригада"}, {"CityGID", 100}})}},
            {"City", {row({{"CityLID", 1}, {"CitySoato", "9"}, {"WstGID", 7}, {"UserGID", 3}})}}});
        const QVariantMap registered = row({{"SELECT WSTRPLDATE FROM WORKSTATION WHERE WSTGID = 7", kNew.date()},
                                            {"SELECT USERNAME FROM OPERATOR WHERE WSTGID = 7", "ivanova"}});
        QVariantMap all = registered;
        all.insert(row({{"SELECT OFFICE FROM HOSPITAL WHERE HSPGID = 70", 1},
                        {"SELECT OMS FROM HOSPITAL WHERE HSPGID = 70", 0},
                        {"SELECT BGDATE FROM HOSPITAL WHERE HSPGID = 70", open},
                        {"SELECT CITYGID FROM BRIGADE WHERE BRGGID = 80", 100}}));
        QTest::newRow("all missing") << full << QStringList{} << QList<int>{1, 1, 1, 1, 1, 1} << all;

        Tables t = full;
        t[u"Workstation"_s] = {row({{"WstGID", 7}, {"WstName", "Новая"}, {"HspGID", 10}})};
        QVariantMap noBrigade = registered;
        noBrigade.insert(row({{"SELECT BRGGID FROM WORKSTATION WHERE WSTGID = 7", nullptr}}));
        QTest::newRow("known hospital, no brigade") << t << QStringList{} << QList<int>{0, 0, 0, 0, 1, 1} << noBrigade;

        const QList<int> none{0, 0, 0, 0, 0, 0};
        t = full;
        for (const QString &name : {u"Operator"_s, u"Workstation"_s, u"City"_s})
            t[name][0][u"WstGID"_s] = 1;
        QTest::newRow("new operator of a known workstation") << t << QStringList{} << none << QVariantMap{};

        t = full;
        t.remove(u"City"_s);
        t[u"Street"_s] = {row({{"StrLID", 1}, {"StrName", "Ленина"}, {"WstGID", 7}, {"UserGID", 3}})};
        QTest::newRow("any operator, none central") << t << QStringList{} << none << QVariantMap{};

        t = full;
        t[u"Workstation"_s][0][u"HspGID"_s] = u"70; drop table region"_s;
        QTest::newRow("identifier that is no number") << t << QStringList{u"Workstation.HspGID:A40"_s} << none << QVariantMap{};
        QTest::newRow("column name with SQL") << full << QStringList{u"HospType.x) drop table operator:A10"_s} << none << QVariantMap{};
        // clang-format on
    }
    void registration()
    {
        QFETCH(Tables, tables);
        QFETCH(QStringList, edits);
        QFETCH(QList<int>, added);
        QFETCH(QVariantMap, checks);
        // Per central table: a row the centre adds later, and the identifier registered.
        // clang-format off
        const struct { QString table, id, insert; int registered; } central[] = {
            {u"REGION"_s, u"REGGID"_s, u"(REGNAME, REGOKATO) VALUES ('x', '1')"_s, 50},
            {u"HOSPTYPE"_s, u"HTPGID"_s, u"(IDTMU) VALUES (1)"_s, 60},
            {u"HOSPITAL"_s, u"HSPGID"_s, u"(IDMU, MU) VALUES (1, 'x')"_s, 70},
            {u"BRIGADE"_s, u"BRGGID"_s, u"(BRGNAME) VALUES ('x')"_s, 80},
            {u"WORKSTATION"_s, u"WSTGID"_s, u"(WSTNAME) VALUES ('y')"_s, 7}, {u"OPERATOR"_s, {}, {}, 0}};
        // clang-format on
        QList<int> got;
        for (const auto &c : central)
            got << -int(count(c.table));
        RecordingWindow w;
        const TFixedClock clock(kNew); // the day of registration
        QCOMPARE(merge(tables, w, edits), QString());
        for (int i = 0; i < 6; ++i)
            got[i] += int(count(central[i].table));
        QCOMPARE(got, added);
        QCOMPARE(count(u"AUXCITY"_s) + count(u"AUXSTREET"_s), 1);
        QCOMPARE(mismatch(checks), QString());
        for (int i = 0; i < 5; ++i) {
            const auto &[table, id, insert, registered] = central[i];
            if (added.at(i)) {
                m_central->Exec(u"INSERT INTO %1 %2"_s.arg(table, insert));
                QVERIFY(value(u"SELECT MAX(%1) FROM %2"_s.arg(id, table)).toInt() > registered);
            }
        }
    }

    // The job from the package file to its deletion; hostile and broken packages.
    void job_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said"); // prefix of the completion or the error
        const QString done = u"Импорт данных завершен"_s;
        const QString error;
        const QString unpack = error + u"Ошибка при извлечении из архива\r\n"_s;
        const QString cancelled = error + u"Прервано пользователем"_s;
        QTest::newRow("success") << "success" << done;
        QTest::newRow("dialog") << "dialog" << done;
        QTest::newRow("dialog cancelled") << "cancelled" << cancelled;
        QTest::newRow("left by a killed run") << "exists" << done;
        QTest::newRow("not an archive") << "garbage" << unpack;
        QTest::newRow("entry leaving the folder") << "escape" << unpack;
        QTest::newRow("absolute entry") << "absolute" << unpack;
        QTest::newRow("link entry") << "link" << unpack;
        QTest::newRow("subfolders in the package") << "subfolders" << done;
        QTest::newRow("cancel mid-step") << "cancel" << cancelled;
        QTest::newRow("missing table") << "noTable" << error;
        QTest::newRow("missing column") << "noColumn" << error;
        QTest::newRow("damaged table") << "damaged" << error;
        QTest::newRow("import running") << "locked" << error + u"Импорт уже выполняется"_s;
    }
    void job()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        const auto is = [&](const char *k) { return kind == QLatin1String(k); };
        const Tables t = tables({{"City", {row({{"CityLID", 1}, {"CitySoato", "1"}})}},
                                 {"Post", {row({{"PosLID", 1}, {"PosName", "Врач"}})}},
                                 {"Person", {row({{"PrnLID", 1}}), row({{"PrnLID", 2}})}}});
        const QString evil = m_program.filePath(u"evil.txt"_s);
        const QString packing = importDir() + u"/packing"_s;
        const QString package = importDir() + u"/wst12.w2s"_s;
        writePackage(packing, t,
                     is("noColumn") ? QStringList{u"Person.PrnRefLID"_s} : QStringList{},
                     is("noTable") ? QStringList{u"Person"_s} : QStringList{});
        QFile damaged(packing + u"/Person.DB"_s); // its header promises more than the file holds
        QVERIFY(!is("damaged") || damaged.resize(damaged.size() / 2 + 3));
        QCOMPARE(PackFolder(m_info->AppFolder(), packing, u"w"_s, u"wst12.w2s"_s), 0);
        QVERIFY(QDir(packing).removeRecursively());
        // Neighbours that a name mask would have taken.
        for (const QString &n : {u"wst1.w2s"_s, u"wst123.w2s"_s, u"wst12 копия.txt"_s})
            testsupport::writeFile(importDir() + u'/' + n, "keep");
        if (is("garbage"))
            testsupport::writeFile(package, "not an archive at all");
        // Entries that would leave the work folder: "..", an absolute path, a link.
        const QByteArray out = QFile::encodeName(evil);
        const QMap<QString, std::pair<QByteArray, QByteArray>> leaving = {
            {u"escape"_s, {"../evil.txt", "x"}},
            {u"absolute"_s, {out, "x"}},
            {u"link"_s, {"Post.DB", "link:" + out}}};
        if (leaving.contains(kind))
            writeZip(package, {{"City.DB", "x"}, leaving.value(kind)});
        if (is("subfolders")) {
            QTemporaryDir dir;
            writePackage(dir.path(), t);
            QList<std::pair<QByteArray, QByteArray>> entries{{"sub/deeper/note.txt", "x"}};
            for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
                entries.append({f.toUtf8(), testsupport::readFile(dir.filePath(f))});
            writeZip(package, entries);
        }
        const QString left = importDir() + u"/wst12.run4242"_s;
        if (is("exists"))
            QDir().mkpath(left + u"/sub"_s);
        // Another import holds the lock: a lock file beside an SQLite database, else an advisory
        // lock.
        const bool sqlite = m_central->Db().Driver() == QLatin1String("SQLITE");
        QLockFile lockFile(m_central->Db().Sql().databaseName() + u".import.lock"_s);
        const QString advisory = u"SELECT pg_advisory_%1(?)"_s;
        const QVariantList key{qint64(0x5A4F5255494D504FLL)};
        if (is("locked") && sqlite)
            QVERIFY(lockFile.tryLock(0));
        else if (is("locked"))
            m_central->Scalar(advisory.arg(u"lock"_s), key);

        const QStringList neighbours = jobtest::folderContents(importDir());
        const bool asked = is("dialog") || is("cancelled");
        int questions = 0;
        RecordingWindow w;
        w.stopOn = is("cancel") ? kStep + u"Person"_s : QString();
        const auto make = [&](const TJobContext &context) {
            auto job = std::make_unique<TImWorkstationToServer>(context, *m_info, m_central->Db(),
                                                                asked ? QString() : package);
            // The user's choice of the package, asked where the window lives.
            job->SetPackageChooser([&] {
                ++questions;
                return is("dialog") ? package : QString();
            });
            return job;
        };
        // The job is plain work: the first row runs it on the test's own thread, the others on
        // a worker thread of a runner, as the program does.
        TImportResult r;
        const auto keep = [&r](TRplThread &job) {
            r = static_cast<TImWorkstationToServer &>(job).Result();
        };
        int result = 0;
        if (is("success")) {
            const auto job = make(w.Context());
            result = job->Run();
            keep(*job);
        } else {
            result = jobtest::runJob(w, w.stopOn, make, keep);
        }
        if (is("locked") && !sqlite)
            m_central->Scalar(advisory.arg(u"unlock"_s), key);

        const bool ok = said == u"Импорт данных завершен"_s;
        QCOMPARE(result, ok ? 1 : 2);
        QCOMPARE(r.Result, ok                                       ? ImportResultSucceeded
                           : said.startsWith(StrConst::Interrupted) ? ImportResultCancelled
                                                                    : ImportResultFailed);
        const QString last = ok ? w.lines.last() : r.Error;
        QVERIFY2(last.startsWith(said), qPrintable(last));
        QCOMPARE(w.lines.last(), ok ? last : StrConst::ErrorPrefix + last);
        QVERIFY(!QFileInfo::exists(evil) && !QFileInfo::exists(importDir() + u"/evil.txt"_s));
        QCOMPARE(questions, asked ? 1 : 0);
        // A work folder a killed run left is removed by the next run that holds the lock.
        QCOMPARE(w.lines.contains(u"Удалена папка прерванного импорта: "_s + left), is("exists"));
        if (leaving.contains(kind)) // the archiver's reason follows
            QVERIFY2(last.size() > said.size() + 3, qPrintable(last));
        if (is("noColumn"))
            QVERIFY2(last.contains(u"PrnRefLID"_s, Qt::CaseInsensitive), qPrintable(last));

        // The work folder is gone; the package is deleted only after success, its neighbours never.
        QStringList expected = neighbours;
        expected.removeAll(u"wst12.run4242"_s);
        expected.removeAll(u"wst12.run4242/sub"_s);
        if (ok) {
            expected.removeAll(u"wst12.w2s"_s);
            QVERIFY(w.lines.contains(u"Удаление репликации: "_s + package));
        }
        QCOMPARE(jobtest::folderContents(importDir()), expected);

        // Rows of the steps before a failure are there; nothing before unpacking is written; a
        // cancellation takes effect after the row under way, which is kept and counted.
        const bool written =
            !is("cancelled") && !is("garbage") && !leaving.contains(kind) && !is("locked");
        QCOMPARE(count(u"AUXPOST"_s), written ? 1 : 0);
        const int persons = ok ? 2 : is("cancel") ? 1 : 0;
        QCOMPARE(count(u"PERSON"_s), persons);
        if (written)
            QCOMPARE(logged(w.lines, u"Person"_s), records(persons));
    }

    // The names a package file gives: its work folder (the name cut to 36 characters, then its
    // last extension removed) and its volume set as the archiver names it, nothing more.
    void packageFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("volumes");
        // clang-format off
        QTest::newRow("lettered volumes") << "wst12.w2s" << "wst12" << "wst12.w2s wst12.w00 wst12.w01";
        QTest::newRow("single") << "w.w2s" << "w" << "w.w2s";
        QTest::newRow("numbered parts") << "x.part1.w2s" << "x.part1" << "x.part1.w2s x.part2.w2s x.part3.w2s";
        QTest::newRow("two dots") << "a.b.w2s" << "a.b" << "a.b.w2s";
        QTest::newRow("cut before the extension") << "0123456789012345678901234567.89abcdefgh.w2s"
                                                  << "0123456789012345678901234567" << "";
        QTest::newRow("cut, no dot left") << "012345678901234567890123456789012345678.w2s"
                                          << "012345678901234567890123456789012345" << "";
        // clang-format on
    }
    void packageFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QFETCH(QString, volumes);
        QCOMPARE(ImportWorkFolder(u"/imp/"_s, u"/x/"_s + file), u"/imp/"_s + folder);
        if (volumes.isEmpty())
            return;
        QTemporaryDir dir;
        for (const QString &f : u"w.w2s wst12.w2s wst12.w00 wst12.w01 wst123.w2s wst12.w03 a.b.w2s "
                                "x.part1.w2s x.part2.w2s x.part3.w2s x.part10.w2s"_s.split(u' '))
            testsupport::writeFile(dir.filePath(f), "v");
        QStringList got;
        for (const QString &v : VolumeSet(dir.filePath(file)))
            got << QFileInfo(v).fileName();
        QCOMPARE(got.join(u' '), volumes);
    }
};

QTEST_MAIN(TestImport)
#include "test_importjob.moc"
