#include "core/aliases.h"
#include "core/errors.h"
#include "engine/database.h"
#include "engine/sqlscript.h"
#include "schema/schema.h"
#include "testsupport.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>
#include <map>
#include <memory>

namespace {

// What the central tables must look like: columns in order (all of them for the tables that
// rows are inserted into by position, the leading ones for the rest), the identifier that the
// database assigns, and the required columns with their kind (I whole number, F fraction,
// T text, D date-time).
struct TableLayout
{
    const char *name;
    bool exact;
    const char *gid;
    const char *columns;
    const char *required;
};

const TableLayout kCentral[] = {
    {"WORKSTATION", true, "WSTGID", "WSTGID WSTNAME WSTRPLDATE HSPGID BRGGID",
     "WSTGID:I WSTNAME:T"},
    {"OPERATOR", true, "USERGID", "WSTGID USERGID USERNAME USERHASH USERLEVEL",
     "WSTGID:I USERGID:I USERNAME:T USERHASH:T USERLEVEL:I"},
    {"BRIGADE", true, "BRGGID", "BRGGID BRGNAME CITYGID", "BRGGID:I"},
    {"BRIGHSP", false, nullptr, "HSPGID BRGGID", "HSPGID:I BRGGID:I"},
    {"REGION", true, "REGGID", "REGGID REGNAME REGOKATO", "REGGID:I REGNAME:T REGOKATO:T"},
    {"HOSPTYPE", true, "HTPGID", "HTPGID IDTMU TMU CODTMU BGDATE BGREASON CLDATE CLREASON CRDATE",
     "HTPGID:I IDTMU:I"},
    {"HOSPITAL", true, "HSPGID",
     "HSPGID IDMU MU MUFL CODMU IDTMU OFFICE SURNAMER NAME_R SECNAMER RSECNAME "
     "IDPOST PHONE_R CNTPHONE FAX FAXREG EMAIL EMSIZE IDADRES MAILCODE MAILADR "
     "HOUSE HOUSELIT CORPUS OMS BGDATE BGREASON CLDATE CLREASON CRDATE HTPGID "
     "REGGID",
     "HSPGID:I IDMU:I MU:T"},
    {"DIAGNOSIS", false, "DIAGGID", "DIAGGID DIAGNAME DIAGESVSID", "DIAGGID:I"},
    {"DOCTYPE", false, "DTPGID", "DTPGID DTPNAME", "DTPGID:I"},
    {"MEDPREPARAT", false, "MPRGID",
     "MPRGID MPRCODE MPRNAME1 MPRNAME2 MPRDOSE MPRNUMBER MPRDOSEDAY MPGGID", "MPRGID:I"},
    {"MEDPREPGROUP", false, "MPGGID", "MPGGID MPGNAME MPGCODE MPGPNTGID", "MPGGID:I"},
    {"CITY", false, "CITYGID", "CITYGID CITYNAME CITYSOATO CITYOKATO REGGID",
     "CITYGID:I CITYNAME:T CITYSOATO:T"},
    {"STREET", false, "STRGID", "STRGID STRNAME CITYGID", "STRGID:I STRNAME:T"},
    {"POST", false, "POSGID", "POSGID POSNAME", "POSGID:I POSNAME:T"},
    {"REGISTRATIONAREA", false, "AREAGID", "AREAGID AREACODE HSPGID",
     "AREAGID:I AREACODE:T HSPGID:I"},
    {"AUXCITY", false, nullptr, "CITYLID WSTGID CITYGID", "CITYLID:I WSTGID:I CITYGID:I"},
    {"AUXSTREET", false, nullptr, "STRLID WSTGID STRGID", "STRLID:I WSTGID:I STRGID:I"},
    {"AUXPOST", false, nullptr, "POSLID WSTGID POSGID", "POSLID:I WSTGID:I POSGID:I"},
    {"AUXREGISTRATIONAREA", false, nullptr, "AREALID WSTGID AREAGID",
     "AREALID:I WSTGID:I AREAGID:I"},
    {"ADDRESS", false, "ADRGID",
     "ADRGID ADRLID ADRHOUSNUM ADRROOMNUM CITYGID STRGID CRDATE LASTUPDATE "
     "USERGID WSTGID",
     "ADRGID:I ADRLID:I CRDATE:D LASTUPDATE:D USERGID:I WSTGID:I"},
    {"PERSON", false, "PRNGID",
     "PRNGID PRNLID PRNSURNAME PRNNAME PRNOTCH PRNSEX PRNDATE PRNMDNNAME "
     "PRNPHONE AREAGID POSGID ADRGID PRNREFGID CRDATE LASTUPDATE WSTGID USERGID",
     "PRNGID:I PRNLID:I PRNSURNAME:T CRDATE:D LASTUPDATE:D WSTGID:I USERGID:I"},
    {"DOCUMENT", false, "DOCGID",
     "DOCGID DOCLID DOCDATE DOCNUMBER DTPGID PRNGID CRDATE LASTUPDATE WSTGID "
     "USERGID",
     "DOCGID:I DOCLID:I DOCDATE:D DTPGID:I PRNGID:I CRDATE:D LASTUPDATE:D "
     "WSTGID:I USERGID:I"},
    {"PRIMARYINSPECTION", false, nullptr,
     "DOCGID DOCLID PINNUMBER PININSCODE PININSDATE OBJCAD OBJDAD OBJCIRCTH "
     "OBJCIRCWST OBJGROWTH OBJMASS INDEXKETLE CMPHEADACH CMPGIDDINE CMPNOISE "
     "CMPLOWERIN CMPFATIG CMPDIFFIC CMPIRRITAB CMPURINC CMPURSTRAN CMPURNIGHT "
     "CMPURCOLOR CMPBRFAST CMPBRSLOW PINPREPAD HYPFATHER HYPMOTHER INFFATHER "
     "INFMOTHER INSFATHER INSMOTHER DIABETFATHER DIABETMOTHER SMOKING SPIRITS "
     "ALSURALBUM ALSURLEUCS ALSURRED ALSBLHB ALSBLCOE ALSBLRED ALSBLCHOL "
     "ALSBLGLUK EKGHEMCHNG EKGDEPRST EKGNEGT EYEANGGIP EYEANGATER DISPANSER "
     "MPRGID1 MPRDOSE1 MPRFREQ1 MPRGID2 MPRDOSE2 MPRFREQ2 CRDATE LASTUPDATE "
     "WSTGID USERGID",
     "DOCGID:I DOCLID:I CRDATE:D LASTUPDATE:D WSTGID:I USERGID:I"},
    {"SCRININGCARD", false, nullptr,
     "DOCGID DOCLID CARDNUMBER CARDCODE CARDSEC CARDDATE HYPER HYPERDATE ADHI "
     "ADHIDATE STENOKARDIA STENOKARDIADATE INFARCT INFARCTDATE INSULT "
     "INSULTDATE DIABET DIABETDATE PIELONEFRIT PIELONEFRITDATE POCHKI "
     "POCHKIDATE POCHKIBEREM POCHKIBEREMDATE MOCHEKAMBOLEZ MOCHEKAMBOLEZDATE "
     "POCHKISOL POCHKISOLDATE YAZVA YAZVADATE GEPATIT GEPATITDATE PREPARAT "
     "PREP1GID PREP1DOSE PREP1DAY PREP1DAYBACK PREP2GID PREP2DOSE PREP2DAY "
     "PREP2DAYBACK MOTHERHYPER MOTHERADHI MOTHERSTENOKARDIA MOTHERINFARKT "
     "MOTHERINSULT MOTHERDIABET MOTHERTUBER MOTHERPOCHKI FATHERHYPER FATHERADHI "
     "FATHERSTENOKARDIA FATHERINFARKT FATHERINSULT FATHERDIABET FATHERTUBER "
     "FATHERPOCHKI ALKBEER ALKBEERCOUNT ALKBEERFREQ ALKWINE ALKWINECOUNT "
     "ALKWINEFREQ ALKVODKA ALKVODKACOUNT ALKVODKAFREQ SMOKING SMOKINGBROSILLET "
     "SMOKINGSIGARCOUNT KASHEL MOKROTAORVI MOKROTALET ROUS11 ROUS12 ROUS21 "
     "ROUS22 ROUS3 ROUS4 ROUS5 ROUS6 ROUS7 ROUS7WHERE ROUS8 ROUS8WHERE ROUS9LET "
     "GOLOVABOLMORNING GOLOVABOLDAY GOLOVABOLEVENING GOLOVOKRUGENIE GOLOVASHUM "
     "MEMLOW UTOMLAEMOSTHI RABOTATRUDNO RAZDRAJHI URCHASTO URREZI URNIGHT "
     "URCOLORIZM OTDYSHKABYSTRO OTDYSHKASPOKOYNO FAMILYSTATUS POSTGID POSTDATE "
     "ROST MASSA KONSTITUTCIA JIR SIZEGRUD SIZETALIA SIZEBEDRA AD1HI AD1LOW "
     "AD2HI AD2LOW ADSREDHI ADSREDLOW PULS PULSTYPE PASTERNAKRIGHT "
     "PASTERNAKLEFT BLOODGLUK HOLEST HOLESTLPVP TRIGLICERIDY GEMOGLOBIN "
     "ERITROCITY COE DISPANSER CRDATE LASTUPDATE USERGID WSTGID",
     "DOCGID:I DOCLID:I CRDATE:D LASTUPDATE:D USERGID:I WSTGID:I"},
    {"PRIMDIAG", false, nullptr, "DOCGID DIAGGID DIAGTYPE CRDATE LASTUPDATE WSTGID USERGID", ""},
    {"MAPDIAG", false, nullptr, "DOCGID DIAGGID DIAGTYPE CRDATE LASTUPDATE WSTGID USERGID", ""},
    {"IMPORTJOURNAL", true, "RUNGID",
     "RUNGID PKGNAME PKGSIZE PKGSHA256 PKGLABEL WSTGID CENTRALUSER OSUSER STARTTIME ENDTIME "
     "RESULT ERRORTEXT",
     "RUNGID:I PKGNAME:T STARTTIME:D RESULT:T"},
    {"IMPORTJOURNALTABLE", true, nullptr,
     "RUNGID STEPNO TABLENAME NEWROWS EDITEDROWS NEWMAPPINGS REGISTRATIONS",
     "RUNGID:I STEPNO:I TABLENAME:T NEWROWS:I EDITEDROWS:I NEWMAPPINGS:I REGISTRATIONS:I"},
    {"IMPORTJOURNALREFUSED", true, nullptr, "RUNGID ROWNO TABLENAME LOCALID WSTGID MESSAGE",
     "RUNGID:I ROWNO:I TABLENAME:T"},
    {"EXPORTJOURNAL", true, "RUNGID",
     "RUNGID WSTGID PKGNAME PKGSIZE PKGLABEL CENTRALUSER OSUSER STARTTIME ENDTIME RESULT "
     "ERRORTEXT",
     "RUNGID:I WSTGID:I STARTTIME:D RESULT:T"},
};

const TableLayout &layoutOf(const QString &table)
{
    for (const TableLayout &t : kCentral)
        if (table == QLatin1String(t.name))
            return t;
    qFatal("no table %s", qPrintable(table));
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Required columns as name -> kind.
QList<QPair<QString, QChar>> requiredColumns(const TableLayout &t)
{
    QList<QPair<QString, QChar>> out;
    for (const QString &w : words(t.required))
        out.append({w.section(QLatin1Char(':'), 0, 0), w.section(QLatin1Char(':'), 1).at(0)});
    return out;
}

// A value of the given kind, distinct for every n (so that unique keys do not get in the way).
QVariant sample(QChar kind, int n)
{
    switch (kind.toLatin1()) {
    case 'I':
        return n;
    case 'F':
        return n + 0.25;
    case 'D':
        return QDateTime(QDate(2024, 1, 1), QTime(10, 30)).addDays(n);
    default:
        return QStringLiteral("Т%1").arg(n);
    }
}

// A database made for one test: an SQLite file in a temporary folder or a fresh PostgreSQL
// database, reached through an alias like the program reaches its databases.
struct TestDb
{
    QTemporaryDir dir;
    TAliasStore aliases;
    std::unique_ptr<TDatabase> db;
    std::optional<testsupport::PgServer> pg;
    QString pgName;

    ~TestDb()
    {
        db.reset();
        if (pg)
            testsupport::dropPgDatabase(*pg, pgName);
    }
};

// Null when the backend is PostgreSQL and no server is configured.
std::unique_ptr<TestDb> makeDb(const QString &backend, bool withSchema, SchemaKind kind)
{
    auto t = std::make_unique<TestDb>();
    t->aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    if (backend == QLatin1String("sqlite")) {
        const QString file = t->dir.filePath(QStringLiteral("база.db"));
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot create %s", qPrintable(file));
        f.close();
        t->aliases.AddAlias(QStringLiteral("TESTDB"), QStringLiteral("SQLITE"),
                            {QStringLiteral("DATABASE NAME=") + file});
    } else {
        t->pg = testsupport::pgServer();
        if (!t->pg)
            return nullptr;
        t->pgName = testsupport::createPgDatabase(*t->pg, QStringLiteral("zoru_schema"));
        t->aliases.AddAlias(QStringLiteral("TESTDB"), QStringLiteral("POSTGRESQL"),
                            {QStringLiteral("SERVER NAME=") + t->pg->host,
                             QStringLiteral("PORT=") + QString::number(t->pg->port),
                             QStringLiteral("DATABASE NAME=") + t->pgName});
    }
    t->db = std::make_unique<TDatabase>(QStringLiteral("KZCenter"), &t->aliases);
    t->db->AliasName = QStringLiteral("TESTDB");
    t->db->LoginPrompt = false;
    if (t->pg)
        t->db->Params << QStringLiteral("USER NAME=") + t->pg->user
                      << QStringLiteral("PASSWORD=") + t->pg->password;
    t->db->Open();
    if (withSchema)
        CreateSchema(*t->db, kind);
    return t;
}

// Columns of a table as the driver reports them; PostgreSQL keeps unquoted names in lower
// case and looks the table up by its stored name.
QSqlRecord tableRecord(TDatabase &db, const QString &table)
{
    return db.Sql().record(db.Driver() == QLatin1String("POSTGRESQL") ? table.toLower() : table);
}

QSqlQuery run(TDatabase &db, const QString &sql, const QVariantList &values = {})
{
    QSqlQuery q(db.Sql());
    if (!q.prepare(sql))
        throw EDBEngineError(engineMessage(q.lastError()), sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        throw EDBEngineError(engineMessage(q.lastError()), sql);
    return q;
}

// Inserts by name: only the given columns.
void insertNamed(TDatabase &db, const QString &table, const QList<QPair<QString, QVariant>> &row)
{
    if (row.isEmpty()) {
        run(db, QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table));
        return;
    }
    QStringList names, marks;
    QVariantList values;
    for (const auto &[name, value] : row) {
        names << name;
        marks << QStringLiteral("?");
        values << value;
    }
    run(db,
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(table, names.join(QLatin1String(", ")), marks.join(QLatin1String(", "))),
        values);
}

// Inserts by position, every column of the table given (Null where the row names none), as the
// registration of new workstations does.
void insertPositional(TDatabase &db, const QString &table,
                      const QList<QPair<QString, QVariant>> &row)
{
    const QSqlRecord rec = tableRecord(db, table);
    QStringList marks;
    QVariantList values;
    for (int i = 0; i < rec.count(); ++i) {
        QVariant value;
        for (const auto &[name, v] : row)
            if (name.compare(rec.fieldName(i), Qt::CaseInsensitive) == 0)
                value = v;
        values << value;
        marks << QStringLiteral("?");
    }
    run(db,
        QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(table, marks.join(QLatin1String(", "))),
        values);
}

// A row with every required column filled (the identifier too, unless it is left out).
QList<QPair<QString, QVariant>> requiredRow(const TableLayout &t, int &counter,
                                            const QString &skip = {})
{
    QList<QPair<QString, QVariant>> row;
    for (const auto &[name, kind] : requiredColumns(t)) {
        ++counter;
        if (name != skip)
            row.append({name, sample(kind, counter)});
    }
    return row;
}

QSet<qlonglong> identifiers(TDatabase &db, const QString &table, const QString &column)
{
    QSqlQuery q = run(db, QStringLiteral("SELECT %1 FROM %2").arg(column, table));
    QSet<qlonglong> ids;
    while (q.next()) {
        if (q.value(0).isNull())
            ids.insert(-1);
        else
            ids.insert(q.value(0).toLongLong());
    }
    return ids;
}

// The single identifier that appeared since `before`.
qlonglong newIdentifier(TDatabase &db, const QString &table, const QString &column,
                        QSet<qlonglong> &before)
{
    const QSet<qlonglong> after = identifiers(db, table, column);
    QSet<qlonglong> added = after;
    added.subtract(before);
    before = after;
    if (added.size() != 1)
        return -2;
    return *added.begin();
}

// Rolls back whatever a test row changed, so that rows sharing one database stay independent.
struct RowTransaction
{
    explicit RowTransaction(TDatabase &db) : db(db) { db.StartTransaction(); }
    ~RowTransaction()
    {
        if (db.InTransaction())
            db.Rollback();
    }
    TDatabase &db;
};

bool fails(const std::function<void()> &f)
{
    try {
        f();
    } catch (const EDBEngineError &) {
        return true;
    }
    return false;
}

const QStringList kBackends = {QStringLiteral("sqlite"), QStringLiteral("postgresql")};

} // namespace

class TestSchema : public QObject
{
    Q_OBJECT

