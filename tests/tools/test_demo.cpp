// The demo installation generator: the installation it leaves must be one the program can start
// on and the wizard, the export, the import and the ЕСВС synchronisation can work with.

#include "core/aliases.h"
#include "core/cp1251.h"
#include "core/inifile.h"
#include "core/strconst.h"
#include "demogen.h"
#include "engine/database.h"
#include "engine/paradox/paradoxtable.h"
#include "installation.h"
#include "package.h"
#include "package/archiver.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>
#include <map>
#include <memory>

namespace {

constexpr double SmallScale = 0.05; // 100 hospitals

// Makes an installation; an error fails the test with the generator's message.
#define CREATE_INSTALLATION(summary, options)                                                      \
    demo::Summary summary;                                                                         \
    try {                                                                                          \
        summary = demo::CreateInstallation(options);                                               \
    } catch (const Exception &e) {                                                                 \
        QFAIL(qPrintable(e.Message()));                                                            \
    }

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

QByteArray fileHash(const QString &path)
{
    return QCryptographicHash::hash(testsupport::readFile(path), QCryptographicHash::Sha256);
}

// Opens one of the installation's databases through its own alias file, as the program would.
std::unique_ptr<TDatabase> openAlias(TAliasStore &aliases, const QString &alias,
                                     const std::optional<testsupport::PgServer> &pg = {})
{
    auto db = std::make_unique<TDatabase>(alias, &aliases);
    db->AliasName = alias;
    db->LoginPrompt = false;
    if (pg)
        db->Params << QStringLiteral("USER NAME=") + pg->user
                   << QStringLiteral("PASSWORD=") + pg->password;
    db->Open();
    return db;
}

QVariant scalar(TDatabase &db, const QString &sql)
{
    QSqlQuery q(db.Sql());
    if (!q.exec(sql) || !q.next())
        qFatal("query failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    return q.value(0);
}

int count(TDatabase &db, const QString &sql)
{
    return scalar(db, sql).toInt();
}

// Every row of every table, in key order, as text: two installations hold the same data exactly
// when their dumps are equal.
QStringList dump(TDatabase &db, const QStringList &tables)
{
    QStringList lines;
    for (const QString &table : tables) {
        QSqlQuery q(db.Sql());
        if (!q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2").arg(table)))
            qFatal("dump failed: %s", qPrintable(q.lastError().text()));
        while (q.next()) {
            QStringList values;
            for (int i = 0; i < q.record().count(); ++i)
                values << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
            lines << table + QLatin1Char('|') + values.join(QLatin1Char('|'));
        }
    }
    return lines;
}

const QStringList centralTables = {
    QStringLiteral("REGION"),     QStringLiteral("HOSPTYPE"),    QStringLiteral("CITY"),
    QStringLiteral("STREET"),     QStringLiteral("HOSPITAL"),    QStringLiteral("BRIGADE"),
    QStringLiteral("BRIGHSP"),    QStringLiteral("WORKSTATION"), QStringLiteral("OPERATOR"),
    QStringLiteral("DIAGNOSIS"),  QStringLiteral("DOCTYPE"),     QStringLiteral("MEDPREPGROUP"),
    QStringLiteral("MEDPREPARAT")};
const QStringList esvsTables = {QStringLiteral("ADRES"), QStringLiteral("TMU"),
                                QStringLiteral("MU")};

// The values of a column as text, from a query or from an unpacked package table.
QSet<QString> values(TDatabase &db, const QString &sql)
{
    QSet<QString> out;
    QSqlQuery q(db.Sql());
    if (!q.exec(sql))
        qFatal("query failed: %s", qPrintable(sql));
    while (q.next())
        out.insert(q.value(0).toString());
    return out;
}

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
    QSet<QString> values(const char *column) const
    {
        QSet<QString> out;
        for (const paradox::Row &row : rows)
            if (!at(row, column).isNull())
                out.insert(at(row, column).toString());
        return out;
    }
};

} // namespace

class TestDemo : public QObject
{
    Q_OBJECT

private:
    // The folder name holds Cyrillic and a blank, so the configuration must really be cp1251.
    static QString folderIn(const QTemporaryDir &dir)
    {
        return dir.filePath(QStringLiteral("демо установка"));
    }

    void checkInstallation(const QString &folder, const std::optional<testsupport::PgServer> &pg);
    void checkPackage(const QString &folder, const std::optional<testsupport::PgServer> &pg);

private Q_SLOTS:
    void installation_data();
    void installation();
    void counts_data();
    void counts();
    void sameSeedSameData();
    void refusesToOverwrite_data();
    void refusesToOverwrite();
    void forceReplacesSqliteInstallation();
    void postgresRefusesAndForces();
    void badCommandLine_data();
    void badCommandLine();
    void failureLeavesNoFiles();
    void helpInRussian();
};

void TestDemo::installation_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgresql") << true;
}

