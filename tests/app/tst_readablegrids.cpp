// The lists an administrator reads every day, on a demo installation: the wizard's regions,
// hospitals and workstations, and the import journal. No caption is cut, rows hold one line, and
// a cut cell holds its whole text as its tooltip.
#include "admin/adminwizard.h"
#include "admin/datasetgrid.h"
#include "admin/wizarddata.h"
#include "app/importjournalwindow.h"
#include "core/aliases.h"
#include "core/clock.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/query.h"
#include "import/importjournal.h"
#include "installation.h"
#include "shellfixture.h"
#include "testsupport.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// What a look over one grid found.
struct Look
{
    QStringList problems;
    int cut = 0; // cells cut (each with its tooltip)
};

// Hovers every cell of the grid as the user would; a cut caption, a row of more than one line, or
// a cut cell without its whole text as tooltip is a problem, and so is a cut cell outside the
// main column when onlyMain is set.
Look look(TDataSetGrid *grid, bool onlyMain)
{
    Look found;
    const QAbstractItemModel *m = grid->model();
    const QHeaderView *header = grid->horizontalHeader();
    for (int c = 0; c < m->columnCount(); ++c)
        if (header->sectionSize(c) < header->sectionSizeHint(c))
            found.problems << u"caption cut: "_s + m->headerData(c, Qt::Horizontal).toString();
    if (grid->wordWrap() ||
        grid->verticalHeader()->defaultSectionSize() >= 2 * grid->fontMetrics().lineSpacing())
        found.problems << u"rows hold more than one line"_s;
    QStyleOptionViewItem option;
    option.initFrom(grid->viewport());
    option.widget = grid;
    for (int r = 0; r < m->rowCount(); ++r) {
        for (int c = 0; c < m->columnCount(); ++c) {
            const QModelIndex index = m->index(r, c);
            grid->scrollTo(index);
            const QRect rect = grid->visualRect(index);
            const QString text = index.data().toString();
            if (grid->itemDelegate()->sizeHint(option, index).width() <= rect.width())
                continue;
            ++found.cut;
            if (onlyMain && c != grid->MainColumn())
                found.problems << u"cut outside the main column: "_s + text;
            QHelpEvent hover(QEvent::ToolTip, rect.center(),
                             grid->viewport()->mapToGlobal(rect.center()));
            QApplication::sendEvent(grid->viewport(), &hover);
            if (QToolTip::text() != text)
                found.problems << u"cut without its tooltip: "_s + text;
            QToolTip::hideText();
        }
    }
    return found;
}

} // namespace

class TestReadableGrids : public QObject
{
    Q_OBJECT

    // The journal window shows the month up to today: the runs below lie in the one of this day.
    TFixedClock m_clock{QDateTime(QDate(2024, 3, 15), QTime(12, 0))};
    QTemporaryDir m_dir;
    demo::Summary m_demo;
    std::unique_ptr<TAliasStore> m_aliases;
    std::unique_ptr<TDatabase> m_center;

    QVariant scalar(const QString &sql)
    {
        TQuery q(m_center.get());
        q.SetSQL(sql);
        q.Open();
        return q.Fields(0)->AsVariant();
    }

