// The state of every workstation as the journals tell it, on both backends: owner and region,
// the latest export and import, the persons of 30 days, the days since the last success, who
// is silent; the persons per day of the chart; the table for a machine.

#include "jobtest.h"
#include "status/personsperday.h"
#include "status/statetable.h"
#include "status/workstationstate.h"
#include "workstationstates.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QDateTime kNow(QDate(2026, 3, 20), QTime(12, 0, 0));

// A row as "owner|region|last export result|last import label:result|persons|days|silent".
QString digest(const TWorkstationState &s)
{
    return QStringList{s.Owner,
                       s.Region,
                       s.LastExportResult,
                       s.LastImportLabel + u':' + s.LastImportResult,
                       QString::number(s.Persons),
                       QString::number(s.DaysSinceSuccess),
                       s.Silent ? u"silent"_s : u"-"_s}
        .join(u'|');
}

} // namespace

class TestWorkstationState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase_data() { jobtest::backendRows(); }

    void states_data()
    {
        QTest::addColumn<int>("silentDays");
        QTest::addColumn<QStringList>("rows");
        const QString one = u"Тарская ЦРБ|Омская||000001_b:ошибка|7|2|"_s;
        const QString two = u"Бригада №1|Тарский|ошибка|000002_a:успешно|4|20|"_s;
        const QString three = u"ФАП, \"Северный\"||успешно|:|0|-1|"_s;
        const QString four = u"Тарская ЦРБ|Омская||:|0|-1|silent"_s;
        const QString five = u"Тарская ЦРБ|Омская|успешно|:|0|-1|"_s;
        QTest::newRow("14 days") << 14
                                 << QStringList{one + u'-', two + u"silent", three + u'-', four,
                                                five + u"silent"};
        QTest::newRow("20 days") << 20
                                 << QStringList{one + u'-', two + u'-', three + u'-', four,
                                                five + u'-'};
        QTest::newRow("1 day") << 1
                               << QStringList{one + u"silent", two + u"silent", three + u"silent",
                                              four, five + u"silent"};
    }
    void states()
    {
        QFETCH_GLOBAL(QString, backend);
        QFETCH(int, silentDays);
        QFETCH(QStringList, rows);
        CentralDb c(backend);
        workstationstates::fill(c, kNow);
        const QList<TWorkstationState> states = ReadWorkstationStates(c.Db(), kNow, silentDays);
        QStringList shown;
        for (const TWorkstationState &s : states)
            shown << digest(s);
        QCOMPARE(shown, rows);
        QCOMPARE(states[0].LastImport, kNow.addDays(-1));
        QCOMPARE(states[0].LastSuccess, kNow.addDays(-2).addSecs(90));
        QCOMPARE(states[1].LastExport, kNow.addDays(-3));
        QVERIFY(!states[3].LastExport.isValid());
    }

    // Persons per day of the chart: successful runs only, on the day they started, nothing
    // outside the days asked for.
    void personsPerDay()
    {
        QFETCH_GLOBAL(QString, backend);
        CentralDb c(backend);
        workstationstates::fill(c, kNow);
        const QMap<int, QList<qint64>> perDay =
            ImportedPersonsPerDay(c.Db(), {1, 2, 4}, kNow.date(), 30);
        QCOMPARE(perDay.keys(), (QList<int>{1, 2, 4}));
        QList<qint64> one(30, 0);
        one[27] = 7;
        QCOMPARE(perDay[1], one);
        QList<qint64> two(30, 0);
        two[9] = 4;
        QCOMPARE(perDay[2], two);
        QCOMPARE(perDay[4], QList<qint64>(30, 0));
    }

    // The machine's table: one line per workstation under the column names, quotes where a
    // value holds a comma or a quote, times in ISO 8601.
    void csv()
    {
        QFETCH_GLOBAL(QString, backend);
        CentralDb c(backend);
        workstationstates::fill(c, kNow);
        const QStringList lines =
            StateTableCsv(ReadWorkstationStates(c.Db(), kNow, DefaultSilentDays));
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0], u"wstgid,wstname,owner,region,last_export,last_export_result,"
                           "last_import,last_import_label,last_import_result,persons_30d,"
                           "days_since_import,silent"_s);
        QCOMPARE(lines[3],
                 u"3,ФАП-1,\"ФАП, \"\"Северный\"\"\",,2026-03-15T12:00:00,успешно,,,,0,,0"_s);
        QVERIFY(lines[1].contains(u",2026-03-19T12:00:00,000001_b,ошибка,7,2,0"_s));
    }
};

QTEST_GUILESS_MAIN(TestWorkstationState)
#include "test_workstationstate.moc"
