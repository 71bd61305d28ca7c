#include "core/errors.h"
#include "engine/database.h"
#include "engine/folder/createtable.h"
#include "engine/paradox/paradoxtable.h"
#include "engine/query.h"
#include "engine/sqlscript.h"
#include "engine/table.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using FT = paradox::FieldType;

const char *const kCityScript = "/* City */\n"
                                "CREATE TABLE City (\n"
                                "  CityLID INTEGER,\n"
                                "  CityName CHAR(50),\n"
                                "  CityDate DATE,\n"
                                "  CrDate TIMESTAMP,\n"
                                "  Area FLOAT,\n"
                                "  Capital BOOLEAN,\n"
                                "  Rank SMALLINT,\n"
                                "  PRIMARY KEY (CityLID)\n"
                                ");\n";

QString fileIn(const QTemporaryDir &dir, const QString &name)
{
    return QDir(dir.path()).filePath(name);
}

QStringList tableFiles(const QTemporaryDir &dir)
{
    QStringList files = QDir(dir.path()).entryList(QDir::Files);
    for (QString &f : files)
        f = f.toLower();
    files.sort();
    return files;
}

// Rows of a folder table as the dataset API reads them, one text line per row.
QStringList readRows(TDatabase &db, const QString &table)
{
    TTable t(&db, table);
    t.Open();
    QStringList rows;
    for (t.First(); !t.Eof(); t.Next()) {
        QStringList values;
        for (int i = 0; i < t.FieldCount(); ++i) {
            const TField *f = t.Fields(i);
            if (f->IsNull())
                values << QStringLiteral("<null>");
            else if (f->DataType() == TFieldType::ftDate || f->DataType() == TFieldType::ftDateTime)
                values << f->AsDateTime().toString(Qt::ISODate);
            else if (f->DataType() == TFieldType::ftBoolean)
                values << (f->AsBoolean() ? QStringLiteral("да") : QStringLiteral("нет"));
            else
                values << f->AsString();
        }
        rows << values.join(QLatin1Char('|'));
    }
    t.Close();
    return rows;
}

void appendCity(TTable &t, const QVariant &lid, const QString &name)
{
    t.Append();
    t.FieldByName(QStringLiteral("CityLID"))->SetAsVariant(lid);
    t.FieldByName(QStringLiteral("CityName"))->SetAsString(name);
    t.Post();
}

} // namespace

