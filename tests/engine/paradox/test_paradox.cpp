#include "core/errors.h"
#include "engine/paradox/paradoxtable.h"
#include "pxlibreader.h"
#include "testsupport.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <cmath>
#include <cstring>
#include <limits>

using namespace paradox;

Q_DECLARE_METATYPE(paradox::Schema)
Q_DECLARE_METATYPE(paradox::Row)

namespace {

// Every type the writer creates, with a two-field key.
Schema allTypesSchema()
{
    Schema s;
    s.fields = {Field(QStringLiteral("ID"), FieldType::Long),
                Field(QStringLiteral("Sub"), FieldType::Short),
                Field(QStringLiteral("Имя"), FieldType::Alpha, 30),
                Field(QStringLiteral("Amount"), FieldType::Number),
                Field(QStringLiteral("Flag"), FieldType::Logical),
                Field(QStringLiteral("Born"), FieldType::Date),
                Field(QStringLiteral("Stamp"), FieldType::Timestamp),
                Field(QStringLiteral("Cash"), FieldType::Money),
                Field(QStringLiteral("At"), FieldType::Time),
                Field(QStringLiteral("Seq"), FieldType::AutoInc),
                Field(QStringLiteral("Raw"), FieldType::Bytes, 4),
                Field(QStringLiteral("Count"), FieldType::Long)};
    s.keyFieldCount = 2;
    return s;
}

std::vector<Row> allTypesRows()
{
    const QDateTime stamp(QDate(2020, 2, 1), QTime(1, 0, 1, 250));
    return {
        {1, 1, QStringLiteral("Иванов Пётр"), 40.0, true, QDate(2018, 1, 1), stamp, 12.5,
         QTime(0, 0), 7, QByteArray("\x01\x02\x03\x04", 4), 0},
        // Every non-key field Null.
        {1, 2, QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
         QVariant(), QVariant(), QVariant()},
        // Extremes that are still storable, negative values, a trailing blank that must survive.
        {-2147483647, -32767, QStringLiteral("ёЁ №  "), -1.34, false, QDate(1, 1, 1),
         QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999)), -0.01, QTime(23, 59, 59, 999),
         2147483647, QByteArray("\xff", 1), -1},
        {2147483647, 32767, QStringLiteral("x").repeated(30), 1e300, false, QDate(1899, 12, 30),
         QDateTime(QDate(1970, 1, 1), QTime(0, 0)), 0.0, QTime(12, 0), 1, QVariant(), 2147483647},
    };
}

void compareValue(const QVariant &actual, const QVariant &expected, const QString &where)
{
    if (!expected.isValid()) {
        QVERIFY2(!actual.isValid(),
                 qPrintable(where + QStringLiteral(": expected Null, got ") + actual.toString()));
        return;
    }
    QVERIFY2(actual.isValid(), qPrintable(where + QStringLiteral(": unexpected Null, expected ") +
                                          expected.toString()));
    if (expected.metaType().id() == QMetaType::Double) {
        QVERIFY2(actual.metaType().id() == QMetaType::Double, qPrintable(where));
        QCOMPARE(actual.toDouble(), expected.toDouble());
        return;
    }
    if (expected.metaType().id() == QMetaType::QByteArray) {
        // Bytes are padded with zeros to the field size.
        QVERIFY2(actual.toByteArray().startsWith(expected.toByteArray()), qPrintable(where));
        return;
    }
    QVERIFY2(actual == expected, qPrintable(where + QStringLiteral(": ") + actual.toString() +
                                            QStringLiteral(" != ") + expected.toString()));
}

QByteArray tableBytes(const Schema &schema, const std::vector<Row> &rows)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.db"));
    writeTable(path, schema, rows);
    return testsupport::readFile(path);
}

// A keyed table of n rows, several blocks long.
Schema smallSchema()
{
    Schema s;
    s.fields = {Field(QStringLiteral("K"), FieldType::Long),
                Field(QStringLiteral("Name"), FieldType::Alpha, 100)};
    s.keyFieldCount = 1;
    return s;
}

std::vector<Row> smallRows(int n)
{
    std::vector<Row> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({i + 1, QStringLiteral("Строка %1").arg(i + 1)});
    return rows;
}

void putU16(QByteArray &b, int off, int v)
{
    b[off] = static_cast<char>(v & 0xFF);
    b[off + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void putU32(QByteArray &b, int off, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Every row of a table through our reader, after opening it from the bytes.
std::vector<Row> readAll(TableReader &reader)
{
    std::vector<Row> rows;
    Row row;
    while (reader.next(row))
        rows.push_back(row);
    return rows;
}

} // namespace

class TestParadox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTripAllTypes();
    void roundTripFromMemoryAndDevice();
    void timestampInDaylightSavingGap();
    void pxlibReadsOurTables();
    void readsOtherCodePages_data();
    void readsOtherCodePages();
    void sampleFilesMatchPxlib_data();
    void sampleFilesMatchPxlib();
    void writerAcceptsCommonValueForms_data();
    void writerAcceptsCommonValueForms();
    void writerRefusesBadRows_data();
    void writerRefusesBadRows();
    void writerRefusesBadSchemas_data();
    void writerRefusesBadSchemas();
    void createFailsWhenTableExists();
    void emptyTableIsValid();
    void rowsComeOutInKeyOrder();
    void unkeyedTableKeepsAppendOrder();
    void rewriteReplacesTable();
    void corruptInputs_data();
    void corruptInputs();
    void randomDamageNeverCrashes();
    void largeTableHasTwoLevelIndex();
    void deepIndexForLongKeys();
    void sampleIndexesAreConsistent_data();
    void sampleIndexesAreConsistent();
    void damagedIndexes_data();
    void damagedIndexes();
};

void TestParadox::roundTripAllTypes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("AllTypes.db"));
    const Schema schema = allTypesSchema();
    const std::vector<Row> rows = allTypesRows();
    writeTable(path, schema, rows);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("AllTypes.px"))));
    verifyPrimaryIndex(path);

    TableReader reader(path);
    QCOMPARE(reader.schema(), schema);
    QCOMPARE(reader.recordCount(), qint64(rows.size()));
    QCOMPARE(reader.codePage(), 1251);
    QCOMPARE(reader.versionId(), 12);
    const std::vector<Row> back = readAll(reader);
    QCOMPARE(back.size(), rows.size());
    // Written in key order already except the negative key, which sorts first.
    const std::vector<Row> expected = {rows[2], rows[0], rows[1], rows[3]};
    for (size_t r = 0; r < expected.size(); ++r) {
        for (size_t c = 0; c < schema.fields.size(); ++c) {
            compareValue(back[r][c], expected[r][c],
                         QStringLiteral("row %1 field %2").arg(r).arg(schema.fields[c].name));
            if (QTest::currentTestFailed())
                return;
        }
    }
    // Zero is not Null.
    QCOMPARE(back[1][11], QVariant(0));
    QCOMPARE(back[1][8].toTime(), QTime(0, 0));
}

