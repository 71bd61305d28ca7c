// The grid over a dataset: rows and current row follow the dataset, a click moves the dataset.
#include "admin/datasetgrid.h"
#include "engine/memtable.h"

#include <QAbstractItemModelTester>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

std::unique_ptr<TMemoryTable> idAndName()
{
    auto t = std::make_unique<TMemoryTable>();
    t->AddFieldDef(u"ID"_s, TFieldType::ftInteger);
    t->AddFieldDef(u"NAME"_s, TFieldType::ftString, 20);
    return t;
}

// Rows of the names, numbered from 1 (ID Null when unnumbered).
void fill(TMemoryTable &t, const QStringList &names, bool numbered = true)
{
    t.Close();
    t.EmptyTable();
    t.Open();
    int id = 1;
    for (const QString &n : names)
        t.AppendRecord({numbered ? QVariant(id++) : QVariant(), n});
    t.First();
}

QStringList shown(const TDataSetModel &m)
{
    QStringList l;
    for (int r = 0; r < m.rowCount(); ++r)
        l << m.index(r, 0).data().toString();
    return l;
}

} // namespace

class TestDataSetGrid : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Every way the dataset moves or changes reaches the view; the view's choice reaches the
    // dataset with one after-scroll notification.
    void followsBothWays()
    {
        const auto table = idAndName();
        TMemoryTable &t = *table;
        int scrolls = 0;
        t.AfterScroll = [&scrolls](TDataSet &) { ++scrolls; };
        fill(t, {u"А"_s, u"Б"_s, u"В"_s});
        TDataSetModel model(t, {{u"NAME"_s, u"Имя"_s}, {u"ID"_s, u"ID"_s}});
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        TDataSetGrid grid;
        grid.SetDataSetModel(&model);
        grid.show();
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), u"Имя"_s);
        QCOMPARE(shown(model), (QStringList{u"А"_s, u"Б"_s, u"В"_s}));
        QCOMPARE(model.index(2, 1).data().toString(), u"3"_s);
        QCOMPARE(grid.currentIndex().row(), 0);

        // dataset → view
        t.Next();
        QCOMPARE(grid.currentIndex().row(), 1);
        QVERIFY(t.Locate(u"NAME"_s, u"В"_s));
        QCOMPARE(grid.currentIndex().row(), 2);
        QCOMPARE(grid.selectionModel()->selectedRows().size(), 1);

        // view → dataset
        scrolls = 0;
        grid.setCurrentIndex(model.index(0, 1));
        QCOMPARE(t.FieldByName(u"NAME"_s)->AsString(), u"А"_s);
        QCOMPARE(scrolls, 1);
        QVERIFY(grid.selectionModel()->isRowSelected(0, {}));

        // a filter narrows the rows, also to none
        t.SetFilter(u"NAME='Б'"_s);
        t.SetFiltered(true);
        QCOMPARE(shown(model), QStringList{u"Б"_s});
        QCOMPARE(grid.currentIndex().row(), 0);
        t.SetFilter(u"NAME='Я'"_s);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.CurrentRow(), -1);
        t.SetFiltered(false);
        QCOMPARE(model.rowCount(), 3);

        // rebuilt with other rows (the first row unchanged), posted, closed, reopened
        fill(t, {u"А"_s, u"Я"_s});
        QCOMPARE(shown(model), (QStringList{u"А"_s, u"Я"_s}));
        t.AppendRecord({9, u"Ю"_s});
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.index(model.CurrentRow(), 0).data().toString(), u"Ю"_s);
        t.Close();
        QCOMPARE(model.rowCount(), 0);
        t.Open();
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(grid.currentIndex().row(), 0);
    }

    // Rows equal in their key column are still told apart; the model outlives its dataset
    // without touching it.
    void duplicateKeysAndDatasetGoneFirst()
    {
        auto t = idAndName();
        fill(*t, {u"X"_s, u"Y"_s}, false);
        TDataSetModel model(*t, {{u"NAME"_s, u"Имя"_s}}, u"ID"_s);
        model.SetCurrentRow(1);
        QCOMPARE(t->FieldByName(u"NAME"_s)->AsString(), u"Y"_s);
        QCOMPARE(model.CurrentRow(), 1);
        t.reset();
        QCOMPARE(model.DataSet(), nullptr);
        model.SetCurrentRow(0);
        model.Reload();
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_MAIN(TestDataSetGrid)
#include "tst_datasetgrid.moc"
