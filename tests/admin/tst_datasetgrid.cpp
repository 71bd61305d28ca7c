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

    // The main column takes the width the others leave; a long value elsewhere is cut (its
    // tooltip holds it) rather than pushing the other columns out of view.
    void columnsShareTheWidth_data()
    {
        QTest::addColumn<QString>("note");
        QTest::addColumn<bool>("noteCut");
        QTest::newRow("short") << u"примечание"_s << false;
        QTest::newRow("one long value") << u"очень длинное примечание "_s.repeated(20) << true;
    }
    void columnsShareTheWidth()
    {
        QFETCH(QString, note);
        QFETCH(bool, noteCut);
        TMemoryTable t;
        t.AddFieldDef(u"ID"_s, TFieldType::ftInteger);
        t.AddFieldDef(u"NAME"_s, TFieldType::ftString, 20);
        t.AddFieldDef(u"NOTE"_s, TFieldType::ftString, 600);
        t.Open();
        t.AppendRecord({1, u"Омск"_s, note});
        t.AppendRecord({2, u"Тара"_s, u"-"_s});
        TDataSetModel model(
            t, {{u"ID"_s, u"ID"_s}, {u"NAME"_s, u"Имя"_s}, {u"NOTE"_s, u"Примечание"_s}});
        TDataSetGrid grid;
        grid.SetMainColumn(1);
        grid.SetDataSetModel(&model);
        grid.resize(700, 300);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        int sum = 0;
        for (int c = 0; c < 3; ++c)
            sum += grid.columnWidth(c);
        QCOMPARE(sum, grid.viewport()->width());
        QVERIFY(grid.columnWidth(1) > grid.viewport()->width() / 4);
        const QRect cell = grid.visualRect(model.index(0, 2));
        QCOMPARE(grid.fontMetrics().horizontalAdvance(note) > cell.width(), noteCut);
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