void TestParadox::roundTripFromMemoryAndDevice()
{
    // Not a regular file: refused at once instead of blocking on a pipe or a device.
    QVERIFY_THROWS_EXCEPTION(EDBEngineError, TableReader(QStringLiteral("/dev/zero")));
    QTemporaryDir dir;
    QVERIFY_THROWS_EXCEPTION(EDBEngineError, TableReader(dir.path()));
    QVERIFY_THROWS_EXCEPTION(EDBEngineError,
                             TableReader(dir.filePath(QStringLiteral("missing.db"))));

    const QByteArray bytes = tableBytes(smallSchema(), smallRows(500));
    TableReader fromMemory(bytes, QStringLiteral("mem.db"));
    QCOMPARE(readAll(fromMemory).size(), size_t(500));

    // Engine-written files may end inside their last block, right after its last record.
    const int lastRecords = 500 % 19; // 19 records of 104 bytes per 2 KiB block
    const QByteArray cut = bytes.left(bytes.size() - 2048 + 6 + lastRecords * 104);
    TableReader shortFile(cut, QStringLiteral("cut.db"));
    QCOMPARE(readAll(shortFile).size(), size_t(500));
    QVERIFY_THROWS_EXCEPTION(EDBEngineError, TableReader(cut.chopped(1), QStringLiteral("cut.db")));
    fromMemory.rewind();
    Row row;
    QVERIFY(fromMemory.next(row));
    QCOMPARE(row[1].toString(), QStringLiteral("Строка 1"));
}

void TestParadox::timestampInDaylightSavingGap()
{
    // Moscow skipped 02:00-03:00 on 2005-03-27; the stored wall-clock value must come back.
    const testsupport::ScopedTimeZone moscow("Europe/Moscow");
    if (QDateTime(QDate(2005, 3, 27), QTime(2, 30)).isValid())
        QSKIP("no time-zone data for Europe/Moscow");
    Schema s;
    s.fields = {Field(QStringLiteral("K"), FieldType::Long),
                Field(QStringLiteral("At"), FieldType::Timestamp)};
    s.keyFieldCount = 1;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.db"));
    writeTable(path, s, {{1, QDateTime(QDate(2005, 3, 27), QTime(2, 30))}});
    const QDateTime back = readAllRows(path).at(0).at(1).toDateTime();
    QVERIFY(back.isValid());
    QCOMPARE(back.date(), QDate(2005, 3, 27));
    QCOMPARE(back.time(), QTime(2, 30));
}

void TestParadox::readsOtherCodePages_data()
{
    // The table is written in cp1251 and its code page word then changed, so the same bytes are
    // read as another code page would store them.
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("expected"); // empty: refused
    // cp866 "Привет" is 8F E0 A8 A2 A5 E2, which cp1251 writes for "ЏаЁўҐв".
    QTest::newRow("866 Cyrillic") << 866 << QStringLiteral("ЏаЁўҐв") << QStringLiteral("Привет");
    QTest::newRow("1252 Western") << 1252 << QStringLiteral("Ђ")
                                  << QStringLiteral("€"); // 0x80 in both
    QTest::newRow("437 ASCII") << 437 << QStringLiteral("plain text")
                               << QStringLiteral("plain text");
    QTest::newRow("936 ASCII") << 936 << QStringLiteral("plain text")
                               << QStringLiteral("plain text");
    QTest::newRow("936 non-ASCII refused") << 936 << QStringLiteral("Я") << QString();
    QTest::newRow("unset code page is 1251") << 0 << QStringLiteral("Я") << QStringLiteral("Я");
}

void TestParadox::readsOtherCodePages()
{
    QFETCH(int, codePage);
    QFETCH(QString, written);
    QFETCH(QString, expected);
    Schema s;
    s.fields = {Field(QStringLiteral("K"), FieldType::Long),
                Field(QStringLiteral("Text"), FieldType::Alpha, 20)};
    s.keyFieldCount = 1;
    QByteArray bytes = tableBytes(s, {{1, written}});
    putU16(bytes, 0x6A, codePage);
    TableReader reader(bytes, QStringLiteral("cp.db"));
    QCOMPARE(reader.codePage(), codePage);
    Row row;
    if (expected.isEmpty()) {
        try {
            reader.next(row);
            QFAIL("undecodable text accepted");
        } catch (const EDBEngineError &e) {
            QVERIFY2(e.Message().contains(QStringLiteral("поля Text")), qPrintable(e.Message()));
            QVERIFY2(e.Message().contains(QStringLiteral("936")), qPrintable(e.Message()));
        }
        return;
    }
    QVERIFY(reader.next(row));
    QCOMPARE(row[1].toString(), expected);
}

