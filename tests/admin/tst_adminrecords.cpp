// Record objects, the wizard's filters and its data module, over a central database.
#include "../data/centraldb.h"
#include "admin/dbobjects.h"
#include "admin/wwdatamodule.h"
#include "core/errors.h"
#include "engine/filter.h"
#include "engine/table.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

QString q(const char *s)
{
    return QString::fromUtf8(s);
}
QString q(const QString &s)
{
    return s;
}
template <class... T> QStringList sl(const T &...items)
{
    return QStringList{q(items)...};
}

QStringList pairsOf(const TSimpleFilter &f)
{
    QStringList l;
    for (const TSimpleFilter::TPair &p : f.Pairs())
        l << p.Name + QLatin1Char('|') + p.Condition;
    return l;
}

QStringList column(TDataSet &ds, const QString &name)
{
    QStringList l;
    ds.ScanRows([&](const QVariantList &row) {
        l << NullToStr(row.value(ds.FieldByName(name)->Index()));
        return true;
    });
    return l;
}

void addBackends()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << QStringLiteral("SQLITE");
    QTest::newRow("postgresql") << QStringLiteral("POSTGRESQL");
}

#define SKIP_UNLESS_BACKEND(backend)                                                               \
    if (backend == QLatin1String("POSTGRESQL")) {                                                  \
        ZORU_REQUIRE_PG_OR_SKIP(pg);                                                               \
        Q_UNUSED(pg);                                                                              \
    }

} // namespace