void TestDemo::installation()
{
    QFETCH(bool, postgres);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    demo::Options options;
    options.folder = folderIn(dir);
    options.scale = SmallScale;
    options.seed = 7;
    std::optional<testsupport::PgServer> pg;
    QString pgName;
    if (postgres) {
        ZORU_REQUIRE_PG_OR_SKIP(server);
        pg = server;
        pgName = testsupport::createPgDatabase(server, QStringLiteral("demo"));
        options.postgres =
            demo::PgTarget{server.host, server.port, pgName, server.user, server.password};
    }
    CREATE_INSTALLATION(summary, options);
    QCOMPARE(summary.folder, QDir::cleanPath(options.folder));
    QVERIFY(summary.hospitalWst > 0);
    QVERIFY(summary.brigadeWst > 0);
    QVERIFY(summary.bothWst > 0);
    checkInstallation(options.folder, pg);
    checkPackage(options.folder, pg);
    if (postgres) {
        testsupport::dropPgDatabase(*pg, pgName);
        testsupport::dropPgDatabase(*pg, pgName + QStringLiteral("_esvs"));
    }
}

void TestDemo::checkInstallation(const QString &folder,
                                 const std::optional<testsupport::PgServer> &pg)
{
    const QDir dir(folder);

    // Configuration: the keys the start-up and the jobs read, in cp1251.
    const QString iniPath = dir.absoluteFilePath(QStringLiteral("zoru-admin.ini"));
    const QByteArray raw = testsupport::readFile(iniPath);
    // Folders inside the installation are named relative to it: it moves as a whole.
    const QString importDir = QStringLiteral("import/");
    const QString exportDir = QStringLiteral("export/");
    QVERIFY2(raw.contains(cp1251::encode(QStringLiteral("AIS_RODE_IMPORT=") + importDir)),
             raw.constData());
    const TIniFile ini(iniPath);
    const QString s = StrConst::SettingsSection;
    QCOMPARE(ini.ReadInteger(s, StrConst::IsServerKey, 0), 1);
    QCOMPARE(ini.ReadString(s, StrConst::SrvDBKey, {}), demo::CenterAlias);
    QCOMPARE(ini.ReadString(s, StrConst::ESVSDBKey, {}), demo::EsvsAlias);
    QCOMPARE(ini.ReadString(s, StrConst::UserNameKey, {}), pg ? pg->user : demo::DemoUser);
    QVERIFY(!ini.ReadString(s, StrConst::UserNameESVSKey, {}).isEmpty());
    QCOMPARE(ini.ReadString(s, StrConst::ImportKey, {}), importDir);
    QCOMPARE(ini.ReadString(s, StrConst::ExportKey, {}), exportDir);
    QVERIFY(QFileInfo(dir.filePath(importDir)).isDir());
    QVERIFY(QFileInfo(dir.filePath(exportDir)).isDir());
    QCOMPARE(ini.ReadSection(StrConst::SrvToWstSection),
             QStringList({QStringLiteral("WORKSTATION"), QStringLiteral("BRIGADE"),
                          QStringLiteral("BRIGHSP"), QStringLiteral("HOSPITAL"),
                          QStringLiteral("HOSPTYPE"), QStringLiteral("REGION"),
                          QStringLiteral("DIAGNOSIS"), QStringLiteral("DOCTYPE"),
                          QStringLiteral("MEDPREPARAT"), QStringLiteral("MEDPREPGROUP")}));

    // Aliases: persistent, resolvable, pointing into the folder.
    TAliasStore aliases(dir.absoluteFilePath(StrConst::AliasFileName));
    QCOMPARE(aliases.GetAliasDriverName(demo::CenterAlias),
             pg ? QStringLiteral("POSTGRESQL") : QStringLiteral("SQLITE"));
    QCOMPARE(aliases.GetAliasDriverName(demo::EsvsAlias),
             pg ? QStringLiteral("POSTGRESQL") : QStringLiteral("SQLITE"));
    QCOMPARE(aliases.GetAliasDriverName(StrConst::MainAliasName), QStringLiteral("PARADOX"));
    QCOMPARE(aliases.GetAliasDriverName(StrConst::PolyAliasName), QStringLiteral("DBASE"));
    for (const QString &alias : {StrConst::MainAliasName, StrConst::PolyAliasName}) {
        const QString path = aliases.GetAliasPathParam(alias, QStringLiteral("PATH"));
        QVERIFY2(QFileInfo(path).isDir() && path.startsWith(dir.absolutePath()), qPrintable(path));
        QVERIFY(path.endsWith(QLatin1Char('/')));
    }
    QVERIFY(aliases.IsPersistent(demo::CenterAlias));
    auto center = openAlias(aliases, demo::CenterAlias, pg);
    auto esvs = openAlias(aliases, demo::EsvsAlias, pg);
    TDatabase &c = *center;

    // Integrity that the export and the wizard rely on.
    const std::map<QString, QString> mustBeZero = {
        {QStringLiteral("workstation without hospital and brigade"),
         QStringLiteral(
             "SELECT COUNT(*) FROM WORKSTATION WHERE HSPGID IS NULL AND BRGGID IS NULL")},
        {QStringLiteral("workstation with unknown hospital"),
         QStringLiteral("SELECT COUNT(*) FROM WORKSTATION W WHERE HSPGID IS NOT NULL AND NOT "
                        "EXISTS (SELECT * FROM HOSPITAL H WHERE H.HSPGID = W.HSPGID)")},
        {QStringLiteral("workstation with unknown brigade"),
         QStringLiteral("SELECT COUNT(*) FROM WORKSTATION W WHERE BRGGID IS NOT NULL AND NOT "
                        "EXISTS (SELECT * FROM BRIGADE B WHERE B.BRGGID = W.BRGGID)")},
        {QStringLiteral("link to unknown hospital"),
         QStringLiteral("SELECT COUNT(*) FROM BRIGHSP L WHERE NOT EXISTS "
                        "(SELECT * FROM HOSPITAL H WHERE H.HSPGID = L.HSPGID)")},
        {QStringLiteral("link to unknown brigade"),
         QStringLiteral("SELECT COUNT(*) FROM BRIGHSP L WHERE NOT EXISTS "
                        "(SELECT * FROM BRIGADE B WHERE B.BRGGID = L.BRGGID)")},
        {QStringLiteral("brigade workstation with a hospital its brigade does not serve"),
         QStringLiteral("SELECT COUNT(*) FROM WORKSTATION W WHERE HSPGID IS NOT NULL AND BRGGID "
                        "IS NOT NULL AND NOT EXISTS (SELECT * FROM BRIGHSP L WHERE "
                        "L.HSPGID = W.HSPGID AND L.BRGGID = W.BRGGID)")},
        {QStringLiteral("operator name twice on a workstation"),
         QStringLiteral("SELECT COUNT(*) FROM (SELECT WSTGID, USERNAME FROM OPERATOR GROUP BY "
                        "WSTGID, USERNAME HAVING COUNT(*) > 1) D")},
        {QStringLiteral("operator of an unknown workstation"),
         QStringLiteral("SELECT COUNT(*) FROM OPERATOR O WHERE NOT EXISTS "
                        "(SELECT * FROM WORKSTATION W WHERE W.WSTGID = O.WSTGID)")},
        {QStringLiteral("operator with a password or a strange level"),
         QStringLiteral("SELECT COUNT(*) FROM OPERATOR WHERE USERHASH <> '0' OR USERLEVEL NOT "
                        "IN (0, 1)")},
        {QStringLiteral("workstation without exactly one administrator"),
         QStringLiteral("SELECT COUNT(*) FROM WORKSTATION W WHERE (SELECT COUNT(*) FROM OPERATOR "
                        "O WHERE O.WSTGID = W.WSTGID AND O.USERLEVEL = 1) <> 1")},
        {QStringLiteral("hospital of an unknown type"),
         QStringLiteral("SELECT COUNT(*) FROM HOSPITAL H WHERE NOT EXISTS (SELECT * FROM "
                        "HOSPTYPE T WHERE T.HTPGID = H.HTPGID AND T.IDTMU = H.IDTMU)")},
        {QStringLiteral("hospital in an unknown region"),
         QStringLiteral("SELECT COUNT(*) FROM HOSPITAL H WHERE REGGID IS NOT NULL AND NOT EXISTS "
                        "(SELECT * FROM REGION R WHERE R.REGGID = H.REGGID)")},
        {QStringLiteral("city in an unknown region"),
         QStringLiteral("SELECT COUNT(*) FROM CITY C WHERE REGGID IS NOT NULL AND NOT EXISTS "
                        "(SELECT * FROM REGION R WHERE R.REGGID = C.REGGID)")},
        {QStringLiteral("street of an unknown city"),
         QStringLiteral("SELECT COUNT(*) FROM STREET S WHERE NOT EXISTS "
                        "(SELECT * FROM CITY C WHERE C.CITYGID = S.CITYGID)")},
        {QStringLiteral("brigade of an unknown city"),
         QStringLiteral("SELECT COUNT(*) FROM BRIGADE B WHERE CITYGID IS NOT NULL AND NOT EXISTS "
                        "(SELECT * FROM CITY C WHERE C.CITYGID = B.CITYGID)")},
        {QStringLiteral("medicine of an unknown group"),
         QStringLiteral("SELECT COUNT(*) FROM MEDPREPARAT M WHERE NOT EXISTS "
                        "(SELECT * FROM MEDPREPGROUP G WHERE G.MPGGID = M.MPGGID)")},
        {QStringLiteral("group inside an unknown group"),
         QStringLiteral("SELECT COUNT(*) FROM MEDPREPGROUP M WHERE MPGPNTGID IS NOT NULL AND NOT "
                        "EXISTS (SELECT * FROM MEDPREPGROUP G WHERE G.MPGGID = M.MPGPNTGID)")},
        {QStringLiteral("region code not of eleven digits"),
         QStringLiteral("SELECT COUNT(*) FROM REGION WHERE LENGTH(REGOKATO) <> 11")},
        {QStringLiteral("city codes of the wrong length"),
         QStringLiteral("SELECT COUNT(*) FROM CITY WHERE LENGTH(CITYOKATO) <> 11 OR "
                        "LENGTH(CITYSOATO) <> 10")},
        {QStringLiteral("two cities with one SOATO code"),
         QStringLiteral("SELECT COUNT(*) FROM (SELECT CITYSOATO FROM CITY GROUP BY CITYSOATO "
                        "HAVING COUNT(*) > 1) D")},
        {QStringLiteral("two regions with one OKATO code"),
         QStringLiteral("SELECT COUNT(*) FROM (SELECT REGOKATO FROM REGION GROUP BY REGOKATO "
                        "HAVING COUNT(*) > 1) D")},
    };
    for (const auto &[what, sql] : mustBeZero)
        QVERIFY2(count(c, sql) == 0, qPrintable(what));

    // What the wizard and the export should have to show.
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM WORKSTATION WHERE HSPGID IS NOT NULL "
                                    "AND BRGGID IS NULL")) > 0);
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM WORKSTATION WHERE HSPGID IS NULL "
                                    "AND BRGGID IS NOT NULL")) > 0);
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM WORKSTATION WHERE HSPGID IS NOT NULL "
                                    "AND BRGGID IS NOT NULL")) > 0);
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM HOSPITAL WHERE REGGID IS NULL")) > 0);
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM CITY WHERE REGGID IS NULL")) > 0);
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM HOSPITAL WHERE LENGTH(MU) > 30")) > 0);
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM HOSPITAL WHERE MU LIKE '%/%'")) > 0);
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM HOSPITAL WHERE MU LIKE '%\"%'")) > 0);
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM MEDPREPGROUP WHERE MPGPNTGID IS NOT "
                                    "NULL")) > 0);
    QVERIFY(count(c, QStringLiteral("SELECT COUNT(*) FROM REGION WHERE REGOKATO = '52000000000' "
                                    "AND REGNAME = 'Омская область'")) == 1);

    // Texts fit their columns (SQLite would keep longer ones; a workstation could not).
    const struct
    {
        const char *table;
        const char *column;
        int length;
    } widths[] = {{"HOSPITAL", "MU", 100},         {"HOSPITAL", "MUFL", 250},
                  {"HOSPITAL", "CODMU", 10},       {"HOSPITAL", "EMAIL", 32},
                  {"HOSPITAL", "PHONE_R", 20},     {"HOSPITAL", "MAILCODE", 6},
                  {"HOSPITAL", "SURNAMER", 50},    {"HOSPITAL", "MAILADR", 250},
                  {"WORKSTATION", "WSTNAME", 100}, {"OPERATOR", "USERNAME", 20},
                  {"CITY", "CITYNAME", 50},        {"STREET", "STRNAME", 50},
                  {"DIAGNOSIS", "DIAGNAME", 50},   {"DOCTYPE", "DTPNAME", 50},
                  {"MEDPREPARAT", "MPRCODE", 10},  {"MEDPREPARAT", "MPRNAME1", 100},
                  {"MEDPREPGROUP", "MPGNAME", 50}, {"HOSPTYPE", "CODTMU", 10}};
    for (const auto &w : widths)
        QVERIFY2(count(c, QStringLiteral("SELECT COALESCE(MAX(LENGTH(%1)), 0) FROM %2")
                              .arg(QLatin1String(w.column), QLatin1String(w.table))) <= w.length,
                 w.column);

    // ЕСВС: the synchronisation's region rule (the code's last six characters replaced by
    // zeros) leads every hospital known to both sides to the region it has centrally; and there
    // are differences to synchronise.
    std::map<QString, int> regionByCode;
    {
        QSqlQuery q(c.Sql());
        QVERIFY(q.exec(QStringLiteral("SELECT REGOKATO, REGGID FROM REGION")));
        while (q.next())
            regionByCode[q.value(0).toString()] = q.value(1).toInt();
    }
    std::map<int, QVariant> centralRegion; // by IDMU
    {
        QSqlQuery q(c.Sql());
        QVERIFY(q.exec(QStringLiteral("SELECT IDMU, REGGID FROM HOSPITAL")));
        while (q.next())
            centralRegion[q.value(0).toInt()] = q.value(1);
    }
    QSqlQuery q(esvs->Sql());
    QVERIFY(q.exec(QStringLiteral("SELECT MU.IDMU, ADRES.K_ADMN FROM MU LEFT JOIN ADRES ON "
                                  "(MU.IDADRES = ADRES.IDADRES) ORDER BY MU.IDMU")));
    int both = 0;
    int esvsOnly = 0;
    while (q.next()) {
        const int idmu = q.value(0).toInt();
        const auto it = centralRegion.find(idmu);
        if (it == centralRegion.end()) {
            ++esvsOnly;
            continue;
        }
        ++both;
        QVariant derived;
        if (!q.isNull(1)) {
            const QString okato = q.value(1).toString().trimmed();
            const auto r =
                regionByCode.find(okato.left(okato.size() - 6) + QStringLiteral("000000"));
            if (r != regionByCode.end())
                derived = r->second;
        }
        QVERIFY2(derived.isNull() == it->second.isNull() &&
                     (derived.isNull() || derived.toInt() == it->second.toInt()),
                 qPrintable(QStringLiteral("IDMU %1").arg(idmu)));
    }
    QVERIFY(both > 0);
    QVERIFY(esvsOnly > 0);
    QVERIFY(both < count(c, QStringLiteral("SELECT COUNT(*) FROM HOSPITAL")));
    QVERIFY(count(*esvs, QStringLiteral("SELECT COUNT(*) FROM TMU")) > 0);
    // Regions as the synchronisation reads them: one row per code.
    QCOMPARE(count(*esvs, QStringLiteral("SELECT COUNT(*) FROM ADRES A1 WHERE RTRIM(K_ADMN) LIKE "
                                         "'%000000' AND RAZDEL = (SELECT MIN(RAZDEL) FROM ADRES "
                                         "A2 WHERE A1.K_ADMN = A2.K_ADMN)")),
             count(*esvs, QStringLiteral("SELECT COUNT(DISTINCT K_ADMN) FROM ADRES WHERE "
                                         "RTRIM(K_ADMN) LIKE '%000000'")));
    // K_ADMN comes padded to its fixed length, as a CHAR(13) column delivers it.
    QSqlQuery codes(esvs->Sql());
    QVERIFY(codes.exec(QStringLiteral("SELECT K_ADMN FROM ADRES")));
    int padded = 0;
    while (codes.next())
        padded += codes.value(0).toString().size() == 13 ? 1 : 0;
    QCOMPARE(padded, count(*esvs, QStringLiteral("SELECT COUNT(*) FROM ADRES")));
}