    // One database per test function and backend, shared by its data rows.
    std::map<QString, std::unique_ptr<TestDb>> m_dbs;
    QString m_function;

    TDatabase *database(const QString &backend, SchemaKind kind = SchemaKind::Central,
                        bool withSchema = true)
    {
        const QString key = backend + QString::number(int(kind)) + QString::number(withSchema);
        auto it = m_dbs.find(key);
        if (it == m_dbs.end()) {
            std::unique_ptr<TestDb> t = makeDb(backend, withSchema, kind);
            if (!t)
                return nullptr;
            it = m_dbs.emplace(key, std::move(t)).first;
        }
        return it->second->db.get();
    }

#define ZORU_DB(var, backend, ...)                                                                 \
    TDatabase *var##Ptr = database(backend, ##__VA_ARGS__);                                        \
    if (!var##Ptr) {                                                                               \
        if (testsupport::pgRequired())                                                             \
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");                \
        QSKIP("no PostgreSQL server configured (ZORU_TEST_PGHOST)");                               \
    }                                                                                              \
    TDatabase &var = *var##Ptr

    static void addTableRows(bool (*pick)(const TableLayout &))
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("table");
        for (const QString &backend : kBackends)
            for (const TableLayout &t : kCentral)
                if (pick(t))
                    QTest::newRow(qPrintable(backend + QLatin1Char('/') + QLatin1String(t.name)))
                        << backend << QString::fromLatin1(t.name);
    }