    // The wizard at its own size, standing on the page of grid, the demo's hospital workstation
    // chosen on the way.
    std::unique_ptr<TAdminWizard> wizardOn(const QString &grid)
    {
        auto w = std::make_unique<TAdminWizard>(nullptr, *m_center);
        w->show();
        w->findChild<QRadioButton *>(u"rbHospital"_s)->click();
        TWWDM &dm = w->WWDM();
        const QVariant hospital =
            scalar(u"SELECT HSPGID FROM WORKSTATION WHERE WSTGID = %1"_s.arg(m_demo.hospitalWst));
        const QVariant region =
            scalar(u"SELECT REGGID FROM HOSPITAL WHERE HSPGID = %1"_s.arg(hospital.toLongLong()));
        if (!dm.itRegion.Locate(u"REGGID"_s, region) ||
            !dm.itHospital.Locate(u"HSPGID"_s, hospital))
            qFatal("the demo's hospital workstation is not in the wizard");
        auto *grd = w->findChild<TDataSetGrid *>(grid);
        auto *next = w->findChild<QPushButton *>(u"NextButton"_s);
        while (!grd->isVisible() && next->isEnabled())
            next->click();
        return w;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        demo::Options options;
        options.folder = m_dir.filePath(u"Программа"_s);
        m_demo = demo::CreateInstallation(options);
        m_aliases = std::make_unique<TAliasStore>(
            QDir(options.folder).absoluteFilePath(StrConst::AliasFileName));
        m_center = std::make_unique<TDatabase>(StrConst::CenterDatabaseName, m_aliases.get());
        m_center->AliasName = demo::CenterAlias;
        m_center->LoginPrompt = false;
        m_center->Params << u"USER NAME="_s + demo::DemoUser;
        m_center->Open();

        // Runs of the demo's workstations as an import records them: a package of each, one
        // refused with the database's own words.
        TImportJournal journal(*m_center);
        const QDateTime start = TClock::Now().addDays(-1);
        for (const int wst : {m_demo.hospitalWst, m_demo.brigadeWst}) {
            TImportPackageInfo p;
            p.WstGID = wst;
            p.FileName = u"%1_20260301100000.w2s"_s.arg(wst, 6, 10, QLatin1Char('0'));
            p.Label = u"%1_20260301100000_на %2"_s.arg(wst, 6, 10, QLatin1Char('0'))
                          .arg(wst == m_demo.hospitalWst ? m_demo.hospitalWstName
                                                         : m_demo.brigadeWstName);
            p.Size = 48213;
            const qint64 run = journal.Begin(p, start);
            const bool refused = wst == m_demo.brigadeWst;
            journal.End(run, refused ? ImportResultFailed : ImportResultSucceeded,
                        refused ? u"NOT NULL constraint failed: PERSON.PRNSURNAME (запись: "
                                  "PRNLID = 1734, WSTGID = %1)"_s.arg(wst)
                                : QString(),
                        {{u"Person"_s, 120, 3, 0, 120, 0}}, start.addSecs(95));
        }
    }

    void wizardGrids_data()
    {
        QTest::addColumn<QString>("grid");
        QTest::newRow("regions") << u"grdRegion"_s;
        QTest::newRow("hospitals") << u"grdHospital"_s;
        QTest::newRow("workstations") << u"grdWorkstation"_s;
    }
    // At the wizard's own size nothing is cut but a long name in the main column; made narrow,
    // the main column gives way first, with tooltips.
    void wizardGrids()
    {
        QFETCH(QString, grid);
        const auto w = wizardOn(grid);
        auto *view = w->findChild<TDataSetGrid *>(grid);
        QVERIFY(view->isVisible());
        QVERIFY(view->model()->rowCount() > 0);
        const Look wide = look(view, true);
        QVERIFY2(wide.problems.isEmpty(), qPrintable(wide.problems.join(u'\n')));
        w->resize(w->width() * 2 / 3, w->height());
        QCoreApplication::processEvents();
        const Look narrow = look(view, true);
        QVERIFY2(narrow.problems.isEmpty(), qPrintable(narrow.problems.join(u'\n')));
        if (grid == u"grdHospital"_s)
            QVERIFY(narrow.cut > 0); // the full names are long
    }

    // The journal opens showing all its columns (or as wide as the screen) and reads like the
    // wizard's lists; a size the user gave it comes back the next time.
    void journalGrid()
    {
        ShellFixture fx;
        TImportJournalForm form(*m_center);
        auto *runs = form.findChild<TDataSetGrid *>(u"grdJournal"_s);
        QCOMPARE(runs->model()->rowCount(), 2);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(runs->horizontalScrollBar()->maximum() == 0 ||
                form.width() >= form.screen()->availableGeometry().width());
        // A long label may be cut too: it keeps the other columns in view.
        for (auto *grid : {runs, form.findChild<TDataSetGrid *>(u"grdJournalTables"_s)}) {
            const QStringList problems = look(grid, false).problems;
            QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        }

        const QSize chosen(form.width() + 41, form.height() - 37);
        form.resize(chosen);
        form.accept();
        TImportJournalForm again(*m_center);
        again.show();
        QCOMPARE(again.size(), chosen);
    }
};

QTEST_MAIN(TestReadableGrids)
#include "tst_readablegrids.moc"