// A package made on the command line unpacks into the workstation tables and the six copies,
// every local reference pointing at a row of the package and every central one at a row the
// centre holds, or, for a workstation new to the centre (here with PostgreSQL), at the copies
// it carries.
void TestDemo::checkPackage(const QString &folder, const std::optional<testsupport::PgServer> &pg)
{
    const bool newWorkstation = pg.has_value();
    QStringList args{QStringLiteral("--folder"),  folder,
                     QStringLiteral("--package"), QStringLiteral("300"),
                     QStringLiteral("--seed"),    QStringLiteral("5"),
                     QStringLiteral("--now"),     QStringLiteral("2026-01-15T10:00:00")};
    if (pg)
        args << QStringLiteral("--password") << pg->password << QStringLiteral("--new-workstation");
    const Run r = runDemo(args);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QString first = r.out.trimmed();
    QCOMPARE(QFileInfo(first).absolutePath(),
             QDir(folder).absoluteFilePath(QStringLiteral("import")));
    QVERIFY2(first.endsWith(QStringLiteral("_20260115100000.w2s")), qPrintable(first));
    QTemporaryDir unpacked;
    QCOMPARE(UnpackArchive(qEnvironmentVariable("ZORU_PROGRAM_DIR"), unpacked.path(), first), 0);
    std::map<QString, PackageTable> t;
    for (const QString &name : demo::PackageTableNames())
        t[name].rows = paradox::readAllRows(
            QDir(unpacked.path()).filePath(name + QStringLiteral(".DB")), &t[name].schema);
    const auto T = [&](const char *name) -> const PackageTable & { return t[QLatin1String(name)]; };
    QCOMPARE(int(T("Person").rows.size()), 300);
    QCOMPARE(int(T("Workstation").rows.size()), 1);
    for (const char *name :
         {"City", "Street", "Post", "RegistrationArea", "Address", "Document", "PrimaryInspection",
          "PrimDiag", "ScriningCard", "MapDiag", "Operator", "Hospital", "HospType", "Region"})
        QVERIFY2(!T(name).rows.empty(), name);

    // Local references: table, column, the table and column it refers to.
    const char *const refs[][4] = {{"Street", "CityLID", "City", "CityLID"},
                                   {"Address", "CityLID", "City", "CityLID"},
                                   {"Address", "StrLID", "Street", "StrLID"},
                                   {"Person", "AdrLID", "Address", "AdrLID"},
                                   {"Person", "PosLID", "Post", "PosLID"},
                                   {"ScriningCard", "PostLID", "Post", "PosLID"},
                                   {"Person", "AreaLID", "RegistrationArea", "AreaLID"},
                                   {"Person", "PrnRefLID", "Person", "PrnLID"},
                                   {"Document", "PrnLID", "Person", "PrnLID"},
                                   {"PrimaryInspection", "DocLID", "Document", "DocLID"},
                                   {"ScriningCard", "DocLID", "Document", "DocLID"},
                                   {"PrimDiag", "DocLID", "PrimaryInspection", "DocLID"},
                                   {"MapDiag", "DocLID", "ScriningCard", "DocLID"}};
    for (const auto &ref : refs)
        QVERIFY2(T(ref[2]).values(ref[3]).contains(T(ref[0]).values(ref[1])), ref[1]);
    QVERIFY(
        !T("PrimaryInspection").values("DocLID").intersects(T("ScriningCard").values("DocLID")));
    const PackageTable &person = T("Person");
    int backward = 0, forward = 0;
    for (const paradox::Row &row : person.rows)
        if (const QVariant ref = person.at(row, "PrnRefLID"); !ref.isNull())
            ++(ref.toInt() < person.at(row, "PrnLID").toInt() ? backward : forward);
    QVERIFY(backward > 0);
    QVERIFY(forward > 0);

    // One workstation and its operators on every row.
    const PackageTable &wst = T("Workstation");
    const QString w = wst.at(wst.rows[0], "WstGID").toString();
    const QSet<QString> users = T("Operator").values("UserGID");
    for (size_t i = 0; i < 11; ++i) {
        const QString &name = demo::PackageTableNames()[i];
        QCOMPARE(t[name].values("WstGID"), QSet<QString>{w});
        QVERIFY2(users.contains(t[name].values("UserGID")), qPrintable(name));
    }

    // Central references and what is new to the centre.
    TAliasStore aliases(QDir(folder).absoluteFilePath(StrConst::AliasFileName));
    auto db = openAlias(aliases, demo::CenterAlias, pg);
    QVERIFY(values(*db, QStringLiteral("SELECT DTPGID FROM DOCTYPE"))
                .contains(T("Document").values("DtpGID")));
    QVERIFY(values(*db, QStringLiteral("SELECT DIAGGID FROM DIAGNOSIS"))
                .contains(T("MapDiag").values("DiagGID")));
    const QSet<QString> centralSoato = values(*db, QStringLiteral("SELECT CITYSOATO FROM CITY"));
    QVERIFY(T("City").values("CitySoato").intersects(centralSoato));
    QSet<QString> newSoato;
    int fresh = 0;
    for (const paradox::Row &row : T("City").rows)
        if (const QString soato = T("City").at(row, "CitySoato").toString();
            !centralSoato.contains(soato) && ++fresh)
            newSoato.insert(soato);
    QVERIFY(fresh > 0);
    QVERIFY2(int(newSoato.size()) < fresh, "two new settlements share a SOATO code");

    const PackageTable &hospital = T("Hospital");
    const QString hsp = hospital.at(hospital.rows[0], "HspGID").toString();
    QCOMPARE(wst.at(wst.rows[0], "HspGID").toString(), hsp);
    QCOMPARE(T("RegistrationArea").values("HspGID"), QSet<QString>{hsp});
    QCOMPARE(T("HospType").values("HtpGID"), hospital.values("HtpGID"));
    QCOMPARE(T("Region").values("RegGID"), hospital.values("RegGID"));
    QCOMPARE(values(*db, QStringLiteral("SELECT WSTGID FROM WORKSTATION")).contains(w),
             !newWorkstation);
    QCOMPARE(values(*db, QStringLiteral("SELECT HSPGID FROM HOSPITAL")).contains(hsp),
             !newWorkstation);
    if (newWorkstation) {
        const PackageTable &brigade = T("Brigade");
        QCOMPARE(int(brigade.rows.size()), 1);
        QCOMPARE(brigade.schema.fields[2].name, QStringLiteral("CityGID"));
        QCOMPARE(wst.values("BrgGID"), brigade.values("BrgGID"));
        QVERIFY(!values(*db, QStringLiteral("SELECT BRGGID FROM BRIGADE"))
                     .intersects(brigade.values("BrgGID")));
        QVERIFY(!values(*db, QStringLiteral("SELECT REGGID FROM REGION"))
                     .intersects(hospital.values("RegGID")));
        QVERIFY(!values(*db, QStringLiteral("SELECT HTPGID FROM HOSPTYPE"))
                     .intersects(hospital.values("HtpGID")));
        QCOMPARE(hospital.at(hospital.rows[0], "OFFICE"), QVariant(true));
        QVERIFY(!hospital.at(hospital.rows[0], "BGDATE").isNull());
    } else {
        QCOMPARE(users,
                 values(*db, QStringLiteral("SELECT USERGID FROM OPERATOR WHERE WSTGID = ") + w));
    }
}