void TestParadox::pxlibReadsOurTables()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("AllTypes.db"));
    writeTable(path, allTypesSchema(), allTypesRows());
    const std::vector<Row> ours = readAllRows(path);

    for (bool withIndex : {false, true}) {
        const pxoracle::Table px =
            pxoracle::read(path, dir.filePath(QStringLiteral("AllTypes.px")), withIndex);
        QVERIFY2(px.ok, qPrintable(px.error));
        QCOMPARE(px.recordCount, int(ours.size()));
        QCOMPARE(px.keyFields, 2);
        QCOMPARE(px.fieldNames.at(2).toLatin1(),
                 QByteArray("\xc8\xec\xff")); // cp1251 bytes of "Имя"
        for (size_t r = 0; r < ours.size(); ++r) {
            for (size_t c = 0; c < ours[r].size(); ++c) {
                const QString where =
                    QStringLiteral("index %1 row %2 col %3").arg(withIndex).arg(r).arg(c);
                if (!pxoracle::samePxValue(ours[r][c], px.rows[r][c]))
                    compareValue(px.rows[r][c], ours[r][c], where);
                if (QTest::currentTestFailed())
                    return;
            }
        }
    }
}

void TestParadox::sampleFilesMatchPxlib_data()
{
    QTest::addColumn<QString>("file");
    const QDir dir(QDir(testsupport::testDataDir()).filePath(QStringLiteral("paradox")));
    const QStringList files =
        dir.entryList({QStringLiteral("*.db"), QStringLiteral("*.DB")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString &f : files)
        QTest::newRow(qPrintable(f)) << dir.filePath(f);
}

void TestParadox::sampleFilesMatchPxlib()
{
    QFETCH(QString, file);
    TableReader reader(file);
    const std::vector<Row> ours = readAll(reader);
    const pxoracle::Table px = pxoracle::read(file);
    QVERIFY2(px.ok, qPrintable(px.error));
    QCOMPARE(qint64(px.recordCount), reader.recordCount());
    QCOMPARE(ours.size(), size_t(px.recordCount));
    QCOMPARE(reader.keyFieldCount(), px.keyFields);
    for (size_t c = 0; c < reader.fields().size(); ++c)
        QCOMPARE(int(reader.fields()[c].type), px.fieldTypes[c]);
    for (size_t r = 0; r < ours.size(); ++r) {
        for (size_t c = 0; c < ours[r].size(); ++c) {
            const Field &f = reader.fields()[c];
            if (!f.hasReadableValues())
                QVERIFY(!ours[r][c].isValid());
            if (!f.hasReadableValues() || f.type == FieldType::Bytes)
                continue;
            const QString where = QStringLiteral("row %1 field %2").arg(r).arg(f.name);
            if (f.type == FieldType::Bcd) {
                // pxlib prints BCD as text; compare as numbers.
                QCOMPARE(ours[r][c].isValid(), px.rows[r][c].isValid());
                if (ours[r][c].isValid())
                    QVERIFY2(std::fabs(ours[r][c].toDouble() - px.rows[r][c].toDouble()) < 1e-6,
                             qPrintable(where));
                continue;
            }
            if (!pxoracle::samePxValue(ours[r][c], px.rows[r][c]))
                compareValue(ours[r][c], px.rows[r][c], where);
            if (QTest::currentTestFailed())
                return;
        }
    }
}

void TestParadox::writerAcceptsCommonValueForms_data()
{
    // Values as SQL drivers and the dataset layer hand them over.
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<QVariant>("expected");
    const auto t = [](FieldType ft) { return int(ft); };
    QTest::newRow("qlonglong into short")
        << t(FieldType::Short) << QVariant(qlonglong(-12)) << QVariant(-12);
    QTest::newRow("text into long")
        << t(FieldType::Long) << QVariant(QStringLiteral(" 42 ")) << QVariant(42);
    QTest::newRow("whole double into long") << t(FieldType::Long) << QVariant(3.0) << QVariant(3);
    QTest::newRow("bool into long") << t(FieldType::Long) << QVariant(true) << QVariant(1);
    QTest::newRow("int into number") << t(FieldType::Number) << QVariant(7) << QVariant(7.0);
    QTest::newRow("text into number")
        << t(FieldType::Number) << QVariant(QStringLiteral("2.5")) << QVariant(2.5);
    QTest::newRow("number into logical") << t(FieldType::Logical) << QVariant(5) << QVariant(true);
    QTest::newRow("zero into logical") << t(FieldType::Logical) << QVariant(0.0) << QVariant(false);
    QTest::newRow("text into logical")
        << t(FieldType::Logical) << QVariant(QStringLiteral("true")) << QVariant(true);
    QTest::newRow("ISO text into date")
        << t(FieldType::Date) << QVariant(QStringLiteral("2005-06-01"))
        << QVariant(QDate(2005, 6, 1));
    QTest::newRow("date-time text into date")
        << t(FieldType::Date) << QVariant(QStringLiteral("2005-06-01 09:30:00"))
        << QVariant(QDate(2005, 6, 1));
    QTest::newRow("date-time into date")
        << t(FieldType::Date) << QVariant(QDateTime(QDate(2005, 6, 1), QTime(23, 59)))
        << QVariant(QDate(2005, 6, 1));
    QTest::newRow("date into timestamp") << t(FieldType::Timestamp) << QVariant(QDate(2005, 6, 1))
                                         << QVariant(QDateTime(QDate(2005, 6, 1), QTime(0, 0)));
    QTest::newRow("SQL text into timestamp")
        << t(FieldType::Timestamp) << QVariant(QStringLiteral("2005-06-01 09:30:00.250"))
        << QVariant(QDateTime(QDate(2005, 6, 1), QTime(9, 30, 0, 250)));
    QTest::newRow("number into alpha")
        << t(FieldType::Alpha) << QVariant(12) << QVariant(QStringLiteral("12"));
    QTest::newRow("typed SQL null")
        << t(FieldType::Long) << QVariant(QMetaType::fromType<int>()) << QVariant();
    QTest::newRow("empty text is Null") << t(FieldType::Alpha) << QVariant(QString()) << QVariant();
}

void TestParadox::writerAcceptsCommonValueForms()
{
    QFETCH(int, type);
    QFETCH(QVariant, input);
    QFETCH(QVariant, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.db"));
    Schema s;
    s.fields = {
        Field(QStringLiteral("K"), FieldType::Long),
        Field(QStringLiteral("V"), FieldType(type), FieldType(type) == FieldType::Alpha ? 10 : 0)};
    s.keyFieldCount = 1;
    writeTable(path, s, {{1, input}});
    compareValue(readAllRows(path).at(0).at(1), expected, QStringLiteral("value"));
}

void TestParadox::writerRefusesBadRows_data()
{
    QTest::addColumn<Row>("row");
    QTest::addColumn<QString>("fragment");
    // Fields: K Long key, Name Alpha(5), N Short, X Number, D Date.
    QTest::newRow("null key") << Row{QVariant(), QStringLiteral("a"), 1, 1.0, QDate(2000, 1, 1)}
                              << QStringLiteral("Поле K: ключевое поле не может быть пустым");
    QTest::newRow("text not in cp1251")
        << Row{1, QStringLiteral("日本"), 1, 1.0, QDate(2000, 1, 1)}
        << QStringLiteral("Поле Name: текст содержит символы, которых нет в кодовой странице 1251");
    QTest::newRow("text too long") << Row{1, QStringLiteral("абвгде"), 1, 1.0, QDate(2000, 1, 1)}
                                   << QStringLiteral("Поле Name: текст длиннее 5 символов");
    QTest::newRow("short min is Null")
        << Row{1, QStringLiteral("a"), -32768, 1.0, QDate(2000, 1, 1)}
        << QStringLiteral("Поле N: значение -32768 вне допустимого диапазона");
    QTest::newRow("short overflow") << Row{1, QStringLiteral("a"), 40000, 1.0, QDate(2000, 1, 1)}
                                    << QStringLiteral("Поле N: значение 40000 вне");
    QTest::newRow("long min is Null")
        << Row{qlonglong(std::numeric_limits<int>::min()), QStringLiteral("a"), 1, 1.0, QDate()}
        << QStringLiteral("Поле K: значение -2147483648 вне");
    QTest::newRow("fraction into integer")
        << Row{1, QStringLiteral("a"), 1.5, 1.0, QDate(2000, 1, 1)}
        << QStringLiteral("Поле N: значение \"1.5\" не является целым числом");
    QTest::newRow("NaN") << Row{1, QStringLiteral("a"), 1, std::nan(""), QDate(2000, 1, 1)}
                         << QStringLiteral("Поле X: значение не является конечным числом");
    QTest::newRow("infinity") << Row{1, QStringLiteral("a"), 1,
                                     std::numeric_limits<double>::infinity(), QVariant()}
                              << QStringLiteral("Поле X: значение не является конечным числом");
    QTest::newRow("text into date")
        << Row{1, QStringLiteral("a"), 1, 1.0, QStringLiteral("вчера")}
        << QStringLiteral("Поле D: значение \"вчера\" не является датой");
    QTest::newRow("repeated key") << Row{7, QStringLiteral("b"), 1, 1.0, QDate(2000, 1, 1)}
                                  << QStringLiteral("запись с ключом (K=7) уже есть");
    QTest::newRow("too few values") << Row{1, QStringLiteral("a")}
                                    << QStringLiteral("Число значений в записи (2) не совпадает");
}

void TestParadox::writerRefusesBadRows()
{
    QFETCH(Row, row);
    QFETCH(QString, fragment);
    QTemporaryDir dir;
    Schema s;
    s.fields = {Field(QStringLiteral("K"), FieldType::Long),
                Field(QStringLiteral("Name"), FieldType::Alpha, 5),
                Field(QStringLiteral("N"), FieldType::Short),
                Field(QStringLiteral("X"), FieldType::Number),
                Field(QStringLiteral("D"), FieldType::Date)};
    s.keyFieldCount = 1;
    const QString path = dir.filePath(QStringLiteral("t.db"));
    TableWriter writer(path, s);
    writer.append({7, QStringLiteral("ok"), 1, 2.0, QDate(2001, 2, 3)});
    try {
        writer.append(row);
        QFAIL("row accepted");
    } catch (const EDBEngineError &e) {
        QVERIFY2(e.Message().contains(fragment), qPrintable(e.Message()));
    }
    // The refused row left nothing behind and the writer still works.
    writer.finish();
    QCOMPARE(readAllRows(path).size(), size_t(1));
}

void TestParadox::writerRefusesBadSchemas_data()
{
    QTest::addColumn<Schema>("schema");
    QTest::addColumn<QString>("fragment");
    auto make = [](std::vector<Field> f, int keys) {
        Schema s;
        s.fields = std::move(f);
        s.keyFieldCount = keys;
        return s;
    };
    QTest::newRow("no fields") << make({}, 0) << QStringLiteral("число полей 0");
    QTest::newRow("key count above fields")
        << make({Field(QStringLiteral("A"), FieldType::Long)}, 2)
        << QStringLiteral("недопустимое число ключевых полей 2");
    QTest::newRow("duplicate name") << make({Field(QStringLiteral("A"), FieldType::Long),
                                             Field(QStringLiteral("a"), FieldType::Short)},
                                            1)
                                    << QStringLiteral("поле a описано дважды");
    QTest::newRow("alpha size 0") << make({Field(QStringLiteral("A"), FieldType::Alpha, 0)}, 0)
                                  << QStringLiteral("недопустимый размер 0");
    QTest::newRow("alpha size 256") << make({Field(QStringLiteral("A"), FieldType::Alpha, 256)}, 0)
                                    << QStringLiteral("недопустимый размер 256");
    QTest::newRow("long with size 8") << make({Field(QStringLiteral("A"), FieldType::Long, 8)}, 0)
                                      << QStringLiteral("недопустимый размер 8");
    QTest::newRow("memo") << make({Field(QStringLiteral("A"), FieldType::Memo, 20)}, 0)
                          << QStringLiteral("не поддерживается для записи");
    QTest::newRow("name too long")
        << make({Field(QStringLiteral("A").repeated(26), FieldType::Long)}, 0)
        << QStringLiteral("длиннее 25 символов");
    QTest::newRow("name not cp1251") << make({Field(QStringLiteral("名"), FieldType::Long)}, 0)
                                     << QStringLiteral("кодовой странице 1251");
}

void TestParadox::writerRefusesBadSchemas()
{
    QFETCH(Schema, schema);
    QFETCH(QString, fragment);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.db"));
    try {
        createEmptyTable(path, schema);
        QFAIL("schema accepted");
    } catch (const EDBEngineError &e) {
        QVERIFY2(e.Message().contains(fragment), qPrintable(e.Message()));
        QVERIFY2(e.Message().contains(QStringLiteral("Недопустимое описание таблицы")),
                 qPrintable(e.Message()));
    }
    QVERIFY(!QFile::exists(path));
}

void TestParadox::createFailsWhenTableExists()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Brigade.db"));
    createEmptyTable(path, smallSchema());
    const QByteArray before = testsupport::readFile(path);
    QVERIFY_THROWS_EXCEPTION(EDBEngineError, createEmptyTable(path, smallSchema()));
    QCOMPARE(testsupport::readFile(path), before);

    // A table that appears between creating the writer and finishing it is not overwritten.
    const QString other = dir.filePath(QStringLiteral("Other.db"));
    TableWriter writer(other, smallSchema());
    writer.append({1, QStringLiteral("a")});
    testsupport::writeFile(other, QByteArray("someone else's"));
    try {
        writer.finish();
        QFAIL("overwrote a table");
    } catch (const EDBEngineError &e) {
        QVERIFY2(e.Message().contains(QStringLiteral("уже существует")), qPrintable(e.Message()));
    }
    QCOMPARE(testsupport::readFile(other), QByteArray("someone else's"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Other.px"))));
    // No temporary files are left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void TestParadox::emptyTableIsValid()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("EMPTY.DB"));
    testsupport::writeFile(dir.filePath(QStringLiteral("EMPTY.X01")), "left by a deleted table");
    createEmptyTable(path, allTypesSchema());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("EMPTY.X01"))));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("EMPTY.PX"))));
    TableReader reader(path);
    verifyPrimaryIndex(path);
    QCOMPARE(reader.recordCount(), qint64(0));
    Row row;
    QVERIFY(!reader.next(row));
    const pxoracle::Table px = pxoracle::read(path);
    QVERIFY2(px.ok, qPrintable(px.error));
    QCOMPARE(px.recordCount, 0);
    // The empty index has no blocks but a valid header.
    const QByteArray pxBytes = testsupport::readFile(dir.filePath(QStringLiteral("EMPTY.PX")));
    QCOMPARE(pxBytes.size(), 2048);
    QCOMPARE(int(pxBytes[4]), 1);
    QCOMPARE(int(pxBytes[0x21]), 2);
}

