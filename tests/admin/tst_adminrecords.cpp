// Record objects and the wizard's filters, over a central database.
#include "admin/recordobjects.h"
#include "admin/wizarddata.h"
#include "centraldb.h"
#include "core/errors.h"
#include "engine/filter.h"
#include "engine/table.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QStringList pairsOf(const TSimpleFilter &f)
{
    QStringList l;
    for (const TSimpleFilter::TPair &p : f.Pairs())
        l << p.Name + u'|' + p.Condition;
    return l;
}

} // namespace

class TestAdminRecords : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << u"SQLITE"_s;
        QTest::newRow("postgresql") << u"POSTGRESQL"_s;
    }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == u"POSTGRESQL"_s) {
            ZORU_REQUIRE_PG_OR_SKIP(pg);
            Q_UNUSED(pg);
        }
    }

    // Parsed into pairs and written back; the text read again gives the same pairs.
    void filterParse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("pairs");
        QTest::addColumn<QString>("back");
        QTest::newRow("empty") << "" << QStringList() << "";
        QTest::newRow("is null") << "REGGID IS NULL" << QStringList{u"REGGID| IS NULL"_s}
                                 << "REGGID IS NULL";
        QTest::newRow("neither") << "ABC" << QStringList{u"|ABC"_s} << "ABC";
        QTest::newRow("repeated name")
            << "REGGID=1 AND CITYNAME='A*' AND REGGID=2"
            << QStringList{u"REGGID|=2"_s, u"CITYNAME|='A*'"_s} << "REGGID=2 AND CITYNAME='A*'";
        QTest::newRow("quoted and, =") << "CITYNAME='A AND B=C*' AND REGGID=1"
                                       << QStringList{u"CITYNAME|='A AND B=C*'"_s, u"REGGID|=1"_s}
                                       << "CITYNAME='A AND B=C*' AND REGGID=1";
        QTest::newRow("doubled quote") << "MU='O'' AND ''X*' AND REGGID IS NULL"
                                       << QStringList{u"MU|='O'' AND ''X*'"_s, u"REGGID| IS NULL"_s}
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
        TSimpleFilter f(u"REGGID=12"_s);
        f.SetCondition(u"CITYNAME"_s, u"='МОС*'"_s);
        f.SetCondition(u"REGGID"_s, u" IS NULL"_s);
        QCOMPARE(f.GetText(), u"REGGID IS NULL AND CITYNAME='МОС*'"_s);
        f.RemoveCondition(u"regGID"_s); // names compare exactly
        f.RemoveCondition(u"REGGID"_s);
        f.RemoveCondition(u"CITYNAME"_s);
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
        TSimpleFilter f(u"REGGID=3"_s);
        f.SetCondition(u"MU"_s, u'=' + TSimpleFilter::Quoted(typed + u'*'));
        const engine::TRowFilter parsed =
            engine::TRowFilter::Parse(TSimpleFilter(f.GetText()).GetText(), true);
        QCOMPARE(parsed.Conditions.size(), 2);
        QCOMPARE(parsed.Conditions.at(1).Field, u"MU"_s);
        QCOMPARE(parsed.Conditions.at(1).Op, engine::TFilterCondition::Prefix);
        QCOMPARE(parsed.Conditions.at(1).Value.toString(), typed);
    }

    void keysAndNulls()
    {
        TMemoryTable t;
        t.AddFieldDef(u"UserGID"_s, TFieldType::ftInteger);
        t.AddFieldDef(u"WstGID"_s, TFieldType::ftInteger);
        t.Open();
        TSimpleDBObject o(t, nullptr, u"UserGID;bogus;WSTGID;usergid"_s);
        // Unknown names dropped, a repeat kept.
        QCOMPARE(o.KeyFields(), (QStringList{u"USERGID"_s, u"WSTGID"_s, u"USERGID"_s}));
        QCOMPARE(NullToStr(o.GetValue(u"usergid"_s)), QString());
        QCOMPARE(NullToInt(o.GetValue(u"WstGid"_s)), 0);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, o.GetValue(u"NOPE"_s));
    }

    // A refused row (duplicate name) is cancelled and the object keeps its values; corrected, one
    // row is written and reads back the identifier the database gave it (USERGID by trigger);
    // saved again under its key, the same row changes. The dataset stays open or closed.
    void save_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("open");
        for (const bool open : {false, true}) {
            const char *state = open ? "open" : "closed";
            QTest::addRow("operator, %s", state) << u"OPERATOR"_s << u"UserGID;WstGID"_s << open;
            QTest::addRow("workstation, %s", state) << u"WORKSTATION"_s << u"WstGID"_s << open;
        }
    }
    void save()
    {
        QFETCH_GLOBAL(QString, backend);
        QFETCH(QString, table);
        QFETCH(QString, keys);
        QFETCH(bool, open);
        CentralDb central(backend);
        central.Exec(u"INSERT INTO OPERATOR (WSTGID, USERGID, USERNAME, USERHASH, USERLEVEL) "
                     "VALUES (7, 1, 'ИВАНОВ', '0', 0)"_s);
        central.Exec(u"INSERT INTO WORKSTATION (WSTNAME) VALUES ('ИВАНОВ')"_s);
        const bool op = table == u"OPERATOR"_s;
        const QString id = op ? u"USERGID"_s : u"WSTGID"_s;
        const QString name = op ? u"USERNAME"_s : u"WSTNAME"_s;
        TTable t(&central.Db(), table);
        t.Open();
        TSimpleDBObject o(t, nullptr, keys);
        t.SetActive(open);
        TFieldSet noKey;
        noKey.Put(u"WstGID"_s, QVariant());
        QVERIFY(!o.Load(noKey));
        o.SetValue(u"WstGID"_s, op ? 7 : QVariant());
        o.SetValue(name, u"ИВАНОВ"_s);
        if (op) {
            o.SetValue(u"UserHash"_s, u"0"_s);
            o.SetValue(u"UserLevel"_s, 1);
        }
        QVERIFY_THROWS_EXCEPTION(EDBEngineError, o.Save());
        QCOMPARE(t.Active(), open);
        if (open)
            QCOMPARE(t.State(), TDataSetState::dsBrowse);
        QVERIFY(o.GetValue(id).isNull());

        o.SetValue(name, u"СИДОРОВ"_s);
        o.Save();
        QCOMPARE(t.Active(), open);
        const QVariant newId = o.GetValue(id);
        QCOMPARE(newId.toInt(),
                 central.Scalar(u"SELECT %1 FROM %2 WHERE %3 = 'СИДОРОВ'"_s.arg(id, table, name))
                     .toInt());
        QVERIFY(newId.toInt() > 1);
        if (open)
            QCOMPARE(t.FieldByName(id)->AsInteger(), newId.toInt());
        o.SetValue(name, u"ПЕТРОВ"_s);
        o.Save();
        QCOMPARE(central.Scalar(u"SELECT COUNT(*) FROM "_s + table).toInt(), 2);
        t.Open();
        TSimpleDBObject again(t, nullptr, keys);
        t.SetActive(open);
        TFieldSet byName;
        byName.Put(name, u"ПЕТРОВ"_s);
        QVERIFY(again.Load(byName));
        QCOMPARE(again.GetValue(id), newId);
        QCOMPARE(t.Active(), open);
    }
};

QTEST_GUILESS_MAIN(TestAdminRecords)
#include "tst_adminrecords.moc"