void TestDemo::counts_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("hospitals");
    QTest::addColumn<int>("diagnoses");
    QTest::newRow("0.05") << 0.05 << 100 << 150;
    QTest::newRow("0.1") << 0.1 << 200 << 300;
    QTest::newRow("1") << 1.0 << 2000 << 3000;
    QTest::newRow("tiny scale keeps a usable minimum") << 0.0001 << 12 << 20;
}

void TestDemo::counts()
{
    QFETCH(double, scale);
    QFETCH(int, hospitals);
    QFETCH(int, diagnoses);
    const demo::DemoData data = demo::BuildDemoData(scale, 1);
    QCOMPARE(int(data.Central(QStringLiteral("HOSPITAL"))->rows.size()), hospitals);
    QCOMPARE(int(data.Central(QStringLiteral("DIAGNOSIS"))->rows.size()), diagnoses);
    QVERIFY(data.hospitalWst > 0);
    QVERIFY(data.brigadeWst > 0);
    // Every row has as many values as its table has columns.
    for (const auto *tables : {&data.central, &data.esvs})
        for (const demo::TableRows &t : *tables)
            for (const QVariantList &row : t.rows)
                QVERIFY2(row.size() == t.columns.size(), qPrintable(t.name));
}

void TestDemo::sameSeedSameData()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList dumps[3];
    const quint64 seeds[3] = {5, 5, 6};
    for (int i = 0; i < 3; ++i) {
        demo::Options options;
        options.folder = dir.filePath(QString::number(i));
        options.scale = SmallScale;
        options.seed = seeds[i];
        CREATE_INSTALLATION(summary, options);
        TAliasStore aliases(QDir(options.folder).absoluteFilePath(StrConst::AliasFileName));
        auto center = openAlias(aliases, demo::CenterAlias);
        auto esvs = openAlias(aliases, demo::EsvsAlias);
        dumps[i] = dump(*center, centralTables) + dump(*esvs, esvsTables);
    }
    QVERIFY(dumps[0].size() > 300);
    QCOMPARE(dumps[1], dumps[0]);
    QVERIFY(dumps[2] != dumps[0]);
}

