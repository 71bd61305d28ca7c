// The package generator of the demo installation: a package made on the command line unpacks
// into the workstation tables and the six copies, every local reference pointing at a row of the
// package and every central one at a row the centre holds, or, for a workstation new to the
// centre, at the copies it carries.

#include "core/aliases.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/paradox/paradoxtable.h"
#include "installation.h"
#include "package.h"
#include "replication/archive.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <map>
#include <memory>

namespace {

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

Run runDemo(const QStringList &args)
{
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QDir(qEnvironmentVariable("ZORU_PROGRAM_DIR"))
                .absoluteFilePath(QStringLiteral("zoru-demo")),
            args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

std::unique_ptr<TDatabase> openCentral(TAliasStore &aliases,
                                       const std::optional<testsupport::PgServer> &pg)
{
    auto db = std::make_unique<TDatabase>(demo::CenterAlias, &aliases);
    db->AliasName = demo::CenterAlias;
    db->LoginPrompt = false;
    if (pg)
        db->Params << QStringLiteral("USER NAME=") + pg->user
                   << QStringLiteral("PASSWORD=") + pg->password;
    db->Open();
    return db;
}

} // namespace

namespace {

// One unpacked package table: its rows and the values of a column by name.
struct PackageTable
{
    paradox::Schema schema;
    std::vector<paradox::Row> rows;

    QVariant at(const paradox::Row &row, const char *column) const
    {
        const int i = schema.indexOf(QLatin1String(column));
        if (i < 0)
            qFatal("no column %s", column);
        return row[size_t(i)];
    }
    QSet<int> ints(const char *column) const
    {
        QSet<int> out;
        for (const paradox::Row &row : rows)
            if (!at(row, column).isNull())
                out.insert(at(row, column).toInt());
        return out;
    }
};

QSet<int> centralInts(TDatabase &db, const QString &sql)
{
    QSet<int> out;
    QSqlQuery q(db.Sql());
    if (!q.exec(sql))
        qFatal("query failed: %s", qPrintable(sql));
    while (q.next())
        out.insert(q.value(0).toInt());
    return out;
}

} // namespace

class TestDemoPackage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void package_data();
    void package();
};

void TestDemoPackage::package_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::addColumn<bool>("newWorkstation");
    QTest::newRow("known workstation, sqlite") << false << false;
    QTest::newRow("new workstation, postgresql") << true << true;
}

