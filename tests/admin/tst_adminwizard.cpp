// The workstation wizard and its dialogs, driven by object name over a small administration
// world, on both backends.
#include "admin/adminwizard.h"
#include "admin/brigadedialog.h"
#include "admin/operatordialog.h"
#include "admin/recordobjects.h"
#include "admin/wizarddata.h"
#include "admin/workstationdialog.h"
#include "centraldb.h"
#include "core/cp1251.h"
#include "core/strconst.h"
#include "engine/table.h"
#include "jobs/serverjob.h"
#include "package/packagetables.h"
#include "shellfixture.h"
#include "ui/progresswindow.h"

#include <QComboBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

using namespace Qt::StringLiterals;

using Kind = TDialogs::Kind;
using Button = TDialogs::Button;

namespace {

const QString kOmsk = u"ОМСКАЯ ОБЛАСТЬ"_s;
const QString kTyumen = u"ТЮМЕНСКАЯ ОБЛАСТЬ"_s;
const QString kAlexFull = u"Алексеевская центральная районная больница"_s;
const QString kTaraFull = u"Тарская центральная районная больница"_s;
const QStringList kRegionHospitals{u"АЛЕКСЕЕВСКАЯ ЦРБ"_s, u"ТАРСКАЯ ЦРБ"_s};

// Two regions, three hospitals, four cities, two brigades, two workstations, one operator; the
// program folder is the server's, exporting the administration tables into "export".
struct WizardFixture : ShellFixture
{
    explicit WizardFixture(const QString &backend) : central(backend)
    {
        CentralDb &c = central;
        c.Exec(
            u"INSERT INTO REGION VALUES (1, '%1', '52000000000'), (2, '%2', '71000000000')"_s.arg(
                kOmsk, kTyumen));
        c.Exec(u"INSERT INTO HOSPITAL (HSPGID, IDMU, MU, MUFL, REGGID) VALUES "
               "(10, 100, 'АЛЕКСЕЕВСКАЯ ЦРБ', '%1', 1), (11, 101, 'ТАРСКАЯ ЦРБ', '%2', 1), "
               "(12, 102, 'ФАП БЕЗ РЕГИОНА', 'ФАП без региона', NULL)"_s.arg(kAlexFull, kTaraFull));
        c.Exec(
            u"INSERT INTO CITY VALUES (30, 'АЛЕКСЕЕВКА', '1', '1', 1), (31, 'ТАРА', '2', '2', 1), "
            "(32, 'ХУТОР', '3', '3', NULL), (33, 'г. Тобольск', '4', '4', 2)"_s);
        c.Exec(u"INSERT INTO BRIGADE VALUES (20, 'БРИГАДА 1', 30), (21, 'БРИГАДА ПРОЧАЯ', NULL)"_s);
        c.Exec(u"INSERT INTO BRIGHSP VALUES (10, 20)"_s);
        c.Exec(u"INSERT INTO WORKSTATION (WSTGID, WSTNAME, HSPGID, BRGGID) VALUES "
               "(1, 'РЕГИСТРАТУРА', 10, NULL), (2, 'ПЕРЕДВИЖНАЯ', NULL, 20)"_s);
        c.Exec(u"INSERT INTO OPERATOR VALUES (1, 1, 'ИВАНОВ', 'abc', 0)"_s);
        testsupport::writeFile(
            iniPath(), cp1251::encode(u"[Settings]\r\nIsServer=1\r\nAIS_RODE_EXPORT=%1\r\n\r\n"
                                      "[Server-To-Workstation Replicated Tables]\r\nWORKSTATION="
                                      "\r\nBRIGADE=\r\nBrigHsp=\r\nHOSPITAL=\r\nREGION=\r\n"_s.arg(
                                          exportDir() + QDir::separator())));
        info = std::make_unique<TAppInfo>(exePath(), aliases);
        AppInfo = info.get();
        QDir().mkpath(exportDir());
        info->ExportPath = exportDir() + QDir::separator();
    }

    QString exportDir() const { return dir.filePath(u"export"_s); }