void TestDemo::refusesToOverwrite_data()
{
    // What an earlier installation may have left: each is enough to refuse.
    QTest::addColumn<QString>("what");
    QTest::newRow("configuration file") << QStringLiteral("ini");
    QTest::newRow("central database file") << QStringLiteral("central");
    QTest::newRow("alias file") << QStringLiteral("aliases");
}

void TestDemo::refusesToOverwrite()
{
    QFETCH(QString, what);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("prog"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/data")));
    const QDir d(folder);
    if (what == QStringLiteral("ini")) {
        TIniFile(d.absoluteFilePath(QStringLiteral("zoru-admin.ini")))
            .WriteString(StrConst::SettingsSection, StrConst::SrvDBKey, QStringLiteral("OTHER"));
    } else if (what == QStringLiteral("central")) {
        testsupport::writeFile(d.absoluteFilePath(QStringLiteral("data/central.db")), "keep me");
    } else {
        TAliasStore store(d.absoluteFilePath(StrConst::AliasFileName));
        store.AddAlias(demo::CenterAlias, QStringLiteral("SQLITE"),
                       {QStringLiteral("DATABASE NAME=/nowhere.db")});
        store.SaveConfigFile();
    }
    const QStringList before = d.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QByteArray hashes;
    for (const QString &f : before)
        if (QFileInfo(d.absoluteFilePath(f)).isFile())
            hashes += fileHash(d.absoluteFilePath(f));

    const Run r = runDemo(
        {QStringLiteral("--folder"), folder, QStringLiteral("--scale"), QStringLiteral("0.01")});
    QCOMPARE(r.code, 3);
    QVERIFY2(r.err.contains(QStringLiteral("уже существует")) &&
                 r.err.contains(QStringLiteral("--force")),
             qPrintable(r.err));
    QCOMPARE(d.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QByteArray after;
    for (const QString &f : before)
        if (QFileInfo(d.absoluteFilePath(f)).isFile())
            after += fileHash(d.absoluteFilePath(f));
    QCOMPARE(after, hashes);
    QVERIFY(!QFileInfo::exists(d.absoluteFilePath(QStringLiteral("data/esvs.db"))));
}

void TestDemo::forceReplacesSqliteInstallation()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("prog"));
    const QStringList args = {QStringLiteral("--folder"), folder,
                              QStringLiteral("--scale"),  QStringLiteral("0.01"),
                              QStringLiteral("--seed"),   QStringLiteral("3")};
    Run r = runDemo(args);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(r.out.contains(QStringLiteral("WSTGID")));
    const QString db = QDir(folder).absoluteFilePath(QStringLiteral("data/central.db"));
    const QByteArray first = fileHash(db);
    // Window placement written by the program in between survives a forced run.
    TIniFile(QDir(folder).absoluteFilePath(QStringLiteral("zoru-admin.ini")))
        .WriteInteger(QStringLiteral("1024x768"), QStringLiteral("SrvMainForm_width"), 800);

    r = runDemo(args);
    QCOMPARE(r.code, 3);
    QCOMPARE(fileHash(db), first);

    r = runDemo(QStringList(args) << QStringLiteral("--force") << QStringLiteral("--seed")
                                  << QStringLiteral("4"));
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(fileHash(db) != first);
    const TIniFile ini(QDir(folder).absoluteFilePath(QStringLiteral("zoru-admin.ini")));
    QCOMPARE(ini.ReadInteger(QStringLiteral("1024x768"), QStringLiteral("SrvMainForm_width"), 0),
             800);
    QCOMPARE(ini.ReadSection(StrConst::SrvToWstSection).size(), 10);
    QVERIFY(QDir(folder + QStringLiteral("/data")).entryList({QStringLiteral("*.new")}).isEmpty());
}