void TestParadox::rowsComeOutInKeyOrder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.db"));
    Schema s;
    s.fields = {Field(QStringLiteral("A"), FieldType::Short),
                Field(QStringLiteral("B"), FieldType::Number),
                Field(QStringLiteral("V"), FieldType::Alpha, 10)};
    s.keyFieldCount = 2;
    std::vector<Row> rows;
    QList<QPair<int, double>> keys;
    for (int i = 0; i < 3000; ++i) {
        const int a = int(QRandomGenerator::global()->bounded(-50, 50));
        const double b = (int(QRandomGenerator::global()->bounded(2000)) - 1000) / 8.0;
        if (keys.contains({a, b}))
            continue;
        keys.append({a, b});
        rows.push_back({a, b, QString::number(i)});
    }
    writeTable(path, s, rows);
    std::sort(keys.begin(), keys.end());
    const std::vector<Row> back = readAllRows(path);
    QCOMPARE(back.size(), size_t(keys.size()));
    for (qsizetype i = 0; i < keys.size(); ++i) {
        QCOMPARE(back[size_t(i)][0].toInt(), keys[i].first);
        QCOMPARE(back[size_t(i)][1].toDouble(), keys[i].second);
    }

    // The same key twice is a key violation naming the key.
    rows.push_back(rows.front());
    try {
        writeTable(dir.filePath(QStringLiteral("dup.db")), s, rows);
        QFAIL("duplicate accepted");
    } catch (const EDBEngineError &e) {
        QVERIFY2(e.Message().startsWith(QStringLiteral("Нарушение ключа в таблице")),
                 qPrintable(e.Message()));
        QVERIFY2(e.Message().contains(QStringLiteral("A=%1").arg(rows.front()[0].toInt())),
                 qPrintable(e.Message()));
    }
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("dup.db"))));
}