    // Lets a test fail with the engine's message instead of ending the whole run.
    template <typename Body> void guarded(Body body)
    {
        try {
            body();
        } catch (const Exception &e) {
            QFAIL(qPrintable(e.Message()));
        }
    }

private Q_SLOTS:
    void init()
    {
        if (m_function != QLatin1String(QTest::currentTestFunction())) {
            m_dbs.clear();
            m_function = QString::fromLatin1(QTest::currentTestFunction());
        }
    }
    void cleanupTestCase()
    {
        m_dbs.clear();
    }

    void columnsInOrder_data()
    {
        addTableRows([](const TableLayout &) { return true; });
    }
    void columnsInOrder()
    {
        guarded([&] {
            QFETCH(QString, backend);
            QFETCH(QString, table);
            ZORU_DB(db, backend);
            const TableLayout &t = layoutOf(table);
            const QSqlRecord rec = tableRecord(db, table);
            QStringList actual;
            for (int i = 0; i < rec.count(); ++i)
                actual << rec.fieldName(i).toUpper();
            const QStringList expected = words(t.columns);
            if (t.exact)
                QCOMPARE(actual, expected);
            else
                QCOMPARE(actual.mid(0, expected.size()), expected);
        });
    }

    void allTablesPresent_data()
    {
        QTest::addColumn<QString>("backend");
        for (const QString &backend : kBackends)
            QTest::newRow(qPrintable(backend)) << backend;
    }
    void allTablesPresent()
    {
        guarded([&] {
            QFETCH(QString, backend);
            ZORU_DB(db, backend);
            QStringList tables;
            for (const QString &name : db.Sql().tables())
                if (!name.startsWith(QLatin1String("sqlite_")))
                    tables << name.toUpper();
            QStringList expected;
            for (const TableLayout &t : kCentral)
                expected << QString::fromLatin1(t.name);
            // A server describes who holds the import lock in a table; SQLite in the lock file.
            if (db.IsServer())
                expected << QStringLiteral("IMPORTLOCK");
            tables.sort();
            expected.sort();
            QCOMPARE(tables, expected);
        });
    }

