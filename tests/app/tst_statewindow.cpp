// "Состояние рабочих станций" by its controls: the rows, silent ones marked, the filters by
// region and silence, the limit kept in the configuration, the chart of the selected
// workstations, and the import journal of a workstation on a double-click.

#include "app/importjournalwindow.h"
#include "app/personschart.h"
#include "app/statewindow.h"
#include "core/clock.h"
#include "core/inifile.h"
#include "statusview/statemodel.h"
#include "workstationstates.h"

#include <QAbstractBarSeries>
#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QValueAxis>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The moment the window takes for now, far from the day the tests run.
const QDateTime kNow(QDate(2024, 3, 15), QTime(12, 0));

QStringList shownStations(QTableView *grid)
{
    QStringList ids;
    for (int r = 0; r < grid->model()->rowCount(); ++r)
        ids << grid->model()->index(r, 0).data().toString();
    return ids;
}

} // namespace

class TestStateWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void window()
    {
        const TFixedClock clock(kNow);
        CentralDb c(u"SQLITE"_s);
        workstationstates::fill(c, kNow);
        QTemporaryDir dir;
        TIniFile ini(dir.filePath(u"zoru-admin.ini"_s));
        TWorkstationStateForm form(c.Db(), &ini);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *grid = form.findChild<QTableView *>(u"grdState"_s);
        auto *silentOnly = form.findChild<QCheckBox *>(u"chkSilentOnly"_s);
        auto *region = form.findChild<QComboBox *>(u"cbRegion"_s);
        auto *days = form.findChild<QSpinBox *>(u"seSilentDays"_s);
        QVERIFY(grid && silentOnly && region && days);
        QCOMPARE(shownStations(grid), (QStringList{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s}));
        QCOMPARE(days->value(), 14);
        QVERIFY(grid->model()->index(1, 0).data(Qt::BackgroundRole).isValid());
        QVERIFY(!grid->model()->index(0, 0).data(Qt::BackgroundRole).isValid());

        region->setCurrentIndex(region->findText(u"Тарский"_s));
        QCOMPARE(shownStations(grid), QStringList{u"2"_s});
        region->setCurrentIndex(region->findText(u"Без региона"_s));
        QCOMPARE(shownStations(grid), QStringList{u"3"_s});
        region->setCurrentIndex(0);
        silentOnly->setChecked(true);
        QCOMPARE(shownStations(grid), (QStringList{u"2"_s, u"4"_s, u"5"_s}));
        days->setValue(24);
        days->setValue(25);
        QCOMPARE(shownStations(grid), QStringList{u"4"_s});
        // The limit is kept as the window closes, not at every step.
        QCOMPARE(ini.ReadInteger(u"Settings"_s, u"SilentDays"_s, 0), 0);
        silentOnly->setChecked(false);

        // The chart: one bar set per selected workstation; none selected, no series.
        const auto barSets = [&form] {
            const QList<QAbstractSeries *> series = form.Chart().series();
            return series.isEmpty()
                       ? -1
                       : int(static_cast<QAbstractBarSeries *>(series.first())->count());
        };
        QCOMPARE(barSets(), -1);
        grid->selectRow(0);
        QCOMPARE(barSets(), 1);
        QCOMPARE(qobject_cast<QCategoryAxis *>(form.Chart().axes(Qt::Horizontal).value(0))
                     ->categoriesLabels()
                     .last(),
                 u"15.03"_s);
        grid->selectionModel()->select(grid->model()->index(2, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(form.Chart().series().size(), 1);
        QCOMPARE(barSets(), 2);
        grid->clearSelection();
        QCOMPARE(barSets(), -1);

        // A double-click opens the import journal of that workstation.
        QVariant journalStation;
        QDate journalTo;
        QTimer::singleShot(0, &form, [&journalStation, &journalTo] {
            auto *journal = qobject_cast<TImportJournalForm *>(QApplication::activeModalWidget());
            if (journal) {
                journalStation = journal->findChild<QComboBox *>(u"cbWorkstation"_s)->currentData();
                journalTo = journal->findChild<QDateEdit *>(u"dtTo"_s)->date();
                journal->reject();
            }
        });
        const QRect cell = grid->visualRect(grid->model()->index(1, 1));
        // An item view takes a double-click only on the item the first click pressed.
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(journalStation, QVariant(2));
        QCOMPARE(journalTo, kNow.date());
        form.accept();
        QCOMPARE(ini.ReadInteger(u"Settings"_s, u"SilentDays"_s, 0), 25);
    }

    // Rows clicked and Ctrl-clicked: the table keeps its rows in sight and the chart its share
    // of the height; the split is kept with the window's placement.
    void layoutAfterSelection_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("default") << QSize();
        QTest::newRow("1360x760") << QSize(1360, 760);
    }
    void layoutAfterSelection()
    {
        QFETCH(QSize, size);
        const TFixedClock clock(kNow);
        CentralDb c(u"SQLITE"_s);
        workstationstates::fill(c, kNow);
        QTemporaryDir dir;
        TIniFile ini(dir.filePath(u"zoru-admin.ini"_s));
        QList<int> split;
        for (int pass = 0; pass < 2; ++pass) {
            TWorkstationStateForm form(c.Db(), &ini);
            if (size.isValid())
                form.resize(size);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            auto *grid = form.findChild<QTableView *>(u"grdState"_s);
            auto *chart = form.findChild<QWidget *>(u"chtPersons"_s);
            auto *splitter = form.findChild<QSplitter *>(u"splState"_s);
            QVERIFY(grid && chart && splitter);
            if (pass == 1) {
                QCOMPARE(splitter->sizes(), split);
                break;
            }
            const auto click = [grid](int row, Qt::KeyboardModifiers keys) {
                const QRect cell = grid->visualRect(grid->model()->index(row, 1));
                QTest::mouseClick(grid->viewport(), Qt::LeftButton, keys, cell.center());
                QApplication::processEvents();
            };
            click(0, {});
            click(2, Qt::ControlModifier);
            QCOMPARE(grid->selectionModel()->selectedRows().size(), 2);
            QCOMPARE(grid->rowAt(grid->viewport()->height() - 1), -1); // all five rows in sight
            QVERIFY2(chart->height() >= form.height() * 3 / 10,
                     qPrintable(u"%1 of %2"_s.arg(chart->height()).arg(form.height())));
            QCOMPARE(splitter->count(), 2);
            splitter->setSizes({splitter->height() / 2, splitter->height() / 2});
            split = splitter->sizes();
            form.accept();
        }
    }

    // The chart's axes: a label every week (whole weeks for a longer span), "dd.MM", ending
    // on the last day; whole numbers of persons from 0.
    void chartAxes_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<qint64>("peak");
        QTest::addColumn<int>("labels");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("every");
        QTest::newRow("60 days, 3 persons") << 60 << qint64(3) << 9 << 3 << 1;
        QTest::newRow("60 days, 47 persons") << 60 << qint64(47) << 9 << 50 << 10;
        QTest::newRow("365 days, 1234 persons") << 365 << qint64(1234) << 9 << 1400 << 200;
        QTest::newRow("7 days, none") << 7 << qint64(0) << 1 << 1 << 1;
    }
    void chartAxes()
    {
        QFETCH(int, days);
        QFETCH(qint64, peak);
        QFETCH(int, labels);
        QFETCH(int, top);
        QFETCH(int, every);
        QChart chart;
        const QDate last(2026, 3, 1);
        QList<qint64> counts(days, 0);
        counts[days / 2] = peak - peak / 3;
        QList<qint64> others(days, 0);
        others[days / 2] = peak / 3;
        ShowPersonsChart(chart, {{1, u"1"_s}, {2, u"2"_s}}, {{1, counts}, {2, others}}, last);
        auto *x = qobject_cast<QCategoryAxis *>(chart.axes(Qt::Horizontal).value(0));
        auto *y = qobject_cast<QValueAxis *>(chart.axes(Qt::Vertical).value(0));
        QVERIFY(x && y);
        const QStringList shown = x->categoriesLabels();
        QCOMPARE(shown.size(), labels);
        QCOMPARE(shown.last(), u"01.03"_s);
        QCOMPARE(x->endValue(shown.last()), double(days - 1));
        if (labels > 1)
            QCOMPARE(shown.at(shown.size() - 2),
                     last.addDays(-7 * ((days + 69) / 70)).toString(u"dd.MM"_s));
        QCOMPARE(y->min(), 0.0);
        QCOMPARE(y->max(), double(top));
        QCOMPARE(y->tickInterval(), double(every));
        QCOMPARE(y->labelFormat(), u"%d"_s);
    }
};

QTEST_MAIN(TestStateWindow)
#include "tst_statewindow.moc"