void TestParadox::unkeyedTableKeepsAppendOrder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.db"));
    Schema s;
    s.fields = {Field(QStringLiteral("N"), FieldType::Long)};
    std::vector<Row> rows;
    for (int i = 0; i < 1000; ++i)
        rows.push_back({(i * 7919) % 1000});
    rows.push_back({(7919) % 1000}); // duplicates are fine without a key
    writeTable(path, s, rows);
    QVERIFY(!QFile::exists(primaryIndexPath(path)));
    const std::vector<Row> back = readAllRows(path);
    QCOMPARE(back.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        QCOMPARE(back[i][0], rows[i][0]);
    const pxoracle::Table px = pxoracle::read(path);
    QVERIFY2(px.ok, qPrintable(px.error));
    QCOMPARE(px.recordCount, int(rows.size()));
}

void TestParadox::rewriteReplacesTable()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Region.DB"));
    writeTable(path, smallSchema(), smallRows(10));
    testsupport::writeFile(dir.filePath(QStringLiteral("Region.X02")), "stale");
    testsupport::writeFile(dir.filePath(QStringLiteral("Region.VAL")), "stale");
    testsupport::writeFile(dir.filePath(QStringLiteral("RegionOther.X02")), "keep");

    std::vector<Row> rows = readAllRows(path);
    rows.erase(rows.begin());
    rows.push_back({100, QStringLiteral("Новая")});
    rewriteTable(path, smallSchema(), rows);
    const std::vector<Row> back = readAllRows(path);
    QCOMPARE(back.size(), size_t(10));
    QCOMPARE(back.front()[0].toInt(), 2);
    QCOMPARE(back.back()[1].toString(), QStringLiteral("Новая"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Region.X02"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Region.VAL"))));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("RegionOther.X02"))));
    verifyPrimaryIndex(path);
    const pxoracle::Table px = pxoracle::read(path, primaryIndexPath(path), true);
    QVERIFY2(px.ok, qPrintable(px.error));
    QCOMPARE(px.recordCount, 10);

    // A refused row leaves the old table untouched.
    const QByteArray before = testsupport::readFile(path);
    rows.push_back({100, QStringLiteral("дубль")});
    QVERIFY_THROWS_EXCEPTION(EDBEngineError, rewriteTable(path, smallSchema(), rows));
    QCOMPARE(testsupport::readFile(path), before);
    QStringList left =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.sort();
    QCOMPARE(left, QStringList({QStringLiteral("Region.DB"), QStringLiteral("Region.PX"),
                                QStringLiteral("RegionOther.X02")}));
}