    void requiredColumnRefusesNull_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("column");
        for (const QString &backend : kBackends)
            for (const TableLayout &t : kCentral)
                for (const auto &[name, kind] : requiredColumns(t)) {
                    if (t.gid && name == QLatin1String(t.gid))
                        continue; // assigned by the database instead
                    QTest::newRow(qPrintable(backend + QLatin1Char('/') + QLatin1String(t.name) +
                                             QLatin1Char('.') + name))
                        << backend << QString::fromLatin1(t.name) << name;
                }
    }
    void requiredColumnRefusesNull()
    {
        guarded([&] {
            QFETCH(QString, backend);
            QFETCH(QString, table);
            QFETCH(QString, column);
            ZORU_DB(db, backend);
            RowTransaction tx(db);
            int counter = 0;
            const TableLayout &t = layoutOf(table);
            // The complete row goes in, so the refusal below is down to the one missing column.
            insertNamed(db, table, requiredRow(t, counter));
            auto row = requiredRow(t, counter);
            for (auto &[name, value] : row)
                if (name == column)
                    value = QVariant();
            QVERIFY(fails([&] { insertNamed(db, table, row); }));
        });
    }

    void operatorNameUniquePerWorkstation_data()
    {
        allTablesPresent_data();
    }
    void operatorNameUniquePerWorkstation()
    {
        guarded([&] {
            QFETCH(QString, backend);
            ZORU_DB(db, backend);
            RowTransaction tx(db);
            const QString insert = QStringLiteral("INSERT INTO OPERATOR VALUES (?, ?, ?, ?, ?)");
            run(db, insert, {1, 1, QStringLiteral("ИВАНОВ"), QStringLiteral("0"), 0});
            run(db, insert, {2, 1, QStringLiteral("ИВАНОВ"), QStringLiteral("0"), 0});
            run(db, insert, {1, 2, QStringLiteral("ПЕТРОВ"), QStringLiteral("0"), 1});
            QString message;
            try {
                run(db, insert, {1, 3, QStringLiteral("ИВАНОВ"), QStringLiteral("0"), 0});
            } catch (const EDBEngineError &e) {
                message = e.Message();
            }
            QVERIFY(!message.isEmpty());
            QVERIFY2(message.contains(QLatin1String("UNI_OPERATOR"), Qt::CaseInsensitive) ||
                         message.contains(QLatin1String("USERNAME"), Qt::CaseInsensitive),
                     qPrintable(message));
        });
    }