class TestFolderBackend : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TDatabase> m_db;

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_db = std::make_unique<TDatabase>(QStringLiteral("Package"));
        m_db->OpenFolder(m_dir->path());
    }
    void cleanup()
    {
        m_db.reset();
        m_dir.reset();
    }

    void parseCreateTable_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("fields"); // name:type:size, ...
        QTest::addColumn<int>("keys");
        QTest::newRow("package dialect")
            << QStringLiteral(
                   "/* Region */ CREATE TABLE Region (RegGID INTEGER, RegName CHAR(255), "
                   "RegOkato CHAR(13), PRIMARY KEY (RegGID))")
            << QStringLiteral("Region")
            << QStringLiteral("RegGID:Long:4,RegName:Alpha:255,RegOkato:Alpha:13") << 1;
        QTest::newRow("compound key, every type")
            << QStringLiteral("create table \"BrigHsp.db\" (HspGID integer not null, BrgGID int, "
                              "N smallint, F float, D double precision, M money, B boolean, "
                              "Dt date, Tm time, Ts timestamp, V varchar(10), "
                              "primary key (HspGID, BrgGID));")
            << QStringLiteral("BrigHsp")
            << QStringLiteral("HspGID:Long:4,BrgGID:Long:4,N:Short:2,F:Number:8,D:Number:8,"
                              "M:Money:8,B:Logical:1,Dt:Date:4,Tm:Time:4,Ts:Timestamp:8,V:Alpha:10")
            << 2;
        QTest::newRow("column key, no key")
            << QStringLiteral("CREATE TABLE A (X INTEGER PRIMARY KEY, Y CHAR(1))")
            << QStringLiteral("A") << QStringLiteral("X:Long:4,Y:Alpha:1") << 1;
        QTest::newRow("unkeyed") << QStringLiteral("CREATE TABLE Log (Msg CHAR(200))")
                                 << QStringLiteral("Log") << QStringLiteral("Msg:Alpha:200") << 0;
    }
    void parseCreateTable()
    {
        QFETCH(QString, sql);
        QFETCH(QString, table);
        QFETCH(QString, fields);
        QFETCH(int, keys);
        const std::optional<engine::TCreateTable> parsed = engine::ParseCreateTable(sql);
        QVERIFY(parsed);
        QCOMPARE(parsed->TableName, table);
        QStringList actual;
        for (const paradox::Field &f : parsed->Schema.fields)
            actual << QStringLiteral("%1:%2:%3")
                          .arg(f.name, paradox::typeName(f.type))
                          .arg(f.storedSize());
        QCOMPARE(actual.join(QLatin1Char(',')), fields);
        QCOMPARE(parsed->Schema.keyFieldCount, keys);
    }

    void parseCreateTableRefuses_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("message");
        QTest::newRow("key not leading")
            << QStringLiteral("CREATE TABLE A (X CHAR(5), Y INTEGER, PRIMARY KEY (Y))")
            << QStringLiteral("должны идти первыми");
        QTest::newRow("unknown key")
            << QStringLiteral("CREATE TABLE A (X INTEGER, PRIMARY KEY (Z))")
            << QStringLiteral("не описано");
        QTest::newRow("unknown type")
            << QStringLiteral("CREATE TABLE A (X BLOBBY)") << QStringLiteral("неизвестный тип");
        QTest::newRow("alpha too long")
            << QStringLiteral("CREATE TABLE A (X CHAR(256))") << QStringLiteral("от 1 до 255");
        QTest::newRow("alpha without size")
            << QStringLiteral("CREATE TABLE A (X CHAR)") << QStringLiteral("от 1 до 255");
        QTest::newRow("duplicate column")
            << QStringLiteral("CREATE TABLE A (X INTEGER, x SMALLINT)") << QStringLiteral("дважды");
        QTest::newRow("unclosed") << QStringLiteral("CREATE TABLE A (X INTEGER")
                                  << QStringLiteral("не закрыт");
        QTest::newRow("trailing text") << QStringLiteral("CREATE TABLE A (X INTEGER) WITH OIDS")
                                       << QStringLiteral("лишний текст");
        QTest::newRow("no columns")
            << QStringLiteral("CREATE TABLE A ()") << QStringLiteral("ожидается имя поля");
    }
    void parseCreateTableRefuses()
    {
        QFETCH(QString, sql);
        QFETCH(QString, message);
        try {
            engine::ParseCreateTable(sql);
            QFAIL("accepted");
        } catch (const EDBEngineError &e) {
            QVERIFY2(e.Message().contains(message), qPrintable(e.Message()));
        }
        QVERIFY(!engine::ParseCreateTable(QStringLiteral("SELECT 1")));
    }

    void packageScriptCreatesTables()
    {
        // The package script of the export, as it is shipped.
        const QString source =
            qEnvironmentVariable("ZORU_SOURCE_DIR", QStringLiteral(QT_TESTCASE_SOURCEDIR "/../.."));
        const QString script = QString::fromUtf8(
            testsupport::readFile(source + QStringLiteral("/src/package/sql/rplgen.sql")));
        engine::ExecuteScript(*m_db, script);
        const QStringList names = {QStringLiteral("Brigade"),     QStringLiteral("BrigHsp"),
                                   QStringLiteral("Diagnosis"),   QStringLiteral("DocType"),
                                   QStringLiteral("Hospital"),    QStringLiteral("HospType"),
                                   QStringLiteral("MedPreparat"), QStringLiteral("MedPrepGroup"),
                                   QStringLiteral("Region"),      QStringLiteral("Workstation")};
        for (const QString &name : names) {
            const QString path = fileIn(*m_dir, name + QStringLiteral(".db"));
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
            paradox::TableReader reader(path);
            QCOMPARE(reader.recordCount(), 0);
            QVERIFY(reader.keyFieldCount() >= 1);
        }
        paradox::TableReader hospital(fileIn(*m_dir, QStringLiteral("Hospital.db")));
        QCOMPARE(hospital.fields().size(), size_t(32));
        QCOMPARE(hospital.fields()[6].type, FT::Logical);
        QCOMPARE(hospital.fields()[21].type, FT::Short);
        QCOMPARE(hospital.fields()[2].size, 100);
        QCOMPARE(paradox::TableReader(fileIn(*m_dir, QStringLiteral("BrigHsp.db"))).keyFieldCount(),
                 2);

        // Into a folder that already has them: refused, and nothing is touched.
        const QStringList before = tableFiles(*m_dir);
        try {
            engine::ExecuteScript(*m_db, script);
            QFAIL("the tables were created twice");
        } catch (const EDBEngineError &e) {
            QVERIFY2(e.Message().contains(QStringLiteral("уже существует")),
                     qPrintable(e.Message()));
            QVERIFY(e.Sql().contains(QLatin1String("CREATE TABLE Brigade")));
        }
        QCOMPARE(tableFiles(*m_dir), before);
    }

    void createTableOnExistingTableFails_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::newRow("same spelling") << QStringLiteral("City.db");
        QTest::newRow("other case") << QStringLiteral("CITY.DB");
    }
    void createTableOnExistingTableFails()
    {
        QFETCH(QString, existing);
        paradox::Schema schema;
        schema.fields = {paradox::Field(QStringLiteral("X"), FT::Long)};
        schema.keyFieldCount = 1;
        paradox::writeTable(fileIn(*m_dir, existing), schema, {{7}});
        TQuery q(m_db.get());
        q.SetSQL(QString::fromLatin1(kCityScript));
        try {
            q.ExecSQL();
            QFAIL("an existing table was created again");
        } catch (const EDBEngineError &e) {
            QVERIFY2(e.Message().contains(QStringLiteral("City уже существует")),
                     qPrintable(e.Message()));
        }
        // The old table keeps its row.
        QCOMPARE(paradox::readAllRows(fileIn(*m_dir, existing)).size(), size_t(1));
    }

    void failedScriptRemovesItsTables()
    {
        const QString script = QString::fromLatin1(kCityScript) +
                               QStringLiteral("CREATE TABLE Street (StrLID INTEGER, PRIMARY KEY "
                                              "(StrLID));\nCREATE TABLE Bad (X NOTATYPE);\n");
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, engine::ExecuteScript(*m_db, script));
        QCOMPARE(tableFiles(*m_dir), QStringList{});
    }

    void writeThenRead()
    {
        engine::ExecuteScript(*m_db, QString::fromLatin1(kCityScript));
        const QDateTime created(QDate(2005, 6, 1), QTime(9, 30, 15));
        {
            TTable t(m_db.get(), QStringLiteral("City.DB"));
            t.Open();
            QVERIFY(t.CanModify());
            QCOMPARE(t.RecordCount(), 0);
            t.Append();
            t.FieldByName(QStringLiteral("CityLID"))->SetAsInteger(20);
            t.FieldByName(QStringLiteral("CityName"))->SetAsString(QStringLiteral("Гродно"));
            t.FieldByName(QStringLiteral("CityDate"))->SetAsDateTime(created);
            t.FieldByName(QStringLiteral("CrDate"))->SetAsDateTime(created);
            t.FieldByName(QStringLiteral("Area"))->SetAsFloat(142.11);
            t.FieldByName(QStringLiteral("Capital"))->SetAsBoolean(true);
            t.FieldByName(QStringLiteral("Rank"))->SetAsInteger(2);
            t.Post();
            appendCity(t, 10, QStringLiteral("Минск"));
            appendCity(t, 30.0, QStringLiteral("Лида"));
            // Visible before the table is written out, in key order.
            QCOMPARE(t.RecordCount(), 3);
            QVERIFY(t.Locate(QStringLiteral("CityName"), QStringLiteral("минск"),
                             TLocateOption::loCaseInsensitive));
            QCOMPARE(t.FieldByName(QStringLiteral("CityLID"))->AsInteger(), 10);
            t.Next();
            QCOMPARE(t.FieldByName(QStringLiteral("CityLID"))->AsInteger(), 20);
            // A second row with a key already there is refused and not kept.
            QVERIFY_THROWS_EXCEPTION(EDBEngineError, appendCity(t, 10, QStringLiteral("Дубль")));
            t.Cancel();
            t.Close();
        }
        QCOMPARE(readRows(*m_db, QStringLiteral("city")),
                 (QStringList{QStringLiteral("10|Минск|<null>|<null>|<null>|<null>|<null>"),
                              QStringLiteral(
                                  "20|Гродно|2005-06-01T00:00:00|2005-06-01T09:30:15|142.11|да|2"),
                              QStringLiteral("30|Лида|<null>|<null>|<null>|<null>|<null>")}));

        // Edit by key and delete, then read again from the file.
        {
            TTable t(m_db.get(), QStringLiteral("City.DB"));
            t.Open();
            QVERIFY(t.Locate(QStringLiteral("CityLID"), 30));
            t.Edit();
            t.FieldByName(QStringLiteral("CityName"))->SetAsString(QStringLiteral("Лида-2"));
            t.FieldByName(QStringLiteral("Rank"))->Clear();
            t.Post();
            QVERIFY(t.Locate(QStringLiteral("CityLID"), 10));
            t.Delete();
            t.Close();
        }
        const std::vector<paradox::Row> rows =
            paradox::readAllRows(fileIn(*m_dir, QStringLiteral("City.db")));
        QCOMPARE(rows.size(), size_t(2));
        QCOMPARE(rows[0][0].toInt(), 20);
        QCOMPARE(rows[0][2].toDate(), QDate(2005, 6, 1));
        QCOMPARE(rows[0][3].toDateTime(), created);
        QCOMPARE(rows[0][4].toDouble(), 142.11);
        QCOMPARE(rows[1][1].toString(), QStringLiteral("Лида-2"));
        QVERIFY(!rows[1][6].isValid());
    }

    void unchangedTableIsNotRewritten()
    {
        engine::ExecuteScript(*m_db, QString::fromLatin1(kCityScript));
        const QString path = fileIn(*m_dir, QStringLiteral("City.db"));
        const QByteArray before = testsupport::readFile(path);
        TTable t(m_db.get(), QStringLiteral("City.db"));
        t.Open();
        t.Close();
        QCOMPARE(testsupport::readFile(path), before);
    }

    void textOutsideCodePageRefused()
    {
        engine::ExecuteScript(*m_db, QString::fromLatin1(kCityScript));
        TTable t(m_db.get(), QStringLiteral("City.DB"));
        t.Open();
        try {
            appendCity(t, 1, QStringLiteral("Ωμέγα"));
            QFAIL("text outside cp1251 was accepted");
        } catch (const EDBEngineError &e) {
            QVERIFY2(e.Message().contains(QStringLiteral("1251")), qPrintable(e.Message()));
        }
        t.Cancel();
        t.Close();
        QCOMPARE(paradox::readAllRows(fileIn(*m_dir, QStringLiteral("City.db"))).size(), size_t(0));
    }

    void unkeyedTableEdit()
    {
        engine::ExecuteScript(*m_db, QStringLiteral("CREATE TABLE Log (Msg CHAR(20), N INTEGER);"));
        {
            TTable t(m_db.get(), QStringLiteral("Log"));
            t.Open();
            t.AppendRecord({QStringLiteral("б"), 1});
            t.AppendRecord({QStringLiteral("а"), 2});
            t.AppendRecord({QStringLiteral("б"), 3});
            t.Close();
        }
        {
            TTable t(m_db.get(), QStringLiteral("Log"));
            t.Open();
            QVERIFY(t.Locate(QStringLiteral("N"), 3));
            t.Edit();
            t.FieldByName(QStringLiteral("Msg"))->SetAsString(QStringLiteral("в"));
            t.Post();
            t.Close();
        }
        QCOMPARE(
            readRows(*m_db, QStringLiteral("Log")),
            (QStringList{QStringLiteral("б|1"), QStringLiteral("а|2"), QStringLiteral("в|3")}));
    }

    void readsBigTableStreaming()
    {
        paradox::Schema schema;
        schema.fields = {paradox::Field(QStringLiteral("ID"), FT::Long),
                         paradox::Field(QStringLiteral("Name"), FT::Alpha, 30)};
        schema.keyFieldCount = 1;
        std::vector<paradox::Row> rows;
        for (int i = 1; i <= 5000; ++i)
            rows.push_back({i, QStringLiteral("Строка %1").arg(i)});
        paradox::writeTable(fileIn(*m_dir, QStringLiteral("Big.DB")), schema, rows);
        TTable t(m_db.get(), QStringLiteral("big.db"));
        t.SetFilter(QStringLiteral("Name = 'Строка 49*'"));
        t.SetFiltered(true);
        t.Open();
        QCOMPARE(t.RecordCount(), 111); // 49, 490..499, 4900..4999
        int n = 0;
        for (t.First(); !t.Eof(); t.Next())
            ++n;
        QCOMPARE(n, 111);
        QCOMPARE(t.Lookup(QStringLiteral("ID"), {4999}, QStringLiteral("Name")).toString(),
                 QStringLiteral("Строка 4999"));
        QCOMPARE(t.FieldByName(QStringLiteral("ID"))->AsInteger(),
                 4999); // the look-up left the position alone
    }

    void manyAppendsWrittenOnce()
    {
        // The export fills a package table row by row; the file is written once, on close.
        engine::ExecuteScript(*m_db, QStringLiteral("CREATE TABLE Diagnosis (DiagGID INTEGER, "
                                                    "DiagName CHAR(50), PRIMARY KEY (DiagGID));"));
        const QString path = fileIn(*m_dir, QStringLiteral("Diagnosis.db"));
        const QByteArray empty = testsupport::readFile(path);
        TTable t(m_db.get(), QStringLiteral("Diagnosis.db"));
        t.Open();
        for (int i = 20000; i >= 1; --i)
            t.AppendRecord({i, QStringLiteral("Диагноз %1").arg(i)});
        QCOMPARE(testsupport::readFile(path), empty);
        t.Close();
        const std::vector<paradox::Row> rows = paradox::readAllRows(path);
        QCOMPARE(rows.size(), size_t(20000));
        QCOMPARE(rows.front()[0].toInt(), 1);
        QCOMPARE(rows.back()[1].toString(), QStringLiteral("Диагноз 20000"));
    }

    // A table filled row by row is written as the rows come; whatever is done with it next sees
    // every row appended so far, before and after, and close writes them all.
    void useAfterAppends_data()
    {
        QTest::addColumn<QString>("use");
        for (const char *use : {"first", "locate", "edit", "count"})
            QTest::newRow(use) << QString::fromLatin1(use);
    }

    void useAfterAppends()
    {
        QFETCH(QString, use);
        engine::ExecuteScript(*m_db, QStringLiteral("CREATE TABLE D (Id INTEGER, Name CHAR(20), "
                                                    "PRIMARY KEY (Id));"));
        TTable t(m_db.get(), QStringLiteral("D.db"));
        t.Open();
        for (int i : {3, 1, 2})
            t.AppendRecord({i, QString::number(i)});
        if (use == QLatin1String("first")) {
            t.First();
            QCOMPARE(t.FieldByName(QStringLiteral("Id"))->AsInteger(), 1);
        } else if (use == QLatin1String("count"))
            QCOMPARE(t.RecordCount(), 3);
        else
            QVERIFY(t.Locate(QStringLiteral("Id"), QVariantList{2}));
        if (use == QLatin1String("edit")) {
            t.Edit();
            t.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("x"));
            t.Post();
        }
        t.AppendRecord({4, QStringLiteral("4")});
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, t.AppendRecord({1, QStringLiteral("y")}));
        t.Close();
        QStringList names;
        for (const paradox::Row &r : paradox::readAllRows(fileIn(*m_dir, QStringLiteral("D.db"))))
            names << r[1].toString();
        QCOMPARE(names.join(QLatin1Char(' ')),
                 QString::fromLatin1(use == QLatin1String("edit") ? "1 x 3 4" : "1 2 3 4"));
    }

    // Rows in key order, against it and mixed are stored sorted; a repeated key is refused
    // wherever it falls (at the end, before the end, between integer and fractional keys).
    void keyedInsertOrder_data()
    {
        QTest::addColumn<QVariantList>("keys");
        QTest::addColumn<QVariant>("repeated");
        QTest::newRow("ascending") << QVariantList{1, 2, 3, 4} << QVariant(4);
        QTest::newRow("ascending, repeated before the end")
            << QVariantList{1, 2, 3, 4} << QVariant(2);
        QTest::newRow("descending") << QVariantList{4, 3, 2, 1} << QVariant(3);
        QTest::newRow("mixed number types") << QVariantList{2, 1.5, qint64(3), 0} << QVariant(2.0);
    }

    void keyedInsertOrder()
    {
        QFETCH(QVariantList, keys);
        QFETCH(QVariant, repeated);
        engine::ExecuteScript(*m_db, QStringLiteral("CREATE TABLE K (Id FLOAT, Name CHAR(10), "
                                                    "PRIMARY KEY (Id));"));
        TTable t(m_db.get(), QStringLiteral("K.db"));
        t.Open();
        for (const QVariant &k : keys)
            t.AppendRecord({k, k.toString()});
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, t.AppendRecord({repeated, QStringLiteral("x")}));
        t.Close();
        QList<double> stored;
        for (const paradox::Row &r : paradox::readAllRows(fileIn(*m_dir, QStringLiteral("K.db"))))
            stored << r[0].toDouble();
        QList<double> expected;
        for (const QVariant &k : keys)
            expected << k.toDouble();
        std::sort(expected.begin(), expected.end());
        QCOMPARE(stored, expected);
    }

    void readOnlyTableRefusesChanges()
    {
        engine::ExecuteScript(*m_db, QString::fromLatin1(kCityScript));
        TTable t(m_db.get(), QStringLiteral("City.DB"));
        t.ReadOnly = true;
        t.Open();
        QVERIFY(!t.CanModify());
        QVERIFY_THROWS_EXCEPTION(Exception, appendCity(t, 1, QStringLiteral("Минск")));
    }

    void missingTable()
    {
        TTable t(m_db.get(), QStringLiteral("Nope.DB"));
        try {
            t.Open();
            QFAIL("a missing table opened");
        } catch (const EDBEngineError &e) {
            QVERIFY2(e.Message().contains(QStringLiteral("Таблица не найдена")),
                     qPrintable(e.Message()));
        }
        TTable escape(m_db.get(), QStringLiteral("../outside.DB"));
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, escape.Open());
        QVERIFY(!t.Exists());
        QVERIFY(!escape.Exists());
    }

    // A table is there whatever the letter case of the name it is asked for by.
    void existsIgnoresCase_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("as written") << "Region.db";
        QTest::newRow("upper case") << "REGION.DB";
        QTest::newRow("no extension") << "region";
    }
    void existsIgnoresCase()
    {
        QFETCH(QString, name);
        engine::ExecuteScript(
            *m_db, QStringLiteral("CREATE TABLE Region (RegGID INTEGER, PRIMARY KEY (RegGID))"));
        QVERIFY(TTable(m_db.get(), name).Exists());
    }

    void sqlOverFolder_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QVariantList>("params");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("named parameters")
            << QStringLiteral("select username, userhash, userlevel from operator where wstgid = "
                              ":wstgid and usergid = :usergid")
            << QVariantList{12, 2} << QStringList{QStringLiteral("ПЕТРОВ|0|1")};
        QTest::newRow("no row") << QStringLiteral("select username from operator where wstgid = :w")
                                << QVariantList{99} << QStringList{};
        QTest::newRow("appended value")
            << QStringLiteral("select * from region where reggid = 5") << QVariantList{}
            << QStringList{QStringLiteral("5|Минская|5600000000000")};
        QTest::newRow("join, qualified names, order")
            << QStringLiteral("SELECT Operator.UserName, Region.RegName FROM Operator, Region "
                              "WHERE Region.RegGID = Operator.UserLevel + 4 ORDER BY 1")
            << QVariantList{}
            << QStringList{QStringLiteral("ИВАНОВ|Гродненская"), QStringLiteral("ПЕТРОВ|Минская")};
        QTest::newRow("file name quoted, Cyrillic case folding")
            << QStringLiteral("SELECT COUNT(*) FROM \"OPERATOR.DB\" WHERE UPPER(UserHash) = 'АБВ'")
            << QVariantList{} << QStringList{QStringLiteral("1")};
        QTest::newRow("date parameter")
            << QStringLiteral("SELECT UserName FROM Operator WHERE Born < :d")
            << QVariantList{QDate(1970, 1, 1)} << QStringList{QStringLiteral("ИВАНОВ")};
    }
    void sqlOverFolder()
    {
        QFETCH(QString, sql);
        QFETCH(QVariantList, params);
        QFETCH(QStringList, expected);
        paradox::Schema op;
        op.fields = {paradox::Field(QStringLiteral("WstGID"), FT::Long),
                     paradox::Field(QStringLiteral("UserGID"), FT::Long),
                     paradox::Field(QStringLiteral("UserName"), FT::Alpha, 20),
                     paradox::Field(QStringLiteral("UserHash"), FT::Alpha, 20),
                     paradox::Field(QStringLiteral("UserLevel"), FT::Short),
                     paradox::Field(QStringLiteral("Born"), FT::Date)};
        op.keyFieldCount = 2;
        paradox::writeTable(
            fileIn(*m_dir, QStringLiteral("Operator.DB")), op,
            {{12, 1, QStringLiteral("ИВАНОВ"), QStringLiteral("абв"), 0, QDate(1960, 5, 1)},
             {12, 2, QStringLiteral("ПЕТРОВ"), QStringLiteral("0"), 1, QDate(1980, 5, 1)}});
        paradox::Schema region;
        region.fields = {paradox::Field(QStringLiteral("RegGID"), FT::Long),
                         paradox::Field(QStringLiteral("RegName"), FT::Alpha, 255),
                         paradox::Field(QStringLiteral("RegOkato"), FT::Alpha, 13)};
        region.keyFieldCount = 1;
        paradox::writeTable(fileIn(*m_dir, QStringLiteral("Region.DB")), region,
                            {{4, QStringLiteral("Гродненская"), QStringLiteral("4400000000000")},
                             {5, QStringLiteral("Минская"), QStringLiteral("5600000000000")}});
        // A table the statement does not name need not even be readable.
        testsupport::writeFile(fileIn(*m_dir, QStringLiteral("Broken.DB")), "not a table");

        TQuery q(m_db.get());
        q.SetSQL(sql);
        for (int i = 0; i < params.size(); ++i)
            q.Params().Items(i).SetValue(params[i]);
        q.Open();
        QStringList actual;
        for (q.First(); !q.Eof(); q.Next()) {
            QStringList values;
            for (int i = 0; i < q.FieldCount(); ++i)
                values << q.Fields(i)->AsString();
            actual << values.join(QLatin1Char('|'));
        }
        q.Close();
        QCOMPARE(actual, expected);
    }

    void changingSqlWritesTableBack()
    {
        engine::ExecuteScript(*m_db, QString::fromLatin1(kCityScript));
        TQuery q(m_db.get());
        q.SetSQL(
            QStringLiteral("INSERT INTO City (CityLID, CityName, Capital) VALUES (:a, :b, :c)"));
        q.Params().Items(0).SetValue(3);
        q.Params().Items(1).SetValue(QStringLiteral("Брест"));
        q.Params().Items(2).SetValue(true);
        QCOMPARE(q.ExecSQL(), 1);
        q.SetSQL(QStringLiteral("UPDATE City SET CityName = CityName || '-1' WHERE CityLID = 3"));
        QCOMPARE(q.ExecSQL(), 1);
        const std::vector<paradox::Row> rows =
            paradox::readAllRows(fileIn(*m_dir, QStringLiteral("City.db")));
        QCOMPARE(rows.size(), size_t(1));
        QCOMPARE(rows[0][1].toString(), QStringLiteral("Брест-1"));
        QCOMPARE(rows[0][5].toBool(), true);
        // A key violation in the copy is the engine's error, and the file stays as it was.
        q.SetSQL(QStringLiteral("INSERT INTO City (CityLID, CityName) VALUES (3, 'x')"));
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, q.ExecSQL());
        QCOMPARE(paradox::readAllRows(fileIn(*m_dir, QStringLiteral("City.db"))).size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestFolderBackend)
#include "test_folderbackend.moc"