class TestAdminRecords : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void filterParse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("pairs");
        QTest::addColumn<QString>("back");
        QTest::newRow("empty") << "" << QStringList() << "";
        QTest::newRow("is null") << "REGGID IS NULL" << sl("REGGID| IS NULL") << "REGGID IS NULL";
        QTest::newRow("neither") << "ABC" << sl("|ABC") << "ABC";
        QTest::newRow("repeated name")
            << "REGGID=1 AND CITYNAME='A*' AND REGGID=2" << sl("REGGID|=2", "CITYNAME|='A*'")
            << "REGGID=2 AND CITYNAME='A*'";
        QTest::newRow("quoted and, =")
            << "CITYNAME='A AND B=C*' AND REGGID=1" << sl("CITYNAME|='A AND B=C*'", "REGGID|=1")
            << "CITYNAME='A AND B=C*' AND REGGID=1";
        QTest::newRow("doubled quote")
            << "MU='O'' AND ''X*' AND REGGID IS NULL" << sl("MU|='O'' AND ''X*'", "REGGID| IS NULL")
            << "MU='O'' AND ''X*' AND REGGID IS NULL";
    }
    void filterParse()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, pairs);
        QFETCH(QString, back);
        const TSimpleFilter f(text);
        QCOMPARE(pairsOf(f), pairs);
        QCOMPARE(f.GetText(), back);
        QCOMPARE(pairsOf(TSimpleFilter(f.GetText())), pairs);
    }

    void filterEdit()
    {
        TSimpleFilter f(QStringLiteral("REGGID=12"));
        f.SetCondition(QStringLiteral("CITYNAME"), QStringLiteral("='МОС*'"));
        f.SetCondition(QStringLiteral("REGGID"), QStringLiteral(" IS NULL"));
        QCOMPARE(f.GetText(), QStringLiteral("REGGID IS NULL AND CITYNAME='МОС*'"));
        f.RemoveCondition(QStringLiteral("regGID")); // names compare exactly
        f.RemoveCondition(QStringLiteral("REGGID"));
        f.RemoveCondition(QStringLiteral("CITYNAME"));
        QCOMPARE(f.GetText(), QString());
    }

    // What a filter box makes of typed text is a filter the engine reads back as that text.
    void quotedValueReachesEngine_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("quote") << "O'BRIEN";
        QTest::newRow("and") << "A AND B";
        QTest::newRow("equals and quotes") << "='' AND x='";
    }
    void quotedValueReachesEngine()
    {
        QFETCH(QString, typed);
        TSimpleFilter f(QStringLiteral("REGGID=3"));
        f.SetCondition(QStringLiteral("MU"),
                       QLatin1Char('=') + TSimpleFilter::Quoted(typed + u'*'));
        const engine::TRowFilter parsed =
            engine::TRowFilter::Parse(TSimpleFilter(f.GetText()).GetText(), true);
        QCOMPARE(parsed.Conditions.size(), 2);
        QCOMPARE(parsed.Conditions.at(1).Field, QStringLiteral("MU"));
        QCOMPARE(parsed.Conditions.at(1).Op, engine::TFilterCondition::Prefix);
        QCOMPARE(parsed.Conditions.at(1).Value.toString(), typed);
    }

    void keysAndNulls()
    {
        TMemoryTable t;
        t.AddFieldDef(QStringLiteral("UserGID"), TFieldType::ftInteger);
        t.AddFieldDef(QStringLiteral("WstGID"), TFieldType::ftInteger);
        t.Open();
        TSimpleDBObject o(t, nullptr, QStringLiteral("UserGID;bogus;WSTGID;usergid"));
        QCOMPARE(o.KeyFields(), sl("USERGID", "WSTGID", "USERGID")); // unknown dropped, repeat kept
        QCOMPARE(NullToStr(o.GetValue(QStringLiteral("usergid"))), QString());
        QCOMPARE(NullToInt(o.GetValue(QStringLiteral("WstGid"))), 0);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, o.GetValue(QStringLiteral("NOPE")));
    }

    // A new row reads back the identifier the database gave it; the dataset is left open or
    // closed as it was found.
    void saveReadsBackId_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("open");
        for (const char *b : {"SQLITE", "POSTGRESQL"}) {
            const QString backend = QString::fromLatin1(b);
            QTest::addRow("%s operator, trigger, closed", b) << backend << "OPERATOR"
                                                             << "UserGID;WstGID"
                                                             << "USERGID" << false;
            QTest::addRow("%s workstation, open", b) << backend << "WORKSTATION"
                                                     << "WstGID"
                                                     << "WSTGID" << true;
        }
    }
    void saveReadsBackId()
    {
        QFETCH(QString, backend);
        QFETCH(QString, table);
        QFETCH(QString, keys);
        QFETCH(QString, id);
        QFETCH(bool, open);
        SKIP_UNLESS_BACKEND(backend);
        CentralDb central(backend);
        central.Exec(QStringLiteral("INSERT INTO OPERATOR (WSTGID, USERGID, USERNAME, USERHASH, "
                                    "USERLEVEL) VALUES (7, 1, 'A', '0', 0)"));
        central.Exec(QStringLiteral("INSERT INTO WORKSTATION (WSTNAME) VALUES ('A')"));
        TTable t(&central.Db(), table);
        t.Open();
        TSimpleDBObject o(t, nullptr, keys);
        t.SetActive(open);
        TFieldSet k;
        k.Put(QStringLiteral("WstGID"), QVariant());
        QVERIFY(!o.Load(k));
        o.SetValue(QStringLiteral("WstGID"), table == QLatin1String("OPERATOR") ? 7 : QVariant());
        const QString name = table == QLatin1String("OPERATOR") ? QStringLiteral("USERNAME")
                                                                : QStringLiteral("WSTNAME");
        o.SetValue(name, QStringLiteral("Иванов"));
        if (table == QLatin1String("OPERATOR")) {
            o.SetValue(QStringLiteral("UserHash"), QStringLiteral("0"));
            o.SetValue(QStringLiteral("UserLevel"), 1);
        }
        o.Save();
        QCOMPARE(t.Active(), open);
        const QVariant newId = o.GetValue(id);
        QCOMPARE(newId.toInt(), 2);
        if (open)
            QCOMPARE(t.FieldByName(id)->AsInteger(), 2);
        // Saved again under its key: the same row is changed.
        o.SetValue(name, QStringLiteral("Петров"));
        o.Save();
        QCOMPARE(central.Scalar(QStringLiteral("SELECT COUNT(*) FROM ") + table).toInt(), 2);
        t.Open();
        TSimpleDBObject again(t, nullptr, keys);
        t.SetActive(open);
        TFieldSet byName;
        byName.Put(name, QStringLiteral("Петров"));
        QVERIFY(again.Load(byName));
        QCOMPARE(again.GetValue(id), newId);
        QCOMPARE(t.Active(), open);
    }

    // A refused row (duplicate operator name) is cancelled; the object keeps its values and a
    // corrected second save writes exactly one row.
    void failedSaveRecovers_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("open");
        for (const char *b : {"SQLITE", "POSTGRESQL"})
            for (const bool open : {false, true})
                QTest::addRow("%s %s", b, open ? "open" : "closed")
                    << QString::fromLatin1(b) << open;
    }
    void failedSaveRecovers()
    {
        QFETCH(QString, backend);
        QFETCH(bool, open);
        SKIP_UNLESS_BACKEND(backend);
        CentralDb central(backend);
        central.Exec(QStringLiteral("INSERT INTO OPERATOR (WSTGID, USERGID, USERNAME, USERHASH, "
                                    "USERLEVEL) VALUES (7, 1, 'ИВАНОВ', '0', 0)"));
        TTable t(&central.Db(), QStringLiteral("OPERATOR"));
        t.Open();
        TSimpleDBObject o(t, nullptr, QStringLiteral("UserGID;WstGID"));
        t.SetActive(open);
        o.SetValue(QStringLiteral("WSTGID"), 7);
        o.SetValue(QStringLiteral("USERNAME"), QStringLiteral("ИВАНОВ"));
        o.SetValue(QStringLiteral("USERHASH"), QStringLiteral("0"));
        o.SetValue(QStringLiteral("USERLEVEL"), 0);
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, o.Save());
        QCOMPARE(t.Active(), open);
        if (open)
            QCOMPARE(t.State(), TDataSetState::dsBrowse);
        QVERIFY(o.GetValue(QStringLiteral("USERGID")).isNull());
        o.SetValue(QStringLiteral("USERNAME"), QStringLiteral("ПЕТРОВ"));
        o.Save();
        QCOMPARE(central.Scalar(QStringLiteral("SELECT COUNT(*) FROM OPERATOR")).toInt(), 2);
        QCOMPARE(o.GetValue(QStringLiteral("USERGID")).toInt(), 2);
    }

    // The chain region → hospitals / cities → brigades, the "ПРОЧИЕ..." rows and the "Полный"
    // patterns (case ignored, quotes harmless).
    void dataModule_data() { addBackends(); }
    void dataModule()
    {
        QFETCH(QString, backend);
        SKIP_UNLESS_BACKEND(backend);
        CentralDb c(backend);
        c.Exec(QStringLiteral("INSERT INTO REGION (REGGID, REGNAME, REGOKATO) VALUES "
                              "(1, 'Омская область', '52'), (2, 'Томская область', '69')"));
        c.Exec(QStringLiteral("INSERT INTO HOSPITAL (HSPGID, IDMU, MU, REGGID) VALUES "
                              "(10, 1, 'ЦРБ', 1), (11, 2, 'Больница', NULL), (12, 3, 'ГБ', 2)"));
        c.Exec(QStringLiteral("INSERT INTO CITY (CITYGID, CITYNAME, CITYSOATO, REGGID) VALUES "
                              "(100, 'г. Омск', '1', 1), (101, 'Исилькуль', '2', 1), "
                              "(102, 'Хутор', '3', NULL)"));
        c.Exec(QStringLiteral("INSERT INTO BRIGADE (BRGGID, BRGNAME, CITYGID) VALUES "
                              "(5, 'Бригада', 100), (6, 'Без города', NULL)"));
        c.Exec(QStringLiteral("INSERT INTO WORKSTATION (WSTGID, WSTNAME, HSPGID, BRGGID) VALUES "
                              "(20, 'Ст1', 10, NULL), (21, 'Ст2', NULL, 6)"));

        TWWDM dm(&c.Db());
        QSignalSpy pages(&dm, &TWWDM::UpdatePages);
        dm.SetWorkstationMaster(1);
        for (TDataSet *ds :
             std::initializer_list<TDataSet *>{&dm.itRegionNotNull, &dm.itRegion, &dm.itCity,
                                               &dm.itHospital, &dm.itWorkstation, &dm.itOperator})
            ds->Open();
        dm.itRegionAfterScroll();
        QVERIFY(!pages.isEmpty());
        QCOMPARE(column(dm.itRegion, QStringLiteral("REGNAME")),
                 sl("Омская область", "Томская область", kOtherRow));
        QCOMPARE(column(dm.itHospital, QStringLiteral("MU")), sl("ЦРБ"));
        QCOMPARE(column(dm.itCity, QStringLiteral("CITYNAME")),
                 sl("Исилькуль", "г. Омск", kOtherRow));
        QCOMPARE(column(dm.itWorkstation, QStringLiteral("WSTNAME")), sl("Ст1"));

        // The "ПРОЧИЕ..." region: hospitals and cities without a region.
        QVERIFY(dm.itRegion.Locate(QStringLiteral("REGNAME"), kOtherRow));
        QCOMPARE(column(dm.itHospital, QStringLiteral("MU")), sl("Больница"));
        QCOMPARE(column(dm.itCity, QStringLiteral("CITYNAME")), sl("Хутор", kOtherRow));
        QCOMPARE(dm.itCityNotNull.Filter(), QStringLiteral("REGGID IS NULL"));
        // The "ПРОЧИЕ..." city: brigades without a city, and their workstations.
        dm.SetWorkstationMaster(2);
        QVERIFY(dm.itCity.Locate(QStringLiteral("CITYNAME"), kOtherRow));
        QCOMPARE(column(dm.itBrigade, QStringLiteral("BRGNAME")), sl("Без города"));
        dm.itWorkstation.Open();
        QCOMPARE(column(dm.itWorkstation, QStringLiteral("WSTNAME")), sl("Ст2"));

        // A city condition typed into the box survives a change of region.
        QVERIFY(dm.itRegion.Locate(QStringLiteral("REGGID"), 1));
        TSimpleFilter f(dm.itCityNotNull.Filter());
        f.SetCondition(QStringLiteral("CITYNAME"), QStringLiteral("='Г*'"));
        dm.itCityNotNull.SetFilterOptions(TFilterOption::foCaseInsensitive);
        dm.itCityNotNull.SetFilter(f.GetText());
        dm.itCity.Close();
        dm.itCity.Open();
        QCOMPARE(column(dm.itCity, QStringLiteral("CITYNAME")), sl("г. Омск", kOtherRow));
        QVERIFY(dm.itRegion.Locate(QStringLiteral("REGGID"), 2));
        QCOMPARE(dm.itCityNotNull.Filter(), QStringLiteral("REGGID=2 AND CITYNAME='Г*'"));
        QCOMPARE(column(dm.itCity, QStringLiteral("CITYNAME")), sl(kOtherRow));

        // "Полный": upper-cased typed text finds mixed-case names; a quote is only a character.
        QVERIFY(dm.itRegion.Locate(QStringLiteral("REGGID"), 1));
        dm.itCityNotNull.SetFilter(QStringLiteral("REGGID=1"));
        dm.SetCityPattern(QStringLiteral("%Г.%ОМСК%"));
        dm.itCity.Close();
        dm.itCity.Open();
        QCOMPARE(column(dm.itCity, QStringLiteral("CITYNAME")), sl("г. Омск", kOtherRow));
        dm.SetRegionPattern(QStringLiteral("%ТОМСКАЯ%"));
        dm.itRegion.Close();
        dm.itRegion.Open();
        QCOMPARE(column(dm.itRegion, QStringLiteral("REGNAME")), sl("Томская область", kOtherRow));
        dm.SetHospitalPattern(QStringLiteral("%'%"));
        dm.itHospital.Open();
        QVERIFY(dm.itHospital.IsEmpty());
        QVERIFY(!dm.HospitalPatternCleared());
        dm.SetHospitalPattern(QString());
        QVERIFY(dm.HospitalPatternCleared());
        dm.itHospital.Open();
        // The rebuilt region list stands on its first region.
        QCOMPARE(column(dm.itHospital, QStringLiteral("MU")), sl("ГБ"));
    }
};

QTEST_GUILESS_MAIN(TestAdminRecords)
#include "tst_adminrecords.moc"
