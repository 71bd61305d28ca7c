#include "centraldb.h"
#include "core/errors.h"
#include "engine/paradox/paradoxtable.h"
#include "package/packagenames.h"
#include "package/packagetables.h"

#include <QDir>
#include <QtTest>

using paradox::FieldType;

namespace {

struct PackageTable
{
    QString file;
    std::vector<paradox::Field> fields;
    std::vector<paradox::Row> rows;
};

QVariant null()
{
    return {};
}

// Package tables reduced to the columns the derived columns read; the rows of each table are
// one that finds its central rows and one or two that do not.
QList<PackageTable> packageTables()
{
    const auto L = [](const char *n) {
        return paradox::Field(QString::fromLatin1(n), FieldType::Long);
    };
    const auto A = [](const char *n) {
        return paradox::Field(QString::fromLatin1(n), FieldType::Alpha, 50);
    };
    return {
        {QStringLiteral("City.DB"),
         {L("CityLID"), A("CitySoato"), L("WstGID")},
         {{7, QStringLiteral("5240100000"), 3},
          {8, QStringLiteral("9999999999"), 3},
          {7, QStringLiteral("5240100000"), 4}}},
        {QStringLiteral("Street.DB"),
         {L("StrLID"), A("StrName"), L("CityLID"), L("WstGID")},
         {{11, QStringLiteral("Ленина"), 7, 3},
          {12, QStringLiteral("Ленина"), 8, 3},
          {13, QStringLiteral("ленина"), 7, 3}}},
        {QStringLiteral("Post.DB"),
         {L("PosLID"), A("PosName"), L("WstGID")},
         {{5, QStringLiteral("Врач"), 3}, {6, QStringLiteral("Медсестра"), 3}}},
        {QStringLiteral("RegistrationArea.DB"),
         {L("AreaLID"), A("AreaCode"), L("HspGID"), L("WstGID")},
         {{2, QStringLiteral("01"), 10, 3}, {3, QStringLiteral("01"), 11, 3}}},
        {QStringLiteral("Address.DB"),
         {L("AdrLID"), L("CityLID"), L("StrLID"), L("WstGID")},
         {{20, 7, 11, 3}, {21, 8, 12, 3}}},
        {QStringLiteral("Person.DB"),
         {L("PrnLID"), L("AreaLID"), L("PosLID"), L("AdrLID"), L("PrnRefLID"), L("WstGID")},
         {{30, 2, 5, 20, null(), 3}, {31, 3, 6, 21, 30, 3}}},
        {QStringLiteral("Document.DB"),
         {L("DocLID"), L("PrnLID"), L("WstGID")},
         {{40, 30, 3}, {42, 31, 3}}},
        {QStringLiteral("PrimaryInspection.DB"), {L("DocLID"), L("WstGID")}, {{40, 3}, {41, 3}}},
        {QStringLiteral("PrimDiag.DB"),
         {L("DiagGID"), L("DocLID"), L("WstGID")},
         {{1, 40, 3}, {2, 41, 3}}},
        {QStringLiteral("ScriningCard.DB"),
         {L("DocLID"), L("PostLID"), L("WstGID")},
         {{41, 5, 3}, {40, 6, 3}}},
        {QStringLiteral("MapDiag.DB"),
         {L("DiagGID"), L("DocLID"), L("WstGID")},
         {{1, 41, 3}, {2, 40, 3}}},
    };
}

void fillCentral(CentralDb &c)
{
    const QDateTime t(QDate(2005, 6, 1), QTime(9, 30));
    c.Exec(QStringLiteral(
        "INSERT INTO CITY (CITYGID, CITYNAME, CITYSOATO) VALUES (101, 'Омск', '5240100000')"));
    c.Exec(QStringLiteral("INSERT INTO AUXCITY (CITYLID, WSTGID, CITYGID) VALUES (7, 3, 101)"));
    c.Exec(QStringLiteral(
        "INSERT INTO STREET (STRGID, STRNAME, CITYGID) VALUES (201, 'Ленина', 101)"));
    c.Exec(QStringLiteral("INSERT INTO AUXSTREET (STRLID, WSTGID, STRGID) VALUES (11, 3, 201)"));
    c.Exec(QStringLiteral("INSERT INTO POST (POSGID, POSNAME) VALUES (301, 'Врач')"));
    c.Exec(QStringLiteral("INSERT INTO AUXPOST (POSLID, WSTGID, POSGID) VALUES (5, 3, 301)"));
    c.Exec(QStringLiteral(
        "INSERT INTO REGISTRATIONAREA (AREAGID, AREACODE, HSPGID) VALUES (401, '01', 10)"));
    c.Exec(QStringLiteral(
        "INSERT INTO AUXREGISTRATIONAREA (AREALID, WSTGID, AREAGID) VALUES (2, 3, 401)"));
    c.Exec(QStringLiteral("INSERT INTO ADDRESS (ADRGID, ADRLID, CRDATE, LASTUPDATE, USERGID, "
                          "WSTGID) VALUES (501, 20, ?, ?, 1, 3)"),
           {t, t});
    c.Exec(
        QStringLiteral(
            "INSERT INTO PERSON (PRNGID, PRNLID, PRNSURNAME, CRDATE, LASTUPDATE, WSTGID, USERGID) "
            "VALUES (601, 30, 'Иванов', ?, ?, 3, 1)"),
        {t, t});
    for (const auto &[gid, lid] : {std::pair{701, 40}, std::pair{702, 41}})
        c.Exec(QStringLiteral("INSERT INTO DOCUMENT (DOCGID, DOCLID, DOCDATE, DTPGID, PRNGID, "
                              "CRDATE, LASTUPDATE, WSTGID, "
                              "USERGID) VALUES (?, ?, ?, 1, 601, ?, ?, 3, 1)"),
               {gid, lid, t, t, t});
    c.Exec(
        QStringLiteral(
            "INSERT INTO PRIMARYINSPECTION (DOCGID, DOCLID, CRDATE, LASTUPDATE, WSTGID, USERGID) "
            "VALUES (701, 40, ?, ?, 3, 1)"),
        {t, t});
    c.Exec(QStringLiteral(
               "INSERT INTO SCRININGCARD (DOCGID, DOCLID, CRDATE, LASTUPDATE, WSTGID, USERGID) "
               "VALUES (702, 41, ?, ?, 3, 1)"),
           {t, t});
}

TTable &member(TSIEDM &dm, const QString &file)
{
    const std::pair<const char *, TTable *> tables[] = {
        {"City.DB", &dm.wstCity},         {"Street.DB", &dm.wstStreet},
        {"Post.DB", &dm.wstPost},         {"RegistrationArea.DB", &dm.wstRegistrationArea},
        {"Address.DB", &dm.wstAddress},   {"Person.DB", &dm.wstPerson},
        {"Document.DB", &dm.wstDocument}, {"PrimaryInspection.DB", &dm.wstPrimaryInspection},
        {"PrimDiag.DB", &dm.wstPrimDiag}, {"ScriningCard.DB", &dm.wstMapScrining},
        {"MapDiag.DB", &dm.wstMapDiag}};
    for (const auto &[name, table] : tables)
        if (file == QLatin1String(name))
            return *table;
    qFatal("no member for %s", qPrintable(file));
}

// Derived values per row, in the order the rows were written: "101" or "-" for Null.
QStringList derived(TTable &t, const QString &field)
{
    QStringList out;
    t.Open();
    for (t.First(); !t.Eof(); t.Next()) {
        const QVariant v = t.FieldByName(field)->AsVariant();
        out << (engine::IsNullValue(v) ? QStringLiteral("-") : QString::number(v.toLongLong()));
    }
    t.Close();
    return out;
}

} // namespace