void TestParadox::corruptInputs_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("fragment");

    // 300 rows of 104 bytes: 19 per 2 KiB block, 16 blocks.
    const QByteArray good = tableBytes(smallSchema(), smallRows(300));
    const int hs = 2048;
    const int bs = 2048;
    auto blockAt = [&](int n) { return hs + (n - 1) * bs; };
    auto with = [&](auto change) {
        QByteArray b = good;
        change(b);
        return b;
    };

    QTest::newRow("empty file") << QByteArray() << QStringLiteral("файл короче заголовка");
    QTest::newRow("truncated header") << good.left(1000) << QStringLiteral("файл короче заголовка");
    QTest::newRow("truncated in a block")
        << good.left(blockAt(16) + 200) << QStringLiteral("записи блока 16 выходят за конец файла");
    QTest::newRow("truncated to header")
        << good.left(hs) << QStringLiteral("не соответствует размеру файла");
    QTest::newRow("self-referencing block")
        << with([&](QByteArray &b) { putU16(b, blockAt(1), 1); }) << QStringLiteral("зациклена");
    QTest::newRow("cycle back to start")
        << with([&](QByteArray &b) { putU16(b, blockAt(3), 1); }) << QStringLiteral("зациклена");
    QTest::newRow("wrong back link") << with([&](QByteArray &b) { putU16(b, blockAt(2) + 2, 5); })
                                     << QStringLiteral("обратная ссылка блока 2");
    QTest::newRow("block number out of range")
        << with([&](QByteArray &b) { putU16(b, blockAt(4), 60000); })
        << QStringLiteral("номер блока 60000 вне файла");
    QTest::newRow("first block out of range") << with([&](QByteArray &b) { putU16(b, 0x0E, 17); })
                                              << QStringLiteral("номер блока 17 вне файла");
    QTest::newRow("forged field size")
        << with([&](QByteArray &b) { b[0x78 + 3] = char(255); })
        << QStringLiteral("размер записи 104 не равен сумме размеров полей 259");
    QTest::newRow("forged fixed field size")
        << with([&](QByteArray &b) { b[0x78 + 1] = char(200); })
        << QStringLiteral("поле K типа Long имеет недопустимый размер 200");
    QTest::newRow("record size mismatch") << with([&](QByteArray &b) { putU16(b, 0, 50); })
                                          << QStringLiteral("размер записи 50 не равен");
    QTest::newRow("record size larger than block") << with([&](QByteArray &b) {
        putU16(b, 0, 4000);
        b[0x78 + 3] = char(255);
    }) << QStringLiteral("не равен сумме");
    QTest::newRow("absurd record count")
        << with([&](QByteArray &b) { putU32(b, 6, 0xFFFFFFFFu); })
        << QStringLiteral("в блоках 300 записей, а в заголовке 4294967295");
    QTest::newRow("block claims too many records")
        << with([&](QByteArray &b) { putU16(b, blockAt(2) + 4, 32000); })
        << QStringLiteral("неверное смещение последней записи в блоке 2");
    QTest::newRow("block over capacity")
        << with([&](QByteArray &b) { putU16(b, blockAt(2) + 4, 30 * 104); })
        << QStringLiteral("больше его ёмкости");
    QTest::newRow("negative offset")
        << with([&](QByteArray &b) { putU16(b, blockAt(2) + 4, 0x8000); })
        << QStringLiteral("неверное смещение последней записи в блоке 2");
    QTest::newRow("unknown field type")
        << with([&](QByteArray &b) { b[0x78 + 2] = char(0x30); })
        << QStringLiteral("поле Name имеет неизвестный тип (код 48)");
    QTest::newRow("no fields") << with([&](QByteArray &b) { putU16(b, 0x21, 0); })
                               << QStringLiteral("недопустимое число полей (0)");
    QTest::newRow("negative field count") << with([&](QByteArray &b) { putU16(b, 0x21, 0xFFFF); })
                                          << QStringLiteral("недопустимое число полей (-1)");
    QTest::newRow("field count beyond header") << with([&](QByteArray &b) { putU16(b, 0x21, 255); })
                                               << QStringLiteral("Повреждён файл таблицы");
    QTest::newRow("too many key fields")
        << with([&](QByteArray &b) { putU16(b, 0x23, 3); }) << QStringLiteral("ключевых полей (3)");
    QTest::newRow("header size beyond file") << with([&](QByteArray &b) {
        putU16(b, 2, 0xFFFF);
        b.truncate(40000);
    }) << QStringLiteral("файл короче заголовка");
    QTest::newRow("header size too small") << with([&](QByteArray &b) { putU16(b, 2, 0x60); })
                                           << QStringLiteral("недопустимый размер заголовка");
    QTest::newRow("block size code") << with([&](QByteArray &b) { b[5] = 7; })
                                     << QStringLiteral("недопустимый размер блока (7)");
    QTest::newRow("index file as table")
        << with([&](QByteArray &b) { b[4] = 1; }) << QStringLiteral("тип файла 1");
    QTest::newRow("unknown version") << with([&](QByteArray &b) { b[0x39] = 40; })
                                     << QStringLiteral("неизвестная версия формата (40)");
    QTest::newRow("encrypted") << with([&](QByteArray &b) { putU32(b, 0x5C, 0x1234); })
                               << QStringLiteral("зашифрована");
    QTest::newRow("used blocks above file blocks")
        << with([&](QByteArray &b) { putU16(b, 0x0A, 40); })
        << QStringLiteral("число блоков в заголовке");
    QTest::newRow("chain shorter than declared")
        << with([&](QByteArray &b) { putU16(b, blockAt(10), 0); })
        << QStringLiteral("в цепочке 10 блоков, а в заголовке 16");
    QTest::newRow("field name without end") << with([&](QByteArray &b) {
        for (int i = 0x78 + 4 + 4 + 8 + 261; i < hs; ++i)
            b[i] = 'x';
    }) << QStringLiteral("выходит за заголовок");
}