    void operatorNeedsName_data()
    {
        allTablesPresent_data();
    }
    void operatorNeedsName()
    {
        guarded([&] {
            // The registration of an operator unknown to the workstation package comes with an
            // empty name; such a row must be refused like a missing one.
            QFETCH(QString, backend);
            ZORU_DB(db, backend);
            RowTransaction tx(db);
            QVERIFY(fails([&] {
                run(db, QStringLiteral("INSERT INTO OPERATOR VALUES (?, ?, ?, ?, ?)"),
                    {7, -1, QString(QLatin1String("")), QString(QLatin1String("")), 0});
            }));
        });
    }

    void primaryKeyUnique_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("key");
        const QList<QPair<QString, QStringList>> keys = {
            {QStringLiteral("ADDRESS"), {QStringLiteral("ADRLID"), QStringLiteral("WSTGID")}},
            {QStringLiteral("PERSON"), {QStringLiteral("PRNLID"), QStringLiteral("WSTGID")}},
            {QStringLiteral("DOCUMENT"), {QStringLiteral("DOCLID"), QStringLiteral("WSTGID")}},
            {QStringLiteral("PRIMARYINSPECTION"),
             {QStringLiteral("DOCLID"), QStringLiteral("WSTGID")}},
            {QStringLiteral("SCRININGCARD"), {QStringLiteral("DOCLID"), QStringLiteral("WSTGID")}},
            {QStringLiteral("AUXCITY"), {QStringLiteral("CITYLID"), QStringLiteral("WSTGID")}},
            {QStringLiteral("AUXSTREET"), {QStringLiteral("STRLID"), QStringLiteral("WSTGID")}},
            {QStringLiteral("AUXPOST"), {QStringLiteral("POSLID"), QStringLiteral("WSTGID")}},
            {QStringLiteral("AUXREGISTRATIONAREA"),
             {QStringLiteral("AREALID"), QStringLiteral("WSTGID")}},
            {QStringLiteral("PRIMDIAG"),
             {QStringLiteral("DOCGID"), QStringLiteral("DIAGGID"), QStringLiteral("DIAGTYPE")}},
            {QStringLiteral("MAPDIAG"),
             {QStringLiteral("DOCGID"), QStringLiteral("DIAGGID"), QStringLiteral("DIAGTYPE")}},
            {QStringLiteral("BRIGHSP"), {QStringLiteral("HSPGID"), QStringLiteral("BRGGID")}},
            {QStringLiteral("WORKSTATION"), {QStringLiteral("WSTNAME")}},
        };
        for (const QString &backend : kBackends)
            for (const auto &[table, key] : keys)
                QTest::newRow(qPrintable(backend + QLatin1Char('/') + table))
                    << backend << table << key;
    }
    void primaryKeyUnique()
    {
        guarded([&] {
            // Two rows that share the key but for its last column are fine; a row repeating the
            // whole key is refused.
            QFETCH(QString, backend);
            QFETCH(QString, table);
            QFETCH(QStringList, key);
            ZORU_DB(db, backend);
            RowTransaction tx(db);
            const TableLayout &t = layoutOf(table);
            int counter = 100;
            const auto rowWith = [&](int last) {
                auto row = requiredRow(t, counter);
                for (int i = 0; i < key.size(); ++i) {
                    const QVariant v = key[i] == QLatin1String("WSTNAME")
                                           ? QVariant(QStringLiteral("СТАНЦИЯ %1").arg(last))
                                           : QVariant(i + 1 == key.size() ? last : 5);
                    bool found = false;
                    for (auto &[name, value] : row)
                        if (name == key[i]) {
                            value = v;
                            found = true;
                        }
                    if (!found)
                        row.append({key[i], v});
                }
                return row;
            };
            insertNamed(db, table, rowWith(1));
            insertNamed(db, table, rowWith(2));
            QVERIFY(fails([&] { insertNamed(db, table, rowWith(1)); }));
        });
    }

    void diagnosisWithoutRecordKept_data()
    {
        allTablesPresent_data();
    }
    void diagnosisWithoutRecordKept()
    {
        guarded([&] {
            // A diagnosis whose inspection has not reached the centre arrives with a Null DOCGID;
            // it is stored, and two of them do not clash.
            QFETCH(QString, backend);
            ZORU_DB(db, backend);
            RowTransaction tx(db);
            const QString insert =
                QStringLiteral("INSERT INTO PRIMDIAG (DOCGID, DIAGGID, DIAGTYPE) VALUES (?, ?, ?)");
            run(db, insert, {QVariant(), 3, 1});
            run(db, insert, {QVariant(), 3, 1});
            QSqlQuery q = run(db, QStringLiteral("SELECT COUNT(*) FROM PRIMDIAG"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 2);
        });
    }

    void identifierAssigned_data()
    {
        addTableRows([](const TableLayout &t) {
            return t.gid != nullptr && QLatin1String(t.name) != QLatin1String("OPERATOR");
        });
    }
    void identifierAssigned()
    {
        guarded([&] {
            QFETCH(QString, backend);
            QFETCH(QString, table);
            ZORU_DB(db, backend);
            const TableLayout &t = layoutOf(table);
            const QString gid = QString::fromLatin1(t.gid);
            int counter = 0;
            QSet<qlonglong> ids = identifiers(db, table, gid);
            QVERIFY(ids.isEmpty());

            // Left out of the column list.
            insertNamed(db, table, requiredRow(t, counter, gid));
            const qlonglong first = newIdentifier(db, table, gid, ids);
            QVERIFY2(first > 0, qPrintable(QString::number(first)));

            // Given as an explicit Null, by name and by position.
            auto row = requiredRow(t, counter, gid);
            row.append({gid, QVariant()});
            insertNamed(db, table, row);
            const qlonglong second = newIdentifier(db, table, gid, ids);
            QVERIFY(second > first);
            row = requiredRow(t, counter, gid);
            row.append({gid, QVariant()});
            insertPositional(db, table, row);
            const qlonglong third = newIdentifier(db, table, gid, ids);
            QVERIFY(third > second);

            // An explicit identifier is kept, and later assigned ones do not run into it.
            const qlonglong explicitId = third + 50;
            row = requiredRow(t, counter, gid);
            row.append({gid, explicitId});
            insertPositional(db, table, row);
            QCOMPARE(newIdentifier(db, table, gid, ids), explicitId);
            insertNamed(db, table, requiredRow(t, counter, gid));
            QVERIFY(newIdentifier(db, table, gid, ids) > explicitId);

            // A lower explicit identifier is kept too and does not move the numbering back.
            row = requiredRow(t, counter, gid);
            row.append({gid, explicitId - 10});
            insertNamed(db, table, row);
            QVERIFY(newIdentifier(db, table, gid, ids) < explicitId);
            insertNamed(db, table, requiredRow(t, counter, gid));
            QVERIFY(newIdentifier(db, table, gid, ids) > explicitId + 1);
        });
    }

    void identifierVisibleRightAfterInsert_data()
    {
        allTablesPresent_data();
    }
    void identifierVisibleRightAfterInsert()
    {
        guarded([&] {
            // The record objects append with Null and read the row back at once, in the same
            // transaction.
            QFETCH(QString, backend);
            ZORU_DB(db, backend);
            RowTransaction tx(db);
            run(db, QStringLiteral("INSERT INTO WORKSTATION VALUES (?, ?, ?, ?, ?)"),
                {QVariant(), QStringLiteral("СТАНЦИЯ ЦРБ"), QVariant(), 4, QVariant()});
            QSqlQuery q =
                run(db, QStringLiteral("SELECT WSTGID FROM WORKSTATION WHERE WSTNAME = ?"),
                    {QStringLiteral("СТАНЦИЯ ЦРБ")});
            QVERIFY(q.next());
            QVERIFY(!q.value(0).isNull());
            QVERIFY(q.value(0).toLongLong() > 0);
        });
    }

    void operatorNumberedWithinWorkstation_data()
    {
        allTablesPresent_data();
    }
    void operatorNumberedWithinWorkstation()
    {
        guarded([&] {
            QFETCH(QString, backend);
            ZORU_DB(db, backend);
            const auto userGid = [&](int wst, const QString &name) {
                QSqlQuery q =
                    run(db,
                        QStringLiteral(
                            "SELECT USERGID FROM OPERATOR WHERE WSTGID = ? AND USERNAME = ?"),
                        {wst, name});
                return q.next() ? q.value(0).toLongLong() : -1;
            };
            const QString byName = QStringLiteral("INSERT INTO OPERATOR (WSTGID, USERNAME, "
                                                  "USERHASH, USERLEVEL) VALUES (?, ?, '0', 0)");
            const QString byPosition =
                QStringLiteral("INSERT INTO OPERATOR VALUES (?, ?, ?, '0', 0)");
            run(db, byName, {1, QStringLiteral("А")});
            run(db, byPosition, {1, QVariant(), QStringLiteral("Б")});
            run(db, byPosition, {2, QVariant(), QStringLiteral("А")});
            QCOMPARE(userGid(1, QStringLiteral("А")), 1);
            QCOMPARE(userGid(1, QStringLiteral("Б")), 2);
            QCOMPARE(userGid(2, QStringLiteral("А")), 1);
            // Operators registered from a workstation keep their numbers.
            run(db, byPosition, {1, 10, QStringLiteral("В")});
            run(db, byPosition, {1, QVariant(), QStringLiteral("Г")});
            QCOMPARE(userGid(1, QStringLiteral("В")), 10);
            QCOMPARE(userGid(1, QStringLiteral("Г")), 11);
            QVERIFY(fails([&] { run(db, byPosition, {1, 10, QStringLiteral("Д")}); }));
            // Once numbered, the number stays required.
            QVERIFY(fails([&] {
                run(db, QStringLiteral("UPDATE OPERATOR SET USERGID = NULL WHERE WSTGID = 1"));
            }));
            QCOMPARE(userGid(1, QStringLiteral("В")), 10);
        });
    }

    void valuesRoundTrip_data()
    {
        allTablesPresent_data();
    }
    void valuesRoundTrip()
    {
        guarded([&] {
            QFETCH(QString, backend);
            ZORU_DB(db, backend);
            RowTransaction tx(db);
            const QString name = QStringLiteral("Минская обл. — «Ёлки» №1");
            run(db, QStringLiteral("INSERT INTO REGION VALUES (?, ?, ?)"),
                {1, name, QStringLiteral("5600000000000")});
            QSqlQuery q = run(db, QStringLiteral("SELECT REGNAME FROM REGION WHERE REGOKATO = ?"),
                              {QStringLiteral("5600000000000")});
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), name);

            // Sizes count characters, not bytes.
            const QString longName(100, QChar(0x0416)); // Ж
            run(db, QStringLiteral("INSERT INTO WORKSTATION (WSTNAME) VALUES (?)"), {longName});
            q = run(db, QStringLiteral("SELECT WSTNAME FROM WORKSTATION"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), longName);

            // Numbers come from the engine as floating point: whole ones stay whole, doses keep
            // their fraction, date-times keep their time of day.
            const QDateTime when(QDate(2005, 6, 1), QTime(9, 30, 15));
            run(db,
                QStringLiteral("INSERT INTO MEDPREPARAT (MPRGID, MPRDOSE, MPRNUMBER, MPRDOSEDAY) "
                               "VALUES (?, ?, ?, ?)"),
                {42.0, 0.1, 3.0, 2.75});
            run(db, QStringLiteral("INSERT INTO DOCTYPE VALUES (?, ?)"),
                {7.0, QStringLiteral("Карта")});
            q = run(db, QStringLiteral(
                            "SELECT MPRGID, MPRDOSE, MPRNUMBER, MPRDOSEDAY FROM MEDPREPARAT"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toDouble(), 42.0);
            QCOMPARE(q.value(1).toDouble(), 0.1);
            QCOMPARE(q.value(2).toDouble(), 3.0);
            QCOMPARE(q.value(3).toDouble(), 2.75);
            run(db, QStringLiteral("INSERT INTO CITY VALUES (NULL, ?, ?, NULL, NULL)"),
                {QStringLiteral("Гродно"), QStringLiteral("4401000000")});
            // Bound as text: the PostgreSQL driver turns a bound QDateTime into UTC, which a column
            // without time zone would keep shifted.
            run(db, QStringLiteral("INSERT INTO HOSPTYPE (IDTMU, BGDATE) VALUES (?, ?)"),
                {5, when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))});
            q = run(db, QStringLiteral("SELECT BGDATE FROM HOSPTYPE WHERE IDTMU = 5"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toDateTime(), when);
        });
    }

    void russianDateTextAccepted_data()
    {
        allTablesPresent_data();
    }
    void russianDateTextAccepted()
    {
        // The registration of a workstation writes today's date as text in the short Russian
        // form; a session opened after the schema was made reads it day first.
        guarded([&] {
            QFETCH(QString, backend);
            ZORU_DB(first, backend);
            TDatabase db(QStringLiteral("KZCenter"), &first.Aliases());
            db.AliasName = first.AliasName;
            db.Params = first.Params;
            db.LoginPrompt = false;
            db.Open();
            run(db, QStringLiteral("INSERT INTO WORKSTATION VALUES (?, ?, ?, ?, ?)"),
                {1, QStringLiteral("СТАНЦИЯ"), QStringLiteral("07.12.2026"), 1, QVariant()});
            QSqlQuery q = run(db, QStringLiteral("SELECT WSTRPLDATE FROM WORKSTATION"));
            QVERIFY(q.next());
            if (backend == QLatin1String("postgresql"))
                QCOMPARE(q.value(0).toDateTime().date(), QDate(2026, 12, 7));
            else
                QCOMPARE(q.value(0).toString(), QStringLiteral("07.12.2026"));
        });
    }

    void esvsQueriesRun_data()
    {
        allTablesPresent_data();
    }
    void esvsQueriesRun()
    {
        guarded([&] {
            // The three queries of the synchronisation, as they stand, against the schema.
            QFETCH(QString, backend);
            ZORU_DB(db, backend, SchemaKind::Esvs);
            RowTransaction tx(db);
            run(db, QStringLiteral("INSERT INTO ADRES VALUES (?, ?, ?, ?)"),
                {1, QStringLiteral("Гродненская обл."), QStringLiteral("4400000000000"), 2});
            run(db, QStringLiteral("INSERT INTO ADRES VALUES (?, ?, ?, ?)"),
                {2, QStringLiteral("Гродненская обл. (старое)"), QStringLiteral("4400000000000"),
                 1});
            run(db, QStringLiteral("INSERT INTO ADRES VALUES (?, ?, ?, ?)"),
                {3, QStringLiteral("Гродно"), QStringLiteral("4401000000000"), 1});
            run(db, QStringLiteral("INSERT INTO TMU (IDTMU, TMU, CODTMU) VALUES (?, ?, ?)"),
                {9, QStringLiteral("ЦРБ"), QStringLiteral("01")});
            run(db,
                QStringLiteral("INSERT INTO MU (IDMU, MU, IDTMU, OFFICE, EMSIZE, IDADRES) "
                               "VALUES (?, ?, ?, ?, ?, ?)"),
                {20, QStringLiteral("ЦРБ"), 9, true, 5, 3});
            run(db, QStringLiteral("INSERT INTO MU (IDMU, MU) VALUES (?, ?)"),
                {21, QStringLiteral("Без адреса")});

            QSqlQuery q = run(
                db,
                QStringList{QStringLiteral("SELECT    CAST(UPPER(ADRES) AS varchar(255)) AS "
                                           "REGNAME, K_ADMN AS REGOKATO"),
                            QStringLiteral("FROM         ADRES A1"),
                            QStringLiteral("WHERE     (K_ADMN LIKE '%000000') AND (RAZDEL ="),
                            QStringLiteral("                          (SELECT     MIN(RAZDEL)"),
                            QStringLiteral("                            FROM          ADRES A2"),
                            QStringLiteral(
                                "                            WHERE      A1.K_ADMN = A2.K_ADMN))")}
                    .join(QLatin1Char('\n')));
            int regions = 0;
            while (q.next())
                ++regions;
            QCOMPARE(regions, 2); // one row per code, at its smallest RAZDEL

            q = run(
                db,
                QStringList{
                    QStringLiteral("SELECT    "), QStringLiteral("    IDTMU           ,"),
                    QStringLiteral("    CAST(UPPER(TMU) AS varchar(255)) AS TMU             ,"),
                    QStringLiteral("    CAST(UPPER(CODTMU) AS varchar(255)) AS CODTMU           ,"),
                    QStringLiteral("    BGDATE      ,"),
                    QStringLiteral("    CAST(UPPER(BGREASON) AS varchar(255)) AS BGREASON,"),
                    QStringLiteral("    CLDATE       ,"),
                    QStringLiteral("    CAST(UPPER(CLREASON  ) AS varchar(255)) AS CLREASON  ,"),
                    QStringLiteral("    CRDATE"), QStringLiteral("FROM         TMU")}
                    .join(QLatin1Char('\n')));
            QVERIFY(q.next());
            QCOMPARE(q.record().count(), 8);

            q = run(
                db,
                QStringList{
                    QStringLiteral("SELECT  MU.IDMU AS IDMU, "),
                    QStringLiteral("\tCAST(UPPER(MU) AS varchar(100)) AS MU,"),
                    QStringLiteral("\tCAST(UPPER(MUFL) AS varchar(250)) AS MUFL,"),
                    QStringLiteral("\tCAST(UPPER(CODMU) AS varchar(10)) AS CODMU,"),
                    QStringLiteral("\tMU.IDTMU  AS IDTMU, "),
                    QStringLiteral("\tMU.OFFICE  AS OFFICE, "),
                    QStringLiteral("\tCAST(UPPER(SURNAMER) AS varchar(50)) AS SURNAMER,"),
                    QStringLiteral("\tCAST(UPPER(NAME_R) AS varchar(30)) AS NAME_R,"),
                    QStringLiteral("\tCAST(UPPER(SECNAMER) AS varchar(30)) AS SECNAMER,"),
                    QStringLiteral("\tMU.RSECNAME AS RSECNAME, "),
                    QStringLiteral("\tMU.IDPOST AS IDPOST, "),
                    QStringLiteral("\tCAST(UPPER(PHONE_R) AS varchar(20)) AS PHONE_R,"),
                    QStringLiteral("\tCAST(UPPER(EMAIL) AS varchar(64)) AS EMAIL,"),
                    QStringLiteral("\tMU.EMSIZE AS EMSIZE, "),
                    QStringLiteral("\tMU.IDADRES AS IDADRES, "),
                    QStringLiteral("\tMU.OMS AS OMS, "),
                    QStringLiteral("\tMU.BGDATE AS BGDATE, "),
                    QStringLiteral("\tCAST(UPPER(MU.BGREASON) AS varchar(255)) AS BGREASON,"),
                    QStringLiteral("\tMU.CLDATE AS CLDATE, "),
                    QStringLiteral("\tCAST(UPPER(MU.CLREASON  ) AS varchar(255)) AS CLREASON  ,"),
                    QStringLiteral("\tMU.CRDATE AS CRDATE, "),
                    QStringLiteral("\tADRES.K_ADMN AS OKATO"),
                    QStringLiteral("FROM    MU LEFT JOIN ADRES ON (MU.IDADRES = ADRES.IDADRES)"),
                    QStringLiteral("ORDER BY IDMU")}
                    .join(QLatin1Char('\n')));
            QCOMPARE(q.record().count(), 22);
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 20);
            QCOMPARE(q.value(21).toString().trimmed(), QStringLiteral("4401000000000"));
            QVERIFY(q.value(5).toBool());
            QVERIFY(q.next());
            QVERIFY(q.value(21).isNull());
            QVERIFY(!q.next());
        });
    }

    void schemaCreatedOnlyOnce_data()
    {
        allTablesPresent_data();
    }
    void schemaCreatedOnlyOnce()
    {
        guarded([&] {
            // A second run fails on the first table and leaves the database as it was.
            QFETCH(QString, backend);
            ZORU_DB(db, backend);
            run(db, QStringLiteral("INSERT INTO POST (POSNAME) VALUES (?)"),
                {QStringLiteral("Врач")});
            try {
                CreateSchema(db, SchemaKind::Central);
                QFAIL("the schema was created twice");
            } catch (const EDBEngineError &e) {
                QVERIFY(!e.Message().isEmpty());
                QVERIFY(e.Sql().contains(QLatin1String("CREATE"), Qt::CaseInsensitive));
            }
            QVERIFY(!db.InTransaction());
            QSqlQuery q = run(db, QStringLiteral("SELECT POSNAME FROM POST"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("Врач"));
        });
    }

    void scriptRolledBackOnFailure_data()
    {
        allTablesPresent_data();
    }
    void scriptRolledBackOnFailure()
    {
        guarded([&] {
            QFETCH(QString, backend);
            ZORU_DB(db, backend, SchemaKind::Central, false);
            const QString script = QStringLiteral("CREATE TABLE FIRST_ONE (A INTEGER);\n"
                                                  "INSERT INTO FIRST_ONE VALUES (1);\n"
                                                  "INSERT INTO NO_SUCH_TABLE VALUES (1);\n"
                                                  "CREATE TABLE LAST_ONE (B INTEGER);\n");
            QString failed;
            try {
                engine::ExecuteScript(db, script);
            } catch (const EDBEngineError &e) {
                failed = e.Sql();
            }
            QCOMPARE(failed, QStringLiteral("INSERT INTO NO_SUCH_TABLE VALUES (1)"));
            QVERIFY(!db.InTransaction());
            QStringList tables = db.Sql().tables();
            for (QString &t : tables)
                t = t.toUpper();
            QVERIFY(!tables.contains(QStringLiteral("FIRST_ONE")));
            QVERIFY(!tables.contains(QStringLiteral("LAST_ONE")));
        });
    }
};

QTEST_GUILESS_MAIN(TestSchema)
#include "test_schema.moc"