class TestSIEDM : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void packageNames_data()
    {
        QTest::addColumn<int>("wst");
        QTest::addColumn<QString>("wstName");
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("packageName");
        QTest::addColumn<QString>("hospitalFolder");
        const QString sep(QDir::separator());
        QTest::newRow("example") << 12 << "АРМ"
                                 << "ЦРБ"
                                 << "000012_20050601093000_на ЦРБ"
                                 << "АРМ_20050601093000"
                                 << "ЦРБ";
        QTest::newRow("long names")
            << 1234567 << "Рабочее место №1 кабинет 5"
            << "Муниципальная центральная районная больница г. Тары"
            << "1234567_20050601093000_на Муниципальная центральная районная больница г. Тары"
            << "Рабочее мест_20050601093000"
            << "Муниципальная центральная райо";
        QTest::newRow("cut falls on a blank")
            << 5 << "A"
            << " Больница скорой помощи Омск  корпус 2"
            << "000005_20050601093000_на  Больница скорой помощи Омск  корпус 2"
            << "A_20050601093000"
            << "Больница скорой помощи Омск";
        QTest::newRow("unsafe characters") << 7 << "АРМ \"1\"/2:3\\4"
                                           << "МУЗ \"ЦРБ\" г/о: Тара\\Север"
                                           << "000007_20050601093000_на МУЗ ЦРБ г_о_ Тара_Север"
                                           << "АРМ 1_2_3__20050601093000"
                                           << "МУЗ ЦРБ г_о_ Тара_Север";
        QTest::newRow("dots only stay inside the export folder") << 8 << "x"
                                                                 << ".."
                                                                 << "000008_20050601093000_на .."
                                                                 << "x_20050601093000"
                                                                 << "__";
    }
    void packageNames()
    {
        QFETCH(int, wst);
        QFETCH(QString, wstName);
        QFETCH(QString, owner);
        QFETCH(QString, label);
        QFETCH(QString, packageName);
        QFETCH(QString, hospitalFolder);
        const QString exportPath = QDir::separator() + QStringLiteral("export") + QDir::separator();
        const TPackageNames n = ComposePackageNames(
            wst, wstName, owner, QDateTime(QDate(2005, 6, 1), QTime(9, 30)), exportPath);
        QCOMPARE(n.Label, label);
        QCOMPARE(n.PackageName, packageName);
        QCOMPARE(n.HospitalFolder, exportPath + hospitalFolder);
        QCOMPARE(n.PackageFolder, exportPath + hospitalFolder + QDir::separator() + packageName);
        QCOMPARE(n.ArchiveName, packageName + QStringLiteral(".s2w"));
    }

    void rplGenMakesTenEmptyKeyedTables()
    {
        QTemporaryDir dir;
        TDatabase folder(QStringLiteral("Package"));
        folder.OpenFolder(dir.path());
        TSIEDM::RunRplGen(folder);
        QCOMPARE(TSIEDM::SrvToWstTableNames().size(), 10);
        for (const QString &name : TSIEDM::SrvToWstTableNames()) {
            paradox::TableReader r(dir.filePath(name + QStringLiteral(".db")));
            QCOMPARE(r.recordCount(), 0);
            QCOMPARE(r.keyFieldCount(), name == QLatin1String("BrigHsp") ? 2 : 1);
            QCOMPARE(r.codePage(), 1251);
        }
        const paradox::Schema hospital =
            paradox::TableReader(dir.filePath(QStringLiteral("Hospital.db"))).schema();
        QCOMPARE(hospital.fields.size(), size_t(32));
        QCOMPARE(hospital.fields[6], paradox::Field(QStringLiteral("OFFICE"), FieldType::Logical));
        QCOMPARE(hospital.fields[21], paradox::Field(QStringLiteral("HOUSE"), FieldType::Short));
        QCOMPARE(hospital.fields[25],
                 paradox::Field(QStringLiteral("BGDATE"), FieldType::Timestamp));
        QCOMPARE(hospital.fields[3], paradox::Field(QStringLiteral("MUFL"), FieldType::Alpha, 250));
        const paradox::Schema prep =
            paradox::TableReader(dir.filePath(QStringLiteral("MedPreparat.db"))).schema();
        QCOMPARE(prep.fields[4], paradox::Field(QStringLiteral("MprDose"), FieldType::Number));
        // The package folder is always new: a second run refuses to overwrite.
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, TSIEDM::RunRplGen(folder));
    }

    void derivedColumns_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "SQLITE";
        QTest::newRow("postgresql") << "POSTGRESQL";
    }
    void derivedColumns()
    {
        QFETCH(QString, backend);
        if (backend == QLatin1String("POSTGRESQL")) {
            ZORU_REQUIRE_PG_OR_SKIP(pg);
            Q_UNUSED(pg);
        }
        CentralDb central(backend);
        fillCentral(central);

        QTemporaryDir dir;
        for (const PackageTable &t : packageTables())
            paradox::writeTable(dir.filePath(t.file), paradox::Schema{t.fields, 0}, t.rows);
        TDatabase wst(QStringLiteral("ImportFromWst"));
        wst.OpenFolder(dir.path());
        TSIEDM dm(&central.Db(), &wst);

        const QList<std::tuple<QString, QString, QStringList>> expected = {
            {QStringLiteral("City.DB"),
             QStringLiteral("CITYGID"),
             {QStringLiteral("101"), QStringLiteral("-"), QStringLiteral("101")}},
            {QStringLiteral("City.DB"),
             QStringLiteral("AUXCITYGID"),
             {QStringLiteral("101"), QStringLiteral("-"), QStringLiteral("-")}},
            {QStringLiteral("Street.DB"),
             QStringLiteral("CITYGID"),
             {QStringLiteral("101"), QStringLiteral("-"), QStringLiteral("101")}},
            // Exact comparison: a street name differing in letter case is another street.
            {QStringLiteral("Street.DB"),
             QStringLiteral("STRGID"),
             {QStringLiteral("201"), QStringLiteral("-"), QStringLiteral("-")}},
            {QStringLiteral("Street.DB"),
             QStringLiteral("AUXSTRGID"),
             {QStringLiteral("201"), QStringLiteral("-"), QStringLiteral("-")}},
            {QStringLiteral("Post.DB"),
             QStringLiteral("POSGID"),
             {QStringLiteral("301"), QStringLiteral("-")}},
            {QStringLiteral("Post.DB"),
             QStringLiteral("AUXPOSGID"),
             {QStringLiteral("301"), QStringLiteral("-")}},
            {QStringLiteral("RegistrationArea.DB"),
             QStringLiteral("AREAGID"),
             {QStringLiteral("401"), QStringLiteral("-")}},
            {QStringLiteral("RegistrationArea.DB"),
             QStringLiteral("AUXAREAGID"),
             {QStringLiteral("401"), QStringLiteral("-")}},
            {QStringLiteral("Address.DB"),
             QStringLiteral("STRGID"),
             {QStringLiteral("201"), QStringLiteral("-")}},
            {QStringLiteral("Address.DB"),
             QStringLiteral("CITYGID"),
             {QStringLiteral("101"), QStringLiteral("-")}},
            {QStringLiteral("Address.DB"),
             QStringLiteral("ADRGID"),
             {QStringLiteral("501"), QStringLiteral("-")}},
            {QStringLiteral("Person.DB"),
             QStringLiteral("AREAGID"),
             {QStringLiteral("401"), QStringLiteral("-")}},
            {QStringLiteral("Person.DB"),
             QStringLiteral("POSGID"),
             {QStringLiteral("301"), QStringLiteral("-")}},
            {QStringLiteral("Person.DB"),
             QStringLiteral("PRNGID"),
             {QStringLiteral("601"), QStringLiteral("-")}},
            {QStringLiteral("Person.DB"),
             QStringLiteral("PRNREFGID"),
             {QStringLiteral("-"), QStringLiteral("601")}},
            {QStringLiteral("Person.DB"),
             QStringLiteral("ADRGID"),
             {QStringLiteral("501"), QStringLiteral("-")}},
            {QStringLiteral("Document.DB"),
             QStringLiteral("PRNGID"),
             {QStringLiteral("601"), QStringLiteral("-")}},
            {QStringLiteral("Document.DB"),
             QStringLiteral("DOCGID"),
             {QStringLiteral("701"), QStringLiteral("-")}},
            {QStringLiteral("PrimaryInspection.DB"),
             QStringLiteral("DOCGID"),
             {QStringLiteral("701"), QStringLiteral("702")}},
            {QStringLiteral("PrimaryInspection.DB"),
             QStringLiteral("DOCGIDREAL"),
             {QStringLiteral("701"), QStringLiteral("-")}},
            {QStringLiteral("PrimDiag.DB"),
             QStringLiteral("DOCGID"),
             {QStringLiteral("701"), QStringLiteral("-")}},
            {QStringLiteral("ScriningCard.DB"),
             QStringLiteral("DOCGID"),
             {QStringLiteral("702"), QStringLiteral("701")}},
            {QStringLiteral("ScriningCard.DB"),
             QStringLiteral("DOCGIDREAL"),
             {QStringLiteral("702"), QStringLiteral("-")}},
            {QStringLiteral("ScriningCard.DB"),
             QStringLiteral("POSTGID"),
             {QStringLiteral("301"), QStringLiteral("-")}},
            {QStringLiteral("MapDiag.DB"),
             QStringLiteral("DOCGID"),
             {QStringLiteral("702"), QStringLiteral("-")}},
        };
        for (const auto &[file, field, values] : expected) {
            const QStringList got = derived(member(dm, file), field);
            QVERIFY2(got == values, qPrintable(file + QLatin1Char('.') + field +
                                               QStringLiteral(": ") + got.join(QLatin1Char(','))));
        }

        // A mapping row posted during the run is seen the next time the row becomes current.
        dm.itAuxCity.Open();
        dm.itAuxCity.Append();
        dm.itAuxCity.FieldByName(QStringLiteral("CITYLID"))->SetAsInteger(8);
        dm.itAuxCity.FieldByName(QStringLiteral("WSTGID"))->SetAsInteger(3);
        dm.itAuxCity.FieldByName(QStringLiteral("CITYGID"))->SetAsInteger(101);
        dm.itAuxCity.Post();
        QCOMPARE(derived(dm.wstCity, QStringLiteral("AUXCITYGID")),
                 (QStringList{QStringLiteral("101"), QStringLiteral("101"), QStringLiteral("-")}));
        QCOMPARE(
            derived(dm.wstStreet, QStringLiteral("CITYGID")),
            (QStringList{QStringLiteral("101"), QStringLiteral("101"), QStringLiteral("101")}));
        dm.itAuxCity.Close();
    }

    void columnListsNameOnlyReadableColumns()
    {
        TSIEDM dm(nullptr, nullptr);
        QCOMPARE(dm.colPrimaryInspection.first(), QStringLiteral("DocGID"));
        QCOMPARE(dm.colPrimaryInspection.size(), 60);
        QVERIFY(!dm.colMapScrining.contains(QStringLiteral("PostLID"), Qt::CaseInsensitive));
        QVERIFY(!dm.colMapScrining.contains(QStringLiteral("IndexKetle"), Qt::CaseInsensitive));
        QVERIFY(dm.colMapScrining.contains(QStringLiteral("PostGID")));
        QVERIFY(!dm.colPerson.contains(QStringLiteral("paspor"), Qt::CaseInsensitive));
    }
};

QTEST_GUILESS_MAIN(TestSIEDM)
#include "test_packagetables.moc"