void TestParadox::corruptInputs()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, fragment);
    try {
        TableReader reader(bytes, QStringLiteral("Person.DB"));
        readAll(reader);
        QFAIL("damage not detected");
    } catch (const EDBEngineError &e) {
        QVERIFY2(e.Message().contains(fragment), qPrintable(e.Message()));
        QVERIFY2(e.Message().contains(QStringLiteral("Person.DB")), qPrintable(e.Message()));
    }
}

void TestParadox::randomDamageNeverCrashes()
{
    // Flipping bytes of valid tables must end in rows or a clear error, never in a crash or hang.
    const QByteArray good = tableBytes(allTypesSchema(), allTypesRows());
    const QByteArray big = tableBytes(smallSchema(), smallRows(200));
    QRandomGenerator rng(20240611);
    int refused = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 3000; ++i) {
        QByteArray b = (i % 2) ? good : big;
        const int flips = 1 + int(rng.bounded(4));
        for (int f = 0; f < flips; ++f) {
            // Mostly the header and block headers, where damage matters.
            const int limit = rng.bounded(3) == 0 ? int(b.size()) : 0x200;
            b[int(rng.bounded(limit))] = char(rng.bounded(256));
        }
        if (rng.bounded(10) == 0)
            b.truncate(int(rng.bounded(int(b.size()))));
        try {
            TableReader reader(b, QStringLiteral("x.db"));
            readAll(reader);
        } catch (const EDBEngineError &) {
            ++refused;
        }
    }
    QVERIFY(refused > 100);
    QVERIFY(timer.elapsed() < 60000);
}

void TestParadox::largeTableHasTwoLevelIndex()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Person.db"));
    Schema s;
    s.fields = {Field(QStringLiteral("PrnLID"), FieldType::Long),
                Field(QStringLiteral("PrnSurName"), FieldType::Alpha, 15),
                Field(QStringLiteral("PrnName"), FieldType::Alpha, 15),
                Field(QStringLiteral("PrnSex"), FieldType::Short),
                Field(QStringLiteral("PrnDate"), FieldType::Date),
                Field(QStringLiteral("Mass"), FieldType::Number),
                Field(QStringLiteral("Smoker"), FieldType::Logical),
                Field(QStringLiteral("CrDate"), FieldType::Timestamp),
                Field(QStringLiteral("WstGID"), FieldType::Long),
                Field(QStringLiteral("kod"), FieldType::Alpha, 10)};
    s.keyFieldCount = 1;
    const int n = 100000;
    {
        TableWriter writer(path, s);
        // Appended out of key order: the writer sorts.
        for (int i = 0; i < n; ++i) {
            const int key = int((qint64(i) * 48271) % n) + 1;
            writer.append({key, QStringLiteral("Фамилия%1").arg(key % 1000), QStringLiteral("Имя"),
                           key % 2, QDate(1950, 1, 1).addDays(key % 20000), key / 7.0,
                           key % 3 == 0 ? QVariant() : QVariant(key % 3 == 1),
                           QDateTime(QDate(2005, 6, 1), QTime(9, 30)).addSecs(key), 12,
                           QVariant()});
        }
        writer.finish();
    }
    const QString pxPath = dir.filePath(QStringLiteral("Person.px"));
    const QByteArray pxHeader = testsupport::readFile(pxPath).left(0x58);
    QCOMPARE(int(pxHeader[0x20]), 2);

    TableReader reader(path);
    QCOMPARE(reader.recordCount(), qint64(n));
    Row row;
    int expected = 1;
    while (reader.next(row)) {
        QCOMPARE(row[0].toInt(), expected);
        ++expected;
    }
    QCOMPARE(expected, n + 1);

    verifyPrimaryIndex(path);
    const pxoracle::Table px = pxoracle::read(path, pxPath, true);
    QVERIFY2(px.ok, qPrintable(px.error));
    QCOMPARE(px.recordCount, n);
    for (int i = 0; i < n; ++i)
        QCOMPARE(px.rows[size_t(i)][0].toInt(), i + 1);
    QCOMPARE(px.rows[41][1].toString(), QStringLiteral("Фамилия42"));
}