    CentralDb central;
};

template <typename T> T *child(QWidget *w, const QString &name)
{
    auto *c = w->findChild<T *>(name);
    if (!c)
        qFatal("no %s in %s", qPrintable(name), qPrintable(w->objectName()));
    return c;
}

void click(QWidget *w, const QString &button)
{
    child<QPushButton>(w, button)->click();
}

// Clicks button on w with action run on the dialog it brings up; answer: the message box after.
void withDialog(QWidget *w, const QString &button, const QString &dialog,
                std::optional<Button> answer, std::function<void(QWidget *)> action)
{
    whenModalShown(w, dialog, std::move(action));
    if (answer)
        TDialogs::SetNextAnswer(*answer);
    click(w, button);
}

// Types text key by key (Cyrillic included), as the user would.
void typeText(QWidget *w, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// The texts of the first column, top to bottom.
QStringList texts(const QAbstractItemView *view)
{
    const QAbstractItemModel *m = view->model();
    QStringList rows;
    for (int r = 0; r < m->rowCount(); ++r)
        rows << m->index(r, 0).data().toString();
    return rows;
}

QStringList gridRows(QWidget *window, const QString &grid)
{
    return texts(child<QTableView>(window, grid));
}

// Makes the row whose first column reads text the grid's current row; false when there is none.
bool pickRow(QWidget *window, const QString &grid, const QString &text)
{
    auto *view = child<QTableView>(window, grid);
    const int row = gridRows(window, grid).indexOf(text);
    if (row >= 0)
        view->setCurrentIndex(view->model()->index(row, 0));
    return row >= 0;
}

QString currentRow(QWidget *window, const QString &grid)
{
    return child<QTableView>(window, grid)->currentIndex().siblingAtColumn(0).data().toString();
}

QTabWidget *pages(QWidget *wizard)
{
    return child<QTabWidget>(wizard, u"pcWstWiz"_s);
}

QList<int> visibleTabs(QWidget *wizard)
{
    QList<int> visible;
    for (int i = 0; i < pages(wizard)->count(); ++i)
        if (pages(wizard)->isTabVisible(i))
            visible << i;
    return visible;
}

// Presses "Далее" while it is enabled; the pages passed through.
QList<int> walkForward(QWidget *wizard)
{
    QList<int> path{pages(wizard)->currentIndex()};
    auto *next = child<QPushButton>(wizard, u"NextButton"_s);
    while (next->isEnabled() && path.size() < 10) {
        next->click();
        path << pages(wizard)->currentIndex();
    }
    return path;
}

void goTo(QWidget *wizard, int index)
{
    while (pages(wizard)->currentIndex() < index)
        click(wizard, u"NextButton"_s);
    QCOMPARE(pages(wizard)->currentIndex(), index);
}

QList<Kind> kinds()
{
    QList<Kind> result;
    for (const auto &a : TDialogs::AskedSoFar())
        result << a.kind;
    return result;
}

QStringList scripts(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, {u"*.sql"_s}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// The pages for the types clicked (H, B) and region, city picked; the rows of grid that decides.
struct PathCase
{
    QString types, region, city;
    QList<int> path;
    QString grid;
    QStringList rows;
};
// A filter box in a mode (full or quick) given text; types as above, T: the Тюменская region.
struct FilterCase
{
    QString types, box;
    bool full;
    QString text;
    QStringList rows;
};

} // namespace

Q_DECLARE_METATYPE(PathCase)
Q_DECLARE_METATYPE(FilterCase)

class TestWstWizard : public QObject
{
    Q_OBJECT

    std::unique_ptr<WizardFixture> m_fx;
    std::unique_ptr<TAdminWizard> m_wizard;
    QStringList m_failures;

    TAdminWizard *open(const QString &types)
    {
        m_wizard = std::make_unique<TAdminWizard>(nullptr, m_fx->central.Db());
        m_wizard->show();
        for (const QChar t : types) // H, B: the type buttons clicked in turn
            child<QRadioButton>(m_wizard.get(), t == u'H' ? u"rbHospital"_s : u"rbBrigade"_s)
                ->click();
        return m_wizard.get();
    }
    QVariant scalar(const QString &sql) { return m_fx->central.Scalar(sql); }
    int count(const QString &from) { return scalar(u"SELECT COUNT(*) FROM "_s + from).toInt(); }
    QString hospitalFolder() const { return m_fx->exportDir() + u"/АЛЕКСЕЕВСКАЯ ЦРБ"_s; }

private Q_SLOTS:
    void initTestCase_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "SQLITE";
        if (testsupport::pgServer() || testsupport::pgRequired())
            QTest::newRow("postgresql") << "POSTGRESQL";
    }
    void initTestCase()
    {
        TDialogs::SetTestMode(true);
        TDialogs::SetFailureHandler([this](const QString &d) { m_failures << d; });
    }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == u"POSTGRESQL"_s && !testsupport::pgServer())
            QFAIL("ZORU_REQUIRE_PG is set but no PostgreSQL server is configured");
        TDialogs::Reset();
        m_failures.clear();
        m_fx = std::make_unique<WizardFixture>(backend);
    }
    void cleanup()
    {
        m_wizard.reset();
        m_fx.reset();
        QCOMPARE(m_failures, QStringList());
        QCOMPARE(TDialogs::PendingAnswers(), 0);
    }

    // The pages reachable by "Далее" from the first.
    void pagesFollowTypeAndSelection_data()
    {
        QTest::addColumn<PathCase>("c");
        const auto row = [](const char *name, const PathCase &c) { QTest::newRow(name) << c; };
        const QString B = u"B"_s, H = u"H"_s;
        row("no type", {{}, {}, {}, {0}, u"grdRegion"_s, {kOmsk, kTyumen, kOtherRow}});
        row("hospital", {H, {}, {}, {0, 1, 2, 5, 6}, u"grdHospital"_s, kRegionHospitals});
        row("brigade",
            {B, {}, {}, {0, 1, 3, 4, 5, 6}, u"grdCity"_s, {u"АЛЕКСЕЕВКА"_s, u"ТАРА"_s, kOtherRow}});
        row("hospital, then brigade",
            {u"HB"_s, {}, {}, {0, 1, 3, 4, 5, 6}, u"grdWorkstation"_s, {u"ПЕРЕДВИЖНАЯ"_s}});
        row("brigade, then hospital",
            {u"BH"_s, {}, {}, {0, 1, 2, 5, 6}, u"grdHospital"_s, kRegionHospitals});
        row("region without hospitals", {H, kTyumen, {}, {0, 1, 2}, u"grdHospital"_s, {}});
        row("other region, hospital",
            {H, kOtherRow, {}, {0, 1, 2, 5}, u"grdHospital"_s, {u"ФАП БЕЗ РЕГИОНА"_s}});
        row("other region, brigade",
            {B, kOtherRow, {}, {0, 1, 3, 4}, u"grdCity"_s, {u"ХУТОР"_s, kOtherRow}});
        row("other city",
            {B, kOtherRow, kOtherRow, {0, 1, 3, 4, 5}, u"grdBrigade"_s, {u"БРИГАДА ПРОЧАЯ"_s}});
        row("region without cities",
            {B, kTyumen, u"г. Тобольск"_s, {0, 1, 3, 4}, u"grdBrigade"_s, {}});
    }
    void pagesFollowTypeAndSelection()
    {
        QFETCH(PathCase, c);
        TAdminWizard *w = open(c.types);
        QVERIFY(c.region.isEmpty() || pickRow(w, u"grdRegion"_s, c.region));
        QVERIFY(c.city.isEmpty() || pickRow(w, u"grdCity"_s, c.city));
        QCOMPARE(visibleTabs(w), c.path);
        QCOMPARE(gridRows(w, c.grid), c.rows);
        QCOMPARE(walkForward(w), c.path);
        QCOMPARE(child<QPushButton>(w, u"PrevButton"_s)->isEnabled(), c.path.size() > 1);
    }

    // Every filter box in both modes, with quotes and "and" in the text; then cleared, and back
    // to "Быстрый".
    void filters_data()
    {
        QTest::addColumn<FilterCase>("c");
        const auto row = [](const char *name, const FilterCase &c) { QTest::newRow(name) << c; };
        const QString B = u"B"_s, H = u"H"_s, region = u"Region"_s, hospital = u"Hospital"_s;
        row("region, prefix", {H, region, false, u"ОМ"_s, {kOmsk, kOtherRow}});
        row("region, words anywhere", {H, region, true, u"ТЮМ ОБЛ"_s, {kTyumen, kOtherRow}});
        row("region, words out of order", {H, region, true, u"ОБЛ ТЮМ"_s, {kOtherRow}});
        row("hospital, prefix", {H, hospital, false, u"ТАР"_s, {u"ТАРСКАЯ ЦРБ"_s}});
        row("hospital, anywhere", {H, hospital, true, u"ЦРБ"_s, kRegionHospitals});
        row("city, prefix", {B, u"City"_s, false, u"ТАР"_s, {u"ТАРА"_s, kOtherRow}});
        row("city, anywhere, any case",
            {u"BT"_s, u"City"_s, true, u"ТОБ"_s, {u"г. Тобольск"_s, kOtherRow}});
        for (const QString &box : {region, hospital, u"City"_s})
            for (const bool full : {false, true})
                QTest::addRow("%s, quote and 'and', %s", qPrintable(box), full ? "full" : "quick")
                    << FilterCase{box == u"City"_s ? B : H, box, full, u"О'Б AND REGNAME='X' = A"_s,
                                  box == hospital ? QStringList{} : QStringList{kOtherRow}};
    }
    void filters()
    {
        QFETCH(FilterCase, c);
        const auto &[types, box, full, text, rows] = c;
        TAdminWizard *w = open(types.left(1));
        if (types.contains(u'T'))
            QVERIFY(pickRow(w, u"grdRegion"_s, kTyumen));
        const QString grid = u"grd"_s + box;
        const QStringList before = gridRows(w, grid);
        auto *edit = child<QLineEdit>(w, u"ed%1Filter"_s.arg(box));
        auto *mode = child<QGroupBox>(w, u"rb%1Filter"_s.arg(box));
        if (full)
            child<QRadioButton>(mode, u"rb%1FilterFull"_s.arg(box))->click();
        typeText(edit, text.toLower());
        QCOMPARE(edit->text(), text.toUpper());
        QCOMPARE(gridRows(w, grid), rows);
        QCOMPARE(currentRow(w, grid), rows.value(0));

        // Emptied, the box takes its condition away; back to "Быстрый", the pattern goes too.
        edit->clear();
        QCOMPARE(gridRows(w, grid), before);
        child<QRadioButton>(mode, u"rb%1FilterQuick"_s.arg(box))->click();
        QCOMPARE(gridRows(w, grid), before);
        TWWDM &dm = w->WWDM();
        QVERIFY(dm.RegionPatternCleared() && dm.CityPatternCleared() &&
                dm.HospitalPatternCleared());
        for (TDataSet *d : std::initializer_list<TDataSet *>{&dm.itRegionNotNull, &dm.itCityNotNull,
                                                             &dm.itHospital})
            QVERIFY2(!d->Filter().contains(u"NAME"_s) && !d->Filter().contains(u"MU"_s),
                     qPrintable(d->Filter()));
    }

    // What hangs on the region follows the first region the region filter leaves, also when the
    // filter keeps the region that was shown.
    void listsFollowTheFilteredRegion_data()
    {
        QTest::addColumn<QString>("types");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("region kept") << u"H"_s << u"ом"_s << u"grdHospital"_s << kRegionHospitals;
        QTest::newRow("another region") << u"H"_s << u"т"_s << u"grdHospital"_s << QStringList{};
        QTest::newRow("no region left")
            << u"H"_s << u"я"_s << u"grdHospital"_s << QStringList{u"ФАП БЕЗ РЕГИОНА"_s};
        QTest::newRow("another region's cities")
            << u"B"_s << u"т"_s << u"grdCity"_s << QStringList{u"г. Тобольск"_s, kOtherRow};
    }
    void listsFollowTheFilteredRegion()
    {
        QFETCH(QString, types);
        QFETCH(QString, typed);
        QFETCH(QString, grid);
        QFETCH(QStringList, rows);
        TAdminWizard *w = open(types);
        typeText(child<QLineEdit>(w, u"edRegionFilter"_s), typed);
        QCOMPARE(gridRows(w, grid), rows);
    }

    void regionAndCityFiltersTogether()
    {
        TAdminWizard *w = open(u"B"_s);
        auto *edit = child<QLineEdit>(w, u"edCityFilter"_s);
        typeText(edit, u"т"_s);
        QCOMPARE(gridRows(w, u"grdCity"_s), (QStringList{u"ТАРА"_s, kOtherRow}));
        QVERIFY(pickRow(w, u"grdRegion"_s, kTyumen));
        // The prefix is case-blind: "г. Тобольск" starts with "Г".
        QCOMPARE(gridRows(w, u"grdCity"_s), QStringList{kOtherRow});
        typeText(edit, u"x"_s);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClick(edit, Qt::Key_Backspace);
        typeText(edit, u"г"_s);
        QCOMPARE(gridRows(w, u"grdCity"_s), (QStringList{u"г. Тобольск"_s, kOtherRow}));
        const QString filter = w->WWDM().itCityNotNull.Filter();
        QVERIFY2(filter.contains(u"REGGID"_s) && filter.contains(u"CITYNAME"_s),
                 qPrintable(filter));
    }

    // Added with ">" (nothing selected: the first), ">" again, ">>", "<"; edited with "<<".
    void brigadeAddedAndEdited()
    {
        TAdminWizard *w = open(u"B"_s);
        QVERIFY(pickRow(w, u"grdCity"_s, u"ТАРА"_s));
        goTo(w, 4);
        QStringList offered;
        bool allIncluded = false;
        withDialog(w, u"brgAddButton"_s, u"BrigadeDlg"_s, {}, [&](QWidget *d) {
            auto *src = child<QListWidget>(d, u"SrcList"_s);
            offered = texts(src);
            typeText(child<QLineEdit>(d, u"edName"_s), u"Новая бригада"_s);
            click(d, u"IncludeBtn"_s);
            click(d, u"IncludeBtn"_s);
            click(d, u"IncAllBtn"_s);
            allIncluded = src->count() == 0 &&
                          !child<QPushButton>(d, u"IncludeBtn"_s)->isEnabled() &&
                          !child<QPushButton>(d, u"IncAllBtn"_s)->isEnabled();
            child<QListWidget>(d, u"DstList"_s)->item(1)->setSelected(true);
            click(d, u"ExcludeBtn"_s);
            click(d, u"OKBtn"_s);
        });
        QCOMPARE(offered, (QStringList{kAlexFull, kTaraFull}));
        QVERIFY(allIncluded);
        const int id =
            scalar(u"SELECT BRGGID FROM BRIGADE WHERE BRGNAME = 'Новая бригада' AND CITYGID = 31"_s)
                .toInt();
        QVERIFY(id > 0);
        QCOMPARE(count(u"BRIGHSP WHERE HSPGID = 10 AND BRGGID = "_s + QString::number(id)), 1);
        QCOMPARE(currentRow(w, u"grdBrigade"_s), u"Новая бригада"_s);

        QStringList linked;
        withDialog(w, u"brgEdtButton"_s, u"BrigadeDlg"_s, {}, [&](QWidget *d) {
            linked = texts(child<QListWidget>(d, u"DstList"_s));
            click(d, u"ExAllBtn"_s);
            QVERIFY(!child<QPushButton>(d, u"ExcludeBtn"_s)->isEnabled());
            click(d, u"OKBtn"_s);
        });
        QCOMPARE(linked, QStringList{kAlexFull});
        QCOMPARE(count(u"BRIGHSP WHERE BRGGID = "_s + QString::number(id)), 0);
        QCOMPARE(count(u"BRIGADE"_s), 3);
    }

    // "No" to the archive question writes the row only; "Yes" runs the export for the new
    // workstation in the progress window.
    void workstationAddedNoThenYes()
    {
        TAdminWizard *w = open(u"H"_s);
        goTo(w, 5);
        const auto addWorkstation = [&](const QString &name, Button answer) {
            withDialog(w, u"wstAddButton"_s, u"WorkstationDialog"_s, answer, [name](QWidget *d) {
                typeText(child<QLineEdit>(d, u"edName"_s), name);
                click(d, u"OKBtn"_s);
            });
        };
        addWorkstation(u"кабинет 5"_s, Button::No);
        QCOMPARE(kinds(), QList<Kind>{Kind::PlainQuestion});
        QCOMPARE(TDialogs::AskedSoFar().first().text,
                 u"Создать архив с внешними справочниками для рабочей станции?"_s);
        QCOMPARE(currentRow(w, u"grdWorkstation"_s), u"КАБИНЕТ 5"_s);
        QCOMPARE(scalar(u"SELECT HSPGID FROM WORKSTATION WHERE WSTNAME = 'КАБИНЕТ 5'"_s).toInt(),
                 10);
        QVERIFY(QDir(m_fx->exportDir()).isEmpty());

        const QString arc = m_fx->dir.filePath(u"zoru-arc"_s);
        QVERIFY(QFile::copy(qEnvironmentVariable("ZORU_PROGRAM_DIR") + u"/zoru-arc"_s, arc));
        QFile::setPermissions(arc, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QString lastLine;
        auto *timer = new QTimer(w);
        connect(timer, &QTimer::timeout, w, [&, timer] {
            auto *ok = Replicator ? Replicator->findChild<QPushButton *>(u"Button"_s) : nullptr;
            if (!ok || !Replicator->isVisible() || ok->text() != StrConst::BtnOK)
                return;
            lastLine = Replicator->findChild<QPlainTextEdit *>(u"MsgMemo"_s)
                           ->toPlainText()
                           .section(u'\n', -1);
            timer->stop();
            ok->click();
        });
        timer->start(10);
        addWorkstation(u"кабинет 6"_s, Button::Yes);
        QCOMPARE(lastLine, u"Экспорт данных завершен"_s);
        const QStringList archives = QDir(hospitalFolder()).entryList({u"*.s2w"_s}, QDir::Files);
        QCOMPARE(archives.size(), 1);
        QVERIFY(archives.first().startsWith(u"КАБИНЕТ 6_"_s));
    }

    // "Удалить пароль" writes a script only; Cancel in the dialog writes nothing. Added, then
    // its level changed (hash "0" each time), each with its script; a duplicate name is refused
    // with the dialog left open, and corrected writes one operator.
    void operators()
    {
        TAdminWizard *w = open(u"H"_s);
        goTo(w, 6);
        TDialogs::SetNextAnswer(Button::Ok);
        click(w, u"userPwdButton"_s);
        QCOMPARE(kinds(), QList<Kind>{Kind::Information});
        QCOMPARE(TDialogs::AskedSoFar().first().text,
                 u"Файлы, готовые к отправке, находятся в папке: "_s + hospitalFolder());
        QCOMPARE(scripts(hospitalFolder()).size(), 1);
        QVERIFY(testsupport::readFile(scripts(hospitalFolder()).first()).contains("UserHash='0'"));
        withDialog(w, u"userEdtButton"_s, u"OperatorDlg"_s, {}, [](QWidget *d) {
            typeText(child<QLineEdit>(d, u"edName"_s), u"Х"_s);
            click(d, u"CancelBtn"_s);
        });
        QCOMPARE(scalar(u"SELECT USERNAME || USERHASH FROM OPERATOR"_s).toString(), u"ИВАНОВabc"_s);
        QCOMPARE(scripts(hospitalFolder()).size(), 1);
        QCOMPARE(currentRow(w, u"grdOperator"_s), u"ИВАНОВ"_s);

        TDialogs::Reset();
        const QString row = u"SELECT USERHASH || '/' || USERLEVEL FROM OPERATOR "
                            "WHERE USERNAME = '%1'"_s;
        QString shown;
        withDialog(w, u"userAddButton"_s, u"OperatorDlg"_s, Button::Ok, [&](QWidget *d) {
            shown = child<QLineEdit>(d, u"edName"_s)->text() + u'|' +
                    child<QComboBox>(d, u"cbLevel"_s)->currentText();
            typeText(child<QLineEdit>(d, u"edName"_s), u"петров"_s);
            click(d, u"OKBtn"_s);
        });
        QCOMPARE(shown, u"|ОПЕРАТОР"_s);
        QCOMPARE(kinds(), QList<Kind>{Kind::Information});
        QCOMPARE(currentRow(w, u"grdOperator"_s), u"ПЕТРОВ"_s);
        QCOMPARE(scripts(hospitalFolder()).size(), 2);
        QVERIFY(testsupport::readFile(scripts(hospitalFolder()).last())
                    .contains("INSERT INTO Operator"));
        QCOMPARE(scalar(row.arg(u"ПЕТРОВ"_s)).toString(), u"0/0"_s);

        QVERIFY(pickRow(w, u"grdOperator"_s, u"ИВАНОВ"_s));
        withDialog(w, u"userEdtButton"_s, u"OperatorDlg"_s, Button::Ok, [](QWidget *d) {
            child<QComboBox>(d, u"cbLevel"_s)->setCurrentIndex(1);
            click(d, u"OKBtn"_s);
        });
        QCOMPARE(scalar(row.arg(u"ИВАНОВ"_s)).toString(), u"0/1"_s);
        QCOMPARE(currentRow(w, u"grdOperator"_s), u"ИВАНОВ"_s);
        QCOMPARE(scripts(hospitalFolder()).size(), 3);

        TDialogs::Reset();
        bool stayedOpen = false;
        withDialog(w, u"userAddButton"_s, u"OperatorDlg"_s, {}, [&](QWidget *d) {
            auto *edName = child<QLineEdit>(d, u"edName"_s);
            typeText(edName, u"ИВАНОВ"_s);
            TDialogs::SetNextAnswer(Button::Ok);
            click(d, u"OKBtn"_s);
            stayedOpen = d->isVisible();
            edName->setText(u"СИДОРОВ"_s);
            TDialogs::SetNextAnswer(Button::Ok);
            click(d, u"OKBtn"_s);
        });
        QVERIFY(stayedOpen);
        QCOMPARE(kinds(), (QList<Kind>{Kind::Error, Kind::Information}));
        QCOMPARE(count(u"OPERATOR"_s), 3);
        QCOMPARE(scalar(row.arg(u"СИДОРОВ"_s)).toString(), u"0/0"_s);
        QCOMPARE(currentRow(w, u"grdOperator"_s), u"СИДОРОВ"_s);
        QCOMPARE(scripts(hospitalFolder()).size(), 4);
    }

    // An operator is found by both its numbers, never one taken for the other: editing the
    // operator (workstation 1, user 7) shows and changes that one, not (workstation 7, user 1),
    // and its script names it.
    void operatorNumbersApart()
    {
        m_fx->central.Exec(u"INSERT INTO WORKSTATION (WSTGID, WSTNAME, HSPGID) VALUES "
                           "(7, 'ПОСТ 7', 11)"_s);
        m_fx->central.Exec(u"INSERT INTO OPERATOR VALUES (1, 7, 'СМИРНОВ', 'x', 1), "
                           "(7, 1, 'ДВОЙНИК', 'y', 0)"_s);
        TAdminWizard *w = open(u"H"_s);
        goTo(w, 6);
        QVERIFY(pickRow(w, u"grdOperator"_s, u"СМИРНОВ"_s));
        QString shown;
        withDialog(w, u"userEdtButton"_s, u"OperatorDlg"_s, Button::Ok, [&](QWidget *d) {
            shown = child<QLineEdit>(d, u"edName"_s)->text() + u'|' +
                    child<QComboBox>(d, u"cbLevel"_s)->currentText();
            child<QComboBox>(d, u"cbLevel"_s)->setCurrentIndex(0);
            click(d, u"OKBtn"_s);
        });
        QCOMPARE(shown, u"СМИРНОВ|АДМИНИСТРАТОР"_s);
        const QString op = u"SELECT USERNAME || '/' || USERHASH || '/' || USERLEVEL FROM OPERATOR "
                           "WHERE WSTGID = %1 AND USERGID = %2"_s;
        QCOMPARE(scalar(op.arg(1).arg(7)).toString(), u"СМИРНОВ/0/0"_s);
        QCOMPARE(scalar(op.arg(7).arg(1)).toString(), u"ДВОЙНИК/y/0"_s);
        QCOMPARE(count(u"OPERATOR"_s), 3);
        QCOMPARE(scripts(hospitalFolder()).size(), 1);
        QVERIFY(cp1251::decode(testsupport::readFile(scripts(hospitalFolder()).first()))
                    .contains(u"\tUserName='СМИРНОВ',\r\n\tUserHash='0',\r\n\tUserLevel=0\r\n"
                              "WHERE\r\n\tUserGID=7\r\n\tAND\r\n\tWstGID=1;"_s));
    }

    // The name as typed, in each dialog: refused with the box staying open, or saved trimmed;
    // the box holds no more than the column.
    void dialogNameChecks_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("refusal"); // empty: saved
        QTest::addColumn<QString>("saved");
        for (const QString &d : {u"WorkstationDialog"_s, u"OperatorDlg"_s, u"BrigadeDlg"_s}) {
            // Each refusal names the box by its label.
            const QString box = d == u"OperatorDlg"_s ? u"'Имя пользователя'"_s : u"'Название'"_s;
            const QString empty = u"Поле "_s + box + u" не заполнено"_s;
            const QString foreign = u"Поле "_s + box +
                                    u" содержит символы, которые нельзя сохранить в "
                                    "кодировке Windows-1251: ✓"_s;
            const QByteArray n = d.toLatin1();
            const char *name = n.constData();
            QTest::addRow("%s: empty", name) << d << "" << empty << "";
            QTest::addRow("%s: blanks", name) << d << "   " << empty << "";
            QTest::addRow("%s: outside cp1251", name) << d << "Кабинет ✓" << foreign << "";
            QTest::addRow("%s: trimmed", name)
                << d << "  Кабинет 1 "
                << "" << (d == u"BrigadeDlg"_s ? "Кабинет 1" : "КАБИНЕТ 1");
        }
    }
    void dialogNameChecks()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        QFETCH(QString, saved);
        TSIEDM dm(&m_fx->central.Db(), nullptr);
        TWWDM wwdm(&m_fx->central.Db());
        const int kind =
            QStringList{u"WorkstationDialog"_s, u"OperatorDlg"_s, u"BrigadeDlg"_s}.indexOf(dialog);
        for (TDataSet *ds :
             std::initializer_list<TDataSet *>{&dm.itWorkStation, &dm.itOperator, &dm.itBrigade})
            ds->Open();
        std::unique_ptr<QDialog> d;
        if (kind == 0)
            d = std::make_unique<TWorkstationDialog>(nullptr, dm.itWorkStation, QVariant(), 10,
                                                     QVariant());
        else if (kind == 1)
            d = std::make_unique<TOperatorDlg>(nullptr, 1, QVariant(), dm.itOperator);
        else
            d = std::make_unique<TBrigadeDlg>(nullptr, wwdm, 30, 1, QVariant(), dm.itBrigHsp,
                                              dm.itBrigade);
        d->show();
        QVERIFY(QTest::qWaitForWindowActive(d.get()));
        auto *edName = child<QLineEdit>(d.get(), u"edName"_s);
        QCOMPARE(edName->maxLength(), (QList<int>{100, 20, 255}.at(kind)));
        edName->setText(typed);
        child<QPushButton>(d.get(), u"OKBtn"_s)->setFocus();
        if (!refusal.isEmpty())
            TDialogs::SetNextAnswer(Button::Ok);
        click(d.get(), u"OKBtn"_s);
        if (refusal.isEmpty()) {
            QCOMPARE(d->result(), int(QDialog::Accepted));
            QVERIFY(TDialogs::AskedSoFar().isEmpty());
            const QString check =
                QStringList{u"WORKSTATION WHERE WSTNAME"_s, u"OPERATOR WHERE USERNAME"_s,
                            u"BRIGADE WHERE BRGNAME"_s}
                    .at(kind);
            QCOMPARE(m_fx->central.Scalar(u"SELECT COUNT(*) FROM "_s + check + u" = ?"_s, {saved})
                         .toInt(),
                     1);
        } else {
            QVERIFY(d->isVisible());
            QCOMPARE(kinds(), QList<Kind>{Kind::Information});
            QCOMPARE(TDialogs::AskedSoFar().first().text, refusal);
            QCOMPARE(QApplication::focusWidget(), edName);
        }
    }

    // Hospitals are told apart by identifier, whatever their full names; one without a full
    // name shows its short name. A failure while the links are written keeps the old links and
    // the brigade's name, and the dialog open; for a new brigade it leaves no row and no
    // identifier behind.
    void brigadeLinksKeyedAndAtomic()
    {
        m_fx->central.Exec(u"INSERT INTO HOSPITAL (HSPGID, IDMU, MU, MUFL, REGGID) VALUES "
                           "(13, 103, 'ДВОЙНИК', '%1', 1), (14, 104, 'A=B', 'A=B', 1), "
                           "(15, 105, 'ФАП БЕЗ ПОЛНОГО', NULL, 1)"_s.arg(kTaraFull));
        TSIEDM dm(&m_fx->central.Db(), nullptr);
        TWWDM wwdm(&m_fx->central.Db());
        dm.itBrigade.Open();
        {
            TBrigadeDlg d(nullptr, wwdm, 30, 1, 20, dm.itBrigHsp, dm.itBrigade);
            d.show();
            click(&d, u"IncAllBtn"_s);
            QCOMPARE(
                texts(child<QListWidget>(&d, u"DstList"_s)),
                (QStringList{u"A=B"_s, kAlexFull, kTaraFull, kTaraFull, u"ФАП БЕЗ ПОЛНОГО"_s}));
            click(&d, u"OKBtn"_s);
            QCOMPARE(d.result(), int(QDialog::Accepted));
        }
        QCOMPARE(scalar(u"SELECT SUM(HSPGID) || '/' || COUNT(*) FROM BRIGHSP WHERE BRGGID = 20"_s)
                     .toString(),
                 u"63/5"_s);

        TTable missing(&m_fx->central.Db(), u"NO_SUCH_LINKS"_s);
        for (const QVariant &brigade : {QVariant(20), QVariant()}) {
            TDialogs::Reset();
            TBrigadeDlg d(nullptr, wwdm, 30, 1, brigade, missing, dm.itBrigade);
            d.show();
            child<QLineEdit>(&d, u"edName"_s)->setText(u"Переименованная"_s);
            click(&d, u"ExAllBtn"_s);
            TDialogs::SetNextAnswer(Button::Ok);
            click(&d, u"OKBtn"_s);
            QVERIFY(d.isVisible());
            QCOMPARE(kinds(), QList<Kind>{Kind::Error});
            QCOMPARE(d.Record().GetValue(u"BRGGID"_s).toString(), brigade.toString());
        }
        QCOMPARE(count(u"BRIGHSP WHERE BRGGID = 20"_s), 5);
        QCOMPARE(scalar(u"SELECT BRGNAME FROM BRIGADE WHERE BRGGID = 20"_s).toString(),
                 u"БРИГАДА 1"_s);
        QCOMPARE(count(u"BRIGADE"_s), 2);
    }
};

QTEST_MAIN(TestWstWizard)
#include "tst_adminwizard.moc"