void TestDemoPackage::package()
{
    QFETCH(bool, postgres);
    QFETCH(bool, newWorkstation);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    demo::Options options;
    options.folder = dir.filePath(QStringLiteral("демо установка"));
    options.scale = 0.05;
    std::optional<testsupport::PgServer> pg;
    QString pgName;
    QStringList args{QStringLiteral("--folder"),  options.folder,
                     QStringLiteral("--package"), QStringLiteral("300"),
                     QStringLiteral("--seed"),    QStringLiteral("5")};
    if (postgres) {
        ZORU_REQUIRE_PG_OR_SKIP(server);
        pg = server;
        pgName = testsupport::createPgDatabase(server, QStringLiteral("demo"));
        options.postgres =
            demo::PgTarget{server.host, server.port, pgName, server.user, server.password};
        args << QStringLiteral("--password") << server.password;
    }
    if (newWorkstation)
        args << QStringLiteral("--new-workstation");
    try {
        demo::CreateInstallation(options);
    } catch (const Exception &e) {
        QFAIL(qPrintable(e.Message()));
    }

    const Run r = runDemo(args);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QString first = r.out.trimmed();
    QCOMPARE(QFileInfo(first).absolutePath(),
             QDir(options.folder).absoluteFilePath(QStringLiteral("import")));
    QVERIFY(first.endsWith(QStringLiteral(".w2s")));
    QTemporaryDir unpacked;
    QCOMPARE(UnpackArchive(qEnvironmentVariable("ZORU_PROGRAM_DIR"), unpacked.path(), first), 0);

    std::map<QString, PackageTable> t;
    for (const QString &name : demo::PackageTableNames()) {
        PackageTable &table = t[name];
        table.rows = paradox::readAllRows(
            QDir(unpacked.path()).filePath(name + QStringLiteral(".DB")), &table.schema);
    }
    QCOMPARE(int(t[QStringLiteral("Person")].rows.size()), 300);
    QCOMPARE(int(t[QStringLiteral("Workstation")].rows.size()), 1);
    for (const char *name :
         {"City", "Street", "Post", "RegistrationArea", "Address", "Document", "PrimaryInspection",
          "PrimDiag", "ScriningCard", "MapDiag", "Operator", "Hospital", "HospType", "Region"})
        QVERIFY2(!t[QLatin1String(name)].rows.empty(), name);

    // Local references.
    const auto &city = t[QStringLiteral("City")], &street = t[QStringLiteral("Street")],
               &address = t[QStringLiteral("Address")], &person = t[QStringLiteral("Person")],
               &document = t[QStringLiteral("Document")],
               &inspection = t[QStringLiteral("PrimaryInspection")],
               &card = t[QStringLiteral("ScriningCard")];
    QVERIFY(city.ints("CityLID").contains(street.ints("CityLID")));
    QVERIFY(city.ints("CityLID").contains(address.ints("CityLID")));
    QVERIFY(street.ints("StrLID").contains(address.ints("StrLID")));
    QVERIFY(address.ints("AdrLID").contains(person.ints("AdrLID")));
    QVERIFY(t[QStringLiteral("Post")].ints("PosLID").contains(person.ints("PosLID")));
    QVERIFY(t[QStringLiteral("Post")].ints("PosLID").contains(card.ints("PostLID")));
    QVERIFY(t[QStringLiteral("RegistrationArea")].ints("AreaLID").contains(person.ints("AreaLID")));
    QVERIFY(person.ints("PrnLID").contains(person.ints("PrnRefLID")));
    QVERIFY(person.ints("PrnLID").contains(document.ints("PrnLID")));
    QVERIFY(document.ints("DocLID").contains(inspection.ints("DocLID")));
    QVERIFY(document.ints("DocLID").contains(card.ints("DocLID")));
    QVERIFY(!inspection.ints("DocLID").intersects(card.ints("DocLID")));
    QVERIFY(inspection.ints("DocLID").contains(t[QStringLiteral("PrimDiag")].ints("DocLID")));
    QVERIFY(card.ints("DocLID").contains(t[QStringLiteral("MapDiag")].ints("DocLID")));
    int backward = 0, forward = 0;
    for (const paradox::Row &row : person.rows) {
        const QVariant ref = person.at(row, "PrnRefLID");
        if (!ref.isNull())
            ++(ref.toInt() < person.at(row, "PrnLID").toInt() ? backward : forward);
    }
    QVERIFY(backward > 0);
    QVERIFY(forward > 0);

    // One workstation and its operators on every row.
    const auto &wst = t[QStringLiteral("Workstation")];
    const int w = wst.at(wst.rows[0], "WstGID").toInt();
    const QSet<int> users = t[QStringLiteral("Operator")].ints("UserGID");
    for (size_t i = 0; i < 11; ++i) {
        const QString &name = demo::PackageTableNames()[i];
        QCOMPARE(t[name].ints("WstGID"), QSet<int>{w});
        QVERIFY2(users.contains(t[name].ints("UserGID")), qPrintable(name));
    }

    // Central references and what is new to the centre.
    TAliasStore aliases(QDir(options.folder).absoluteFilePath(StrConst::AliasFileName));
    auto db = openCentral(aliases, pg);
    QVERIFY(centralInts(*db, QStringLiteral("SELECT DTPGID FROM DOCTYPE"))
                .contains(document.ints("DtpGID")));
    QVERIFY(centralInts(*db, QStringLiteral("SELECT DIAGGID FROM DIAGNOSIS"))
                .contains(t[QStringLiteral("MapDiag")].ints("DiagGID")));
    QSet<QString> centralSoato, newSoato;
    {
        QSqlQuery q(db->Sql());
        QVERIFY(q.exec(QStringLiteral("SELECT CITYSOATO FROM CITY")));
        while (q.next())
            centralSoato.insert(q.value(0).toString());
    }
    int known = 0, fresh = 0;
    for (const paradox::Row &row : city.rows) {
        const QString soato = city.at(row, "CitySoato").toString();
        if (centralSoato.contains(soato)) {
            ++known;
        } else {
            ++fresh;
            newSoato.insert(soato);
        }
    }
    QVERIFY(known > 0);
    QVERIFY(fresh > 0);
    QVERIFY2(int(newSoato.size()) < fresh, "two new settlements share a SOATO code");

    const auto &hospital = t[QStringLiteral("Hospital")];
    QCOMPARE(int(hospital.schema.fields.size()), 32);
    const int hsp = hospital.at(hospital.rows[0], "HspGID").toInt();
    QCOMPARE(wst.at(wst.rows[0], "HspGID").toInt(), hsp);
    QCOMPARE(t[QStringLiteral("RegistrationArea")].ints("HspGID"), QSet<int>{hsp});
    QCOMPARE(t[QStringLiteral("HospType")].ints("HtpGID"), hospital.ints("HtpGID"));
    QCOMPARE(t[QStringLiteral("Region")].ints("RegGID"), hospital.ints("RegGID"));
    const bool wstKnown =
        centralInts(*db, QStringLiteral("SELECT WSTGID FROM WORKSTATION")).contains(w);
    const bool hspKnown =
        centralInts(*db, QStringLiteral("SELECT HSPGID FROM HOSPITAL")).contains(hsp);
    QCOMPARE(wstKnown, !newWorkstation);
    QCOMPARE(hspKnown, !newWorkstation);
    if (newWorkstation) {
        const auto &brigade = t[QStringLiteral("Brigade")];
        QCOMPARE(int(brigade.rows.size()), 1);
        QCOMPARE(brigade.schema.fields[2].name, QStringLiteral("CityGID"));
        QCOMPARE(wst.ints("BrgGID"), brigade.ints("BrgGID"));
        QVERIFY(!centralInts(*db, QStringLiteral("SELECT BRGGID FROM BRIGADE"))
                     .intersects(brigade.ints("BrgGID")));
        QVERIFY(!centralInts(*db, QStringLiteral("SELECT REGGID FROM REGION"))
                     .intersects(hospital.ints("RegGID")));
        QVERIFY(!centralInts(*db, QStringLiteral("SELECT HTPGID FROM HOSPTYPE"))
                     .intersects(hospital.ints("HtpGID")));
        QCOMPARE(hospital.at(hospital.rows[0], "OFFICE"), QVariant(true));
        QVERIFY(!hospital.at(hospital.rows[0], "BGDATE").isNull());
    } else {
        QCOMPARE(users, centralInts(*db, QStringLiteral("SELECT USERGID FROM OPERATOR WHERE "
                                                        "WSTGID = %1")
                                             .arg(w)));
    }
    db->Close();
    db.reset();
    if (postgres) {
        testsupport::dropPgDatabase(*pg, pgName);
        testsupport::dropPgDatabase(*pg, pgName + QStringLiteral("_esvs"));
    }
}

QTEST_GUILESS_MAIN(TestDemoPackage)
#include "test_package.moc"
