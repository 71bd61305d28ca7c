// The grid over a dataset: rows and current row follow the dataset, a click moves the dataset.
#include "admin/datasetgrid.h"
#include "engine/memtable.h"

#include <QAbstractItemModelTester>
#include <QtTest>

namespace {

void fill(TMemoryTable &t, const QStringList &names)
{
    t.Close();
    t.EmptyTable();
    t.Open();
    int id = 1;
    for (const QString &n : names)
        t.AppendRecord({id++, n});
    t.First();
}

QStringList shown(const TDataSetModel &m)
{
    QStringList l;
    for (int r = 0; r < m.rowCount(); ++r)
        l << m.index(r, 0).data().toString();
    return l;
}

QString current(TDataSet &t)
{
    return t.FieldByName(QStringLiteral("NAME"))->AsString();
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
        TMemoryTable t;
        t.AddFieldDef(QStringLiteral("ID"), TFieldType::ftInteger);
        t.AddFieldDef(QStringLiteral("NAME"), TFieldType::ftString, 20);
        int scrolls = 0;
        t.AfterScroll = [&scrolls](TDataSet &) { ++scrolls; };
        fill(t, {QStringLiteral("А"), QStringLiteral("Б"), QStringLiteral("В")});

        TDataSetModel model(t, {{QStringLiteral("NAME"), QStringLiteral("Имя")},
                                {QStringLiteral("ID"), QStringLiteral("ID")}});
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        TDataSetGrid grid;
        grid.SetDataSetModel(&model);
        grid.show();

        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Имя"));
        QCOMPARE(shown(model),
                 (QStringList{QStringLiteral("А"), QStringLiteral("Б"), QStringLiteral("В")}));
        QCOMPARE(model.index(2, 1).data().toString(), QStringLiteral("3"));
        QCOMPARE(grid.currentIndex().row(), 0);

        // dataset → view
        t.Next();
        QCOMPARE(grid.currentIndex().row(), 1);
        QVERIFY(t.Locate(QStringLiteral("NAME"), QStringLiteral("В")));
        QCOMPARE(grid.currentIndex().row(), 2);
        QCOMPARE(grid.selectionModel()->selectedRows().size(), 1);

        // view → dataset
        scrolls = 0;
        grid.setCurrentIndex(model.index(0, 1));
        QCOMPARE(current(t), QStringLiteral("А"));
        QCOMPARE(scrolls, 1);
        QVERIFY(grid.selectionModel()->isRowSelected(0, {}));

        // a filter narrows the rows, also to none
        t.SetFilter(QStringLiteral("NAME='Б'"));
        t.SetFiltered(true);
        QCOMPARE(shown(model), QStringList{QStringLiteral("Б")});
        QCOMPARE(grid.currentIndex().row(), 0);
        t.SetFilter(QStringLiteral("NAME='Я'"));
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.CurrentRow(), -1);
        t.SetFiltered(false);
        QCOMPARE(model.rowCount(), 3);

        // rebuilt with other rows (the first row unchanged), posted, closed, reopened
        fill(t, {QStringLiteral("А"), QStringLiteral("Я")});
        QCOMPARE(shown(model), (QStringList{QStringLiteral("А"), QStringLiteral("Я")}));
        t.AppendRecord({9, QStringLiteral("Ю")});
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.index(model.CurrentRow(), 0).data().toString(), QStringLiteral("Ю"));
        t.Close();
        QCOMPARE(model.rowCount(), 0);
        t.Open();
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(grid.currentIndex().row(), 0);
    }

    // Rows equal in their key column are still told apart.
    void duplicateKeys()
    {
        TMemoryTable t;
        t.AddFieldDef(QStringLiteral("ID"), TFieldType::ftInteger);
        t.AddFieldDef(QStringLiteral("NAME"), TFieldType::ftString, 20);
        t.Open();
        t.AppendRecord({QVariant(), QStringLiteral("X")});
        t.AppendRecord({QVariant(), QStringLiteral("Y")});
        t.First();
        TDataSetModel model(t, {{QStringLiteral("NAME"), QStringLiteral("Имя")}},
                            QStringLiteral("ID"));
        model.SetCurrentRow(1);
        QCOMPARE(current(t), QStringLiteral("Y"));
        QCOMPARE(model.CurrentRow(), 1);
    }

    // The model outlives its dataset without touching it.
    void datasetGoneFirst()
    {
        auto t = std::make_unique<TMemoryTable>();
        t->AddFieldDef(QStringLiteral("NAME"), TFieldType::ftString, 20);
        t->Open();
        t->AppendRecord({QStringLiteral("X")});
        TDataSetModel model(*t, {{QStringLiteral("NAME"), QStringLiteral("Имя")}});
        t.reset();
        QCOMPARE(model.DataSet(), nullptr);
        model.SetCurrentRow(0);
        model.Reload();
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_MAIN(TestDataSetGrid)
#include "tst_datasetgrid.moc"