void TestDemo::postgresRefusesAndForces()
{
    ZORU_REQUIRE_PG_OR_SKIP(server);
    const QString name = testsupport::createPgDatabase(server, QStringLiteral("demoforce"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    demo::Options options;
    options.folder = dir.filePath(QStringLiteral("one"));
    options.scale = 0.01;
    options.postgres = demo::PgTarget{server.host, server.port, name, server.user, server.password};
    demo::CreateInstallation(options);

    // Another folder, the same server database: refused without --force.
    options.folder = dir.filePath(QStringLiteral("two"));
    QVERIFY_THROWS_EXCEPTION(demo::EInstallationExists, demo::CreateInstallation(options));
    QVERIFY(!QFileInfo::exists(QDir(options.folder).absoluteFilePath(StrConst::AliasFileName)));

    options.force = true;
    options.scale = 0.02;
    CREATE_INSTALLATION(s, options);
    QCOMPARE(s.centralCounts[4].first, QStringLiteral("HOSPITAL"));
    TAliasStore aliases(QDir(options.folder).absoluteFilePath(StrConst::AliasFileName));
    auto center = openAlias(aliases, demo::CenterAlias, server);
    QCOMPARE(count(*center, QStringLiteral("SELECT COUNT(*) FROM HOSPITAL")),
             s.centralCounts[4].second);
    // The database assigns identifiers after the generated ones.
    QSqlQuery q(center->Sql());
    QVERIFY(
        q.exec(QStringLiteral("INSERT INTO BRIGADE (BRGNAME) VALUES ('Новая') RETURNING BRGGID")));
    QVERIFY(q.next());
    QVERIFY(q.value(0).toInt() >
            count(*center, QStringLiteral("SELECT COUNT(*) FROM BRIGADE")) - 1);
    center->Close();
    testsupport::dropPgDatabase(server, name);
    testsupport::dropPgDatabase(server, name + QStringLiteral("_esvs"));
}

void TestDemo::badCommandLine_data()
{
    QTest::addColumn<QStringList>("args");
    const QString f = QStringLiteral("--folder");
    const QString x = QStringLiteral("/tmp/zoru-demo-never-made");
    QTest::newRow("no folder") << QStringList{};
    QTest::newRow("zero scale") << QStringList{f, x, QStringLiteral("--scale"),
                                               QStringLiteral("0")};
    QTest::newRow("negative scale")
        << QStringList{f, x, QStringLiteral("--scale"), QStringLiteral("-1")};
    QTest::newRow("scale not a number")
        << QStringList{f, x, QStringLiteral("--scale"), QStringLiteral("много")};
    QTest::newRow("seed not a number")
        << QStringList{f, x, QStringLiteral("--seed"), QStringLiteral("x1")};
    QTest::newRow("server without port") << QStringList{f,
                                                        x,
                                                        QStringLiteral("--postgres"),
                                                        QStringLiteral("localhost:zoru"),
                                                        QStringLiteral("--user"),
                                                        QStringLiteral("u")};
    QTest::newRow("server without user")
        << QStringList{f, x, QStringLiteral("--postgres"), QStringLiteral("localhost:5432:zoru")};
    QTest::newRow("user without server")
        << QStringList{f, x, QStringLiteral("--user"), QStringLiteral("u")};
    QTest::newRow("moment not a date")
        << QStringList{f, x, QStringLiteral("--now"), QStringLiteral("2026-13-45T10:00:00")};
    QTest::newRow("stray argument") << QStringList{f, x, QStringLiteral("extra")};
}

void TestDemo::badCommandLine()
{
    QFETCH(QStringList, args);
    const Run r = runDemo(args);
    QCOMPARE(r.code, 2);
    QVERIFY(!r.err.isEmpty());
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/zoru-demo-never-made")));
}

void TestDemo::failureLeavesNoFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A file where the folder should be.
    const QString file = dir.filePath(QStringLiteral("not-a-folder"));
    testsupport::writeFile(file, "x");
    Run r = runDemo({QStringLiteral("--folder"), file});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("не является папкой")), qPrintable(r.err));

    // A server that is not there: nothing of the installation appears in the folder.
    const QString folder = dir.filePath(QStringLiteral("prog"));
    r = runDemo({QStringLiteral("--folder"), folder, QStringLiteral("--postgres"),
                 QStringLiteral("127.0.0.1:1:nothing"), QStringLiteral("--user"),
                 QStringLiteral("u"), QStringLiteral("--password"), QStringLiteral("p")});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.startsWith(QStringLiteral("Не удалось создать демонстрационную установку")),
             qPrintable(r.err));
    QVERIFY(demo::ExistingInstallation(folder).isEmpty());
    QVERIFY(!QFileInfo::exists(QDir(folder).absoluteFilePath(QStringLiteral("data"))));
}

// Installed beside zoru-admin, it speaks Russian in its help, Qt's own words too.
void TestDemo::helpInRussian()
{
    const Run r = runDemo({QStringLiteral("--help")});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.contains(QStringLiteral("Использование: ")) && !r.out.contains(u"Options:"),
             qPrintable(r.out));
}

QTEST_GUILESS_MAIN(TestDemo)
#include "test_demo.moc"
