// "Состояние рабочих станций" by its controls: the rows, silent ones marked, the filters by
// region and silence, the limit kept in the configuration, the chart of the selected
// workstations, and the import journal of a workstation on a double-click.

#include "app/importjournalwindow.h"
#include "app/statewindow.h"
#include "core/inifile.h"
#include "status/statemodel.h"
#include "workstationstates.h"

#include <QAbstractBarSeries>
#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

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
        CentralDb c(u"SQLITE"_s);
        workstationstates::fill(c, QDateTime::currentDateTime());
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
        days->setValue(25);
        QCOMPARE(shownStations(grid), QStringList{u"4"_s});
        QCOMPARE(ini.ReadInteger(u"Settings"_s, u"SilentDays"_s, 0), 25);
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
        grid->selectionModel()->select(grid->model()->index(2, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(form.Chart().series().size(), 1);
        QCOMPARE(barSets(), 2);
        grid->clearSelection();
        QCOMPARE(barSets(), -1);

        // A double-click opens the import journal of that workstation.
        QVariant journalStation;
        QTimer::singleShot(0, &form, [&journalStation] {
            auto *journal = qobject_cast<TImportJournalForm *>(QApplication::activeModalWidget());
            if (journal) {
                journalStation = journal->findChild<QComboBox *>(u"cbWorkstation"_s)->currentData();
                journal->reject();
            }
        });
        const QRect cell = grid->visualRect(grid->model()->index(1, 1));
        // An item view takes a double-click only on the item the first click pressed.
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(journalStation, QVariant(2));
    }
};

QTEST_MAIN(TestStateWindow)
#include "tst_statewindow.moc"