void TestParadox::deepIndexForLongKeys()
{
    // Long alpha keys leave room for only a few entries per index block, so a modest table needs
    // more than two levels. pxlib reads only two levels, so the tree is checked here by walking
    // it from the root as a lookup would.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("deep.db"));
    Schema s;
    s.fields = {Field(QStringLiteral("Code"), FieldType::Alpha, 250),
                Field(QStringLiteral("N"), FieldType::Long)};
    s.keyFieldCount = 1;
    const int n = 3000;
    std::vector<Row> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0')), i});
    writeTable(path, s, rows);

    const QByteArray px = testsupport::readFile(primaryIndexPath(path));
    const QByteArray db = testsupport::readFile(path);
    auto u16 = [](const QByteArray &b, qsizetype off) {
        return int(uchar(b[off])) | (int(uchar(b[off + 1])) << 8);
    };
    auto word = [](const QByteArray &b, qsizetype off) {
        return ((int(uchar(b[off])) << 8) | int(uchar(b[off + 1]))) ^ 0x8000;
    };
    const int levels = uchar(px[0x20]);
    QVERIFY2(levels >= 3, qPrintable(QString::number(levels)));
    const int pxBs = uchar(px[5]) * 1024;
    const int dbBs = uchar(db[5]) * 1024;
    const int entry = 256;
    // Walk every path from the root; collect leaf entries in order.
    std::vector<std::pair<int, int>> leaves; // data block, count
    std::function<int(int, int)> walk = [&](int block, int level) -> int {
        const qsizetype base = 2048 + qsizetype(block - 1) * pxBs;
        const int count = qint16(u16(px, base + 4)) / entry + 1;
        int sum = 0;
        for (int i = 0; i < count; ++i) {
            const qsizetype e = base + 6 + qsizetype(i) * entry;
            const int target = word(px, e + 250);
            const int c = word(px, e + 252);
            if (level == 1) {
                leaves.emplace_back(target, c);
                // The entry's key is the first key of its data block.
                const qsizetype rec = 2048 + qsizetype(target - 1) * dbBs + 6;
                if (std::memcmp(px.constData() + e, db.constData() + rec, 250) != 0)
                    return -1;
            } else if (walk(target, level - 1) != c) {
                return -1;
            }
            sum += c;
        }
        return sum;
    };
    QCOMPARE(walk(u16(px, 0x1E), levels), n);
    verifyPrimaryIndex(path);
    // Leaves list the data chain in order.
    for (size_t i = 0; i < leaves.size(); ++i)
        QCOMPARE(leaves[i].first, int(i + 1));
    QCOMPARE(readAllRows(path).size(), size_t(n));
}

void TestParadox::sampleIndexesAreConsistent_data()
{
    QTest::addColumn<QString>("file");
    const QDir dir(QDir(testsupport::testDataDir()).filePath(QStringLiteral("paradox")));
    for (const QString &f :
         dir.entryList({QStringLiteral("*.px"), QStringLiteral("*.PX")}, QDir::Files)) {
        const QString base = QFileInfo(f).completeBaseName();
        const QStringList db =
            dir.entryList({base + QStringLiteral(".db"), base + QStringLiteral(".DB")});
        if (!db.isEmpty())
            QTest::newRow(qPrintable(db.front())) << dir.filePath(db.front());
    }
}

void TestParadox::sampleIndexesAreConsistent()
{
    // Indexes written by the engine itself pass the same check as ours.
    QFETCH(QString, file);
    verifyPrimaryIndex(file);
}

void TestParadox::damagedIndexes_data()
{
    QTest::addColumn<QByteArray>("px");
    QTest::addColumn<QString>("fragment");
    // 5000 rows of 104 bytes: 264 data blocks, two index levels.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.db"));
    writeTable(path, smallSchema(), smallRows(5000));
    const QByteArray good = testsupport::readFile(primaryIndexPath(path));
    QVERIFY(good[0x20] == 2);
    QTemporaryDir other;
    std::vector<Row> shifted = smallRows(5001);
    shifted.erase(shifted.begin());
    writeTable(other.filePath(QStringLiteral("t.db")), smallSchema(), shifted);
    const QByteArray stale = testsupport::readFile(other.filePath(QStringLiteral("t.px")));
    auto with = [&](auto change) {
        QByteArray b = good;
        change(b);
        return b;
    };
    const int leaf1 = 2048 + 2048; // block 2: the first leaf
    QTest::newRow("index of other rows")
        << stale << QStringLiteral("не совпадает с первой записью");
    QTest::newRow("missing index") << QByteArray() << QStringLiteral("Не удаётся открыть индекс");
    QTest::newRow("truncated") << good.left(3000) << QStringLiteral("Повреждён индекс таблицы");
    QTest::newRow("root points to itself") << with([&](QByteArray &b) {
        b[2048 + 6 + 4] = char(0x80);
        b[2048 + 6 + 5] = 1;
    }) << QStringLiteral("встречается в дереве дважды");
    QTest::newRow("root out of range") << with([&](QByteArray &b) { putU16(b, 0x1E, 900); })
                                       << QStringLiteral("корневой блок 900 вне файла");
    QTest::newRow("too many levels")
        << with([&](QByteArray &b) { b[0x20] = 3; }) << QStringLiteral("Повреждён индекс таблицы");
    QTest::newRow("leaf count") << with([&](QByteArray &b) { b[leaf1 + 6 + 4 + 3] = 5; })
                                << QStringLiteral("не соответствует блоку данных");
    QTest::newRow("entry total") << with([&](QByteArray &b) { putU32(b, 6, 1); })
                                 << QStringLiteral("элементов, а в заголовке 1");
    QTest::newRow("key field type")
        << with([&](QByteArray &b) { b[0x58] = 3; }) << QStringLiteral("описание ключевого поля K");
    QTest::newRow("data file as index")
        << testsupport::readFile(path) << QStringLiteral("это не файл первичного индекса");
}

void TestParadox::damagedIndexes()
{
    QFETCH(QByteArray, px);
    QFETCH(QString, fragment);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.db"));
    writeTable(path, smallSchema(), smallRows(5000));
    const QString pxPath = primaryIndexPath(path);
    QFile::remove(pxPath);
    if (!px.isNull())
        testsupport::writeFile(pxPath, px);
    try {
        verifyPrimaryIndex(path);
        QFAIL("damage not detected");
    } catch (const EDBEngineError &e) {
        QVERIFY2(e.Message().contains(fragment), qPrintable(e.Message()));
        QVERIFY2(e.Message().contains(QDir::toNativeSeparators(pxPath)), qPrintable(e.Message()));
    }
}

QTEST_GUILESS_MAIN(TestParadox)
#include "test_paradox.moc"
