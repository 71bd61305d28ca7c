#include "admin/wstwizard.h"
#include "admin/wwdatamodule.h"
#include "app/srvmainform.h"
#include "core/strconst.h"
#include "replication/replicator.h"
#include "wizardfixture.h"

#include <QAction>
#include <QComboBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

using Kind = TDialogs::Kind;
using Button = TDialogs::Button;

namespace {

const QString kOther = QStringLiteral("ПРОЧИЕ...");
const QString kReadyIn = QStringLiteral("Файлы, готовые к отправке, находятся в папке: ");

template <typename T> T *child(QWidget *w, const QString &name)
{
    auto *c = w->findChild<T *>(name);
    if (!c)
        qFatal("no %s in %s", qPrintable(name), qPrintable(w->objectName()));
    return c;
}

// Types text key by key (Cyrillic included), as the user would.
void typeText(QWidget *w, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void click(QWidget *w, const QString &button)
{
    child<QPushButton>(w, button)->click();
}

QList<int> visibleTabs(QWidget *wizard)
{
    auto *pages = child<QTabWidget>(wizard, QStringLiteral("pcWstWiz"));
    QList<int> visible;
    for (int i = 0; i < pages->count(); ++i)
        if (pages->isTabVisible(i))
            visible << i;
    return visible;
}

int page(QWidget *wizard)
{
    return child<QTabWidget>(wizard, QStringLiteral("pcWstWiz"))->currentIndex();
}

// Presses "Далее" while it is enabled; the pages passed through.
QList<int> walkForward(QWidget *wizard)
{
    QList<int> path{page(wizard)};
    auto *next = child<QPushButton>(wizard, QStringLiteral("NextButton"));
    while (next->isEnabled() && path.size() < 10) {
        next->click();
        path << page(wizard);
    }
    return path;
}

void chooseType(QWidget *wizard, const QString &types)
{
    for (const QChar t : types)
        child<QRadioButton>(wizard,
                            t == u'H' ? QStringLiteral("rbHospital") : QStringLiteral("rbBrigade"))
            ->click();
}

void goTo(QWidget *wizard, int index)
{
    while (page(wizard) < index)
        click(wizard, QStringLiteral("NextButton"));
    QCOMPARE(page(wizard), index);
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
    QDirIterator it(folder, {QStringLiteral("*.sql")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

} // namespace

class TestWstWizard : public QObject
{
    Q_OBJECT

    std::unique_ptr<WizardFixture> m_fx;
    std::unique_ptr<TAdminWizard> m_wizard;
    QStringList m_failures;

    TAdminWizard *open()
    {
        m_wizard = std::make_unique<TAdminWizard>(nullptr, m_fx->db());
        m_wizard->show();
        return m_wizard.get();
    }
    QVariant scalar(const QString &sql) { return m_fx->central->Scalar(sql); }

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
        TDialogs::InstallLoginHandler();
        TDialogs::SetFailureHandler([this](const QString &d) { m_failures << d; });
    }
    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == QLatin1String("POSTGRESQL") && !testsupport::pgServer())
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

    // The menu command shows the wizard modally as a child of the main window and frees it
    // when it closes, also when it could not open its lists.
    void menuOpensAndFreesTheWizard()
    {
        QFETCH_GLOBAL(QString, backend);
        TAliasStore &aliases = m_fx->aliases;
        aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
        const TAliasStore &own = m_fx->central->Aliases();
        aliases.AddAlias(u"MAINCENTER"_s, own.GetAliasDriverName(u"CENTER"_s),
                         own.GetAliasParams(u"CENTER"_s));
        const QString empty = m_fx->dir.filePath(u"empty.db"_s);
        testsupport::writeFile(empty, {});
        aliases.AddAlias(u"EMPTY"_s, u"SQLITE"_s, {u"DATABASE NAME="_s + empty});
        for (const QString &alias : {u"MAINCENTER"_s, u"EMPTY"_s}) {
            m_fx->info->WriteString(StrConst::SettingsSection, StrConst::SrvDBKey, alias);
            const auto pg = testsupport::pgServer();
            if (alias == u"MAINCENTER"_s && backend == u"POSTGRESQL"_s)
                TDialogs::SetNextLogin(pg->user, pg->password);
            else
                TDialogs::SetNextLogin(u"admin"_s, QString());
            TSrvMainForm form;
            QVERIFY(form.KZCenter().Connected());
            auto *item = form.findChild<QAction *>(u"WstAdminItem"_s);
            QVERIFY(item->isEnabled());
            for (int round = 0; round < (alias == u"EMPTY"_s ? 1 : 2); ++round) {
                TDialogs::Reset();
                QObject *owner = nullptr;
                whenModalShown(&form, u"AdminWizard"_s, [&](QWidget *w) {
                    owner = w->parent();
                    click(w, u"CancelButton"_s);
                });
                if (alias == u"EMPTY"_s)
                    TDialogs::SetNextAnswer(Button::Ok);
                item->trigger();
                QCOMPARE(owner, alias == u"EMPTY"_s ? nullptr : &form);
                QCOMPARE(kinds(), alias == u"EMPTY"_s ? QList<Kind>{Kind::Error} : QList<Kind>{});
                QVERIFY(!form.findChild<TAdminWizard *>());
            }
        }
    }

    // Which pages are reachable, by "Далее" from the first, for a type and a region (city).
    void pagesFollowTypeAndSelection_data()
    {
        QTest::addColumn<QString>("types");
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("city");
        QTest::addColumn<QList<int>>("visible");
        QTest::addColumn<QList<int>>("path");
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("no type") << ""
                                 << ""
                                 << "" << QList<int>{0} << QList<int>{0} << "grdRegion"
                                 << QStringList{u"ОМСКАЯ ОБЛАСТЬ"_s, u"ТЮМЕНСКАЯ ОБЛАСТЬ"_s,
                                                kOther};
        QTest::newRow("hospital") << "H"
                                  << ""
                                  << "" << QList<int>{0, 1, 2, 5, 6} << QList<int>{0, 1, 2, 5, 6}
                                  << "grdHospital"
                                  << QStringList{u"АЛЕКСЕЕВСКАЯ ЦРБ"_s, u"ТАРСКАЯ ЦРБ"_s};
        QTest::newRow("brigade") << "B"
                                 << ""
                                 << "" << QList<int>{0, 1, 3, 4, 5, 6}
                                 << QList<int>{0, 1, 3, 4, 5, 6} << "grdCity"
                                 << QStringList{u"АЛЕКСЕЕВКА"_s, u"ТАРА"_s, kOther};
        QTest::newRow("hospital, then brigade")
            << "HB"
            << ""
            << "" << QList<int>{0, 1, 3, 4, 5, 6} << QList<int>{0, 1, 3, 4, 5, 6}
            << "grdWorkstation" << QStringList{u"ПЕРЕДВИЖНАЯ"_s};
        QTest::newRow("region without hospitals")
            << "H"
            << "ТЮМЕНСКАЯ ОБЛАСТЬ"
            << "" << QList<int>{0, 1, 2} << QList<int>{0, 1, 2} << "grdHospital" << QStringList{};
        QTest::newRow("other region, hospital")
            << "H" << kOther << "" << QList<int>{0, 1, 2, 5} << QList<int>{0, 1, 2, 5}
            << "grdHospital" << QStringList{u"ФАП БЕЗ РЕГИОНА"_s};
        QTest::newRow("other region, brigade")
            << "B" << kOther << "" << QList<int>{0, 1, 3, 4} << QList<int>{0, 1, 3, 4} << "grdCity"
            << QStringList{u"ХУТОР"_s, kOther};
        QTest::newRow("other city")
            << "B" << kOther << kOther << QList<int>{0, 1, 3, 4, 5} << QList<int>{0, 1, 3, 4, 5}
            << "grdBrigade" << QStringList{u"БРИГАДА ПРОЧАЯ"_s};
        QTest::newRow("region without cities")
            << "B"
            << "ТЮМЕНСКАЯ ОБЛАСТЬ"
            << "г. Тобольск" << QList<int>{0, 1, 3, 4} << QList<int>{0, 1, 3, 4} << "grdBrigade"
            << QStringList{};
    }
    void pagesFollowTypeAndSelection()
    {
        QFETCH(QString, types);
        QFETCH(QString, region);
        QFETCH(QString, city);
        QFETCH(QList<int>, visible);
        QFETCH(QList<int>, path);
        QFETCH(QString, grid);
        QFETCH(QStringList, rows);
        TAdminWizard *w = open();
        chooseType(w, types);
        if (!region.isEmpty())
            QVERIFY(pickRow(w, QStringLiteral("grdRegion"), region));
        if (!city.isEmpty())
            QVERIFY(pickRow(w, QStringLiteral("grdCity"), city));
        QCOMPARE(visibleTabs(w), visible);
        QCOMPARE(gridRows(w, grid), rows);
        QCOMPARE(walkForward(w), path);
        QCOMPARE(child<QPushButton>(w, QStringLiteral("PrevButton"))->isEnabled(), path.size() > 1);
    }

    // Every filter box in both modes, with quotes and "and" in the text; then cleared.
    void filters_data()
    {
        QTest::addColumn<QString>("types");
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("full");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("region, prefix") << "H"
                                        << "Region" << false << "ОМ"
                                        << "grdRegion" << QStringList{u"ОМСКАЯ ОБЛАСТЬ"_s, kOther};
        QTest::newRow("region, words anywhere")
            << "H"
            << "Region" << true << "ТЮМ ОБЛ"
            << "grdRegion" << QStringList{u"ТЮМЕНСКАЯ ОБЛАСТЬ"_s, kOther};
        QTest::newRow("region, words out of order") << "H"
                                                    << "Region" << true << "ОБЛ ТЮМ"
                                                    << "grdRegion" << QStringList{kOther};
        QTest::newRow("hospital, prefix") << "H"
                                          << "Hospital" << false << "ТАР"
                                          << "grdHospital" << QStringList{u"ТАРСКАЯ ЦРБ"_s};
        QTest::newRow("hospital, anywhere")
            << "H"
            << "Hospital" << true << "ЦРБ"
            << "grdHospital" << QStringList{u"АЛЕКСЕЕВСКАЯ ЦРБ"_s, u"ТАРСКАЯ ЦРБ"_s};
        QTest::newRow("city, prefix") << "B"
                                      << "City" << false << "ТАР"
                                      << "grdCity" << QStringList{u"ТАРА"_s, kOther};
        QTest::newRow("city, anywhere, any case (Тюменская)")
            << "BT"
            << "City" << true << "ТОБ"
            << "grdCity" << QStringList{u"г. Тобольск"_s, kOther};
        QTest::newRow("city, anywhere") << "B"
                                        << "City" << true << "ЛЕКС"
                                        << "grdCity" << QStringList{u"АЛЕКСЕЕВКА"_s, kOther};
        for (const QString &box : {u"Region"_s, u"Hospital"_s, u"City"_s}) {
            const QString grid = QStringLiteral("grd") + box;
            const QStringList none =
                box == QLatin1String("Hospital") ? QStringList{} : QStringList{kOther};
            const QString types = box == QLatin1String("City") ? u"B"_s : u"H"_s;
            for (const bool full : {false, true})
                QTest::addRow("%s, quote and 'and', %s", qPrintable(box), full ? "full" : "quick")
                    << types << box << full << "О'Б AND REGNAME='X' = A" << grid << none;
        }
    }
    void filters()
    {
        QFETCH(QString, types);
        QFETCH(QString, box);
        QFETCH(bool, full);
        QFETCH(QString, text);
        QFETCH(QString, grid);
        QFETCH(QStringList, rows);
        TAdminWizard *w = open();
        chooseType(w, types.left(1));
        if (types.contains(u'T'))
            QVERIFY(pickRow(w, u"grdRegion"_s, u"ТЮМЕНСКАЯ ОБЛАСТЬ"_s));
        const QStringList before = gridRows(w, grid);
        auto *edit = child<QLineEdit>(w, QStringLiteral("ed%1Filter").arg(box));
        auto *mode = child<QGroupBox>(w, QStringLiteral("rb%1Filter").arg(box));
        if (full)
            mode->findChild<QRadioButton *>(QStringLiteral("rb%1FilterFull").arg(box))->click();
        typeText(edit, text.toLower());
        QCOMPARE(edit->text(), text.toUpper());
        QCOMPARE(gridRows(w, grid), rows);

        // Emptied, the box takes its condition away; back to "Быстрый", the pattern goes too.
        edit->clear();
        QCOMPARE(gridRows(w, grid), before);
        mode->findChild<QRadioButton *>(QStringLiteral("rb%1FilterQuick").arg(box))->click();
        QCOMPARE(gridRows(w, grid), before);
        TWWDM &dm = w->WWDM();
        QVERIFY(dm.RegionPatternCleared() && dm.CityPatternCleared() &&
                dm.HospitalPatternCleared());
        for (TDataSet *d :
             {static_cast<TDataSet *>(&dm.itRegionNotNull),
              static_cast<TDataSet *>(&dm.itCityNotNull), static_cast<TDataSet *>(&dm.itHospital)})
            QVERIFY2(!d->Filter().contains(QStringLiteral("NAME")) &&
                         !d->Filter().contains(QStringLiteral("MU")),
                     qPrintable(d->Filter()));
    }

    void regionAndCityFiltersTogether()
    {
        TAdminWizard *w = open();
        chooseType(w, QStringLiteral("B"));
        typeText(child<QLineEdit>(w, QStringLiteral("edCityFilter")), QStringLiteral("т"));
        QCOMPARE(gridRows(w, QStringLiteral("grdCity")), (QStringList{u"ТАРА"_s, kOther}));
        QVERIFY(pickRow(w, QStringLiteral("grdRegion"), QStringLiteral("ТЮМЕНСКАЯ ОБЛАСТЬ")));
        // The prefix is case-blind: "г. Тобольск" starts with "Г".
        QCOMPARE(gridRows(w, QStringLiteral("grdCity")), QStringList{kOther});
        typeText(child<QLineEdit>(w, QStringLiteral("edCityFilter")), QStringLiteral("x"));
        QTest::keyClick(child<QLineEdit>(w, QStringLiteral("edCityFilter")), Qt::Key_Backspace);
        QTest::keyClick(child<QLineEdit>(w, QStringLiteral("edCityFilter")), Qt::Key_Backspace);
        typeText(child<QLineEdit>(w, QStringLiteral("edCityFilter")), QStringLiteral("г"));
        QCOMPARE(gridRows(w, QStringLiteral("grdCity")), (QStringList{u"г. Тобольск"_s, kOther}));
        const QString filter = w->WWDM().itCityNotNull.Filter();
        QVERIFY2(filter.contains(QStringLiteral("REGGID")) &&
                     filter.contains(QStringLiteral("CITYNAME")),
                 qPrintable(filter));
    }

    void brigadeAddedAndEdited()
    {
        TAdminWizard *w = open();
        chooseType(w, QStringLiteral("B"));
        QVERIFY(pickRow(w, QStringLiteral("grdCity"), QStringLiteral("ТАРА")));
        goTo(w, 4);
        QStringList offered;
        bool allIncluded = false;
        whenModalShown(w, QStringLiteral("BrigadeDlg"), [&](QWidget *d) {
            auto *src = child<QListWidget>(d, QStringLiteral("SrcList"));
            auto *dst = child<QListWidget>(d, QStringLiteral("DstList"));
            for (int i = 0; i < src->count(); ++i)
                offered << src->item(i)->text();
            typeText(child<QLineEdit>(d, QStringLiteral("edName")),
                     QStringLiteral("Новая бригада"));
            click(d, QStringLiteral("IncludeBtn")); // nothing selected: selects the first
            click(d, QStringLiteral("IncludeBtn"));
            click(d, QStringLiteral("IncAllBtn"));
            allIncluded = src->count() == 0 &&
                          !child<QPushButton>(d, QStringLiteral("IncludeBtn"))->isEnabled() &&
                          !child<QPushButton>(d, QStringLiteral("IncAllBtn"))->isEnabled();
            dst->item(1)->setSelected(true);
            click(d, QStringLiteral("ExcludeBtn"));
            click(d, QStringLiteral("OKBtn"));
        });
        click(w, QStringLiteral("brgAddButton"));
        QCOMPARE(offered, (QStringList{u"Алексеевская центральная районная больница"_s,
                                       u"Тарская центральная районная больница"_s}));
        QVERIFY(allIncluded);
        const QVariant id = scalar(QStringLiteral(
            "SELECT BRGGID FROM BRIGADE WHERE BRGNAME = 'Новая бригада' AND CITYGID = 31"));
        QVERIFY(id.isValid());
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM BRIGHSP WHERE BRGGID = %1 AND "
                                       "HSPGID = 10")
                            .arg(id.toInt()))
                     .toInt(),
                 1);
        QCOMPARE(currentRow(w, QStringLiteral("grdBrigade")), QStringLiteral("Новая бригада"));

        // Edited: the linked hospital is offered as chosen; "<<" takes all links away.
        QStringList linked;
        whenModalShown(w, QStringLiteral("BrigadeDlg"), [&](QWidget *d) {
            auto *dst = child<QListWidget>(d, QStringLiteral("DstList"));
            for (int i = 0; i < dst->count(); ++i)
                linked << dst->item(i)->text();
            click(d, QStringLiteral("ExAllBtn"));
            QVERIFY(!child<QPushButton>(d, QStringLiteral("ExcludeBtn"))->isEnabled());
            click(d, QStringLiteral("OKBtn"));
        });
        click(w, QStringLiteral("brgEdtButton"));
        QCOMPARE(linked, QStringList{u"Алексеевская центральная районная больница"_s});
        QCOMPARE(
            scalar(QStringLiteral("SELECT COUNT(*) FROM BRIGHSP WHERE BRGGID = %1").arg(id.toInt()))
                .toInt(),
            0);
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM BRIGADE")).toInt(), 3);
    }

    void workstationAddedNoThenYes()
    {
        TAdminWizard *w = open();
        chooseType(w, QStringLiteral("H"));
        goTo(w, 5);
        auto addWorkstation = [&](const QString &name) {
            whenModalShown(w, QStringLiteral("WorkstationDialog"), [name](QWidget *d) {
                typeText(child<QLineEdit>(d, QStringLiteral("edName")), name);
                click(d, QStringLiteral("OKBtn"));
            });
        };
        addWorkstation(QStringLiteral("кабинет 5"));
        TDialogs::SetNextAnswer(Button::No);
        click(w, QStringLiteral("wstAddButton"));
        QCOMPARE(kinds(), QList<Kind>{Kind::PlainQuestion});
        QCOMPARE(TDialogs::AskedSoFar().first().text,
                 QStringLiteral("Создать архив с внешними справочниками для рабочей станции?"));
        QCOMPARE(currentRow(w, QStringLiteral("grdWorkstation")), QStringLiteral("КАБИНЕТ 5"));
        QCOMPARE(
            scalar(QStringLiteral("SELECT HSPGID FROM WORKSTATION WHERE WSTNAME = 'КАБИНЕТ 5'"))
                .toInt(),
            10);
        QVERIFY(QDir(m_fx->exportDir()).isEmpty());

        // Yes: the export runs in the progress window, for the new workstation.
        const QString arc = qEnvironmentVariable("ZORU_PROGRAM_DIR") + QStringLiteral("/zoru-arc");
        QVERIFY(QFile::copy(arc, m_fx->dir.filePath(QStringLiteral("zoru-arc"))));
        QFile::setPermissions(m_fx->dir.filePath(QStringLiteral("zoru-arc")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QString lastLine;
        auto *timer = new QTimer(w);
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, w, [&, timer] {
            auto *button = Replicator
                               ? Replicator->findChild<QPushButton *>(QStringLiteral("Button"))
                               : nullptr;
            if (!button || !Replicator->isVisible() || button->text() != StrConst::BtnOK)
                return;
            lastLine = Replicator->findChild<QPlainTextEdit *>(QStringLiteral("MsgMemo"))
                           ->toPlainText()
                           .section(QLatin1Char('\n'), -1);
            timer->stop();
            button->click();
        });
        timer->start();
        addWorkstation(QStringLiteral("кабинет 6"));
        TDialogs::SetNextAnswer(Button::Yes);
        click(w, QStringLiteral("wstAddButton"));
        QCOMPARE(lastLine, QStringLiteral("Экспорт данных завершен"));
        const QStringList archives = QDir(m_fx->exportDir() + QStringLiteral("/АЛЕКСЕЕВСКАЯ ЦРБ"))
                                         .entryList({QStringLiteral("*.s2w")}, QDir::Files);
        QCOMPARE(archives.size(), 1);
        QVERIFY(archives.first().startsWith(QStringLiteral("КАБИНЕТ 6_")));
    }

    void operatorAddedChangedAndDuplicateRefused()
    {
        TAdminWizard *w = open();
        chooseType(w, QStringLiteral("H"));
        goTo(w, 6);
        QString shownName;
        QString shownLevel;
        whenModalShown(w, QStringLiteral("OperatorDlg"), [&](QWidget *d) {
            shownName = child<QLineEdit>(d, QStringLiteral("edName"))->text();
            shownLevel = child<QComboBox>(d, QStringLiteral("cbLevel"))->currentText();
            typeText(child<QLineEdit>(d, QStringLiteral("edName")), QStringLiteral("петров"));
            click(d, QStringLiteral("OKBtn"));
        });
        TDialogs::SetNextAnswer(Button::Ok);
        click(w, QStringLiteral("userAddButton"));
        QCOMPARE(shownName, QString());
        QCOMPARE(shownLevel, QStringLiteral("ОПЕРАТОР"));
        const QString folder = m_fx->exportDir() + QStringLiteral("/АЛЕКСЕЕВСКАЯ ЦРБ");
        QCOMPARE(kinds(), QList<Kind>{Kind::Information});
        QCOMPARE(TDialogs::AskedSoFar().first().text.left(kReadyIn.size()), kReadyIn);
        QCOMPARE(currentRow(w, QStringLiteral("grdOperator")), QStringLiteral("ПЕТРОВ"));
        QCOMPARE(scripts(folder).size(), 1);
        QVERIFY(testsupport::readFile(scripts(folder).first()).contains("INSERT INTO Operator"));
        const QString row = QStringLiteral(
            "SELECT USERHASH || '/' || USERLEVEL FROM OPERATOR WHERE USERNAME = '%1'");
        QCOMPARE(scalar(row.arg(QStringLiteral("ПЕТРОВ"))).toString(), QStringLiteral("0/0"));

        // The level of the existing operator changes; the password goes with it.
        QVERIFY(pickRow(w, QStringLiteral("grdOperator"), QStringLiteral("ИВАНОВ")));
        whenModalShown(w, QStringLiteral("OperatorDlg"), [&](QWidget *d) {
            child<QComboBox>(d, QStringLiteral("cbLevel"))->setCurrentIndex(1);
            click(d, QStringLiteral("OKBtn"));
        });
        TDialogs::SetNextAnswer(Button::Ok);
        click(w, QStringLiteral("userEdtButton"));
        QCOMPARE(scalar(row.arg(QStringLiteral("ИВАНОВ"))).toString(), QStringLiteral("0/1"));
        QCOMPARE(currentRow(w, QStringLiteral("grdOperator")), QStringLiteral("ИВАНОВ"));
        QCOMPARE(scripts(folder).size(), 2);

        // A second ИВАНОВ is refused by the database and the dialog stays open; corrected, one
        // operator is written.
        TDialogs::Reset();
        bool stayedOpen = false;
        whenModalShown(w, QStringLiteral("OperatorDlg"), [&](QWidget *d) {
            auto *edName = child<QLineEdit>(d, QStringLiteral("edName"));
            typeText(edName, QStringLiteral("ИВАНОВ"));
            TDialogs::SetNextAnswer(Button::Ok);
            click(d, QStringLiteral("OKBtn"));
            stayedOpen = d->isVisible();
            edName->setText(QStringLiteral("СИДОРОВ"));
            TDialogs::SetNextAnswer(Button::Ok);
            click(d, QStringLiteral("OKBtn"));
        });
        click(w, QStringLiteral("userAddButton"));
        QVERIFY(stayedOpen);
        QCOMPARE(kinds(), (QList<Kind>{Kind::Error, Kind::Information}));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM OPERATOR")).toInt(), 3);
        QCOMPARE(scalar(row.arg(QStringLiteral("СИДОРОВ"))).toString(), QStringLiteral("0/0"));
        QCOMPARE(currentRow(w, QStringLiteral("grdOperator")), QStringLiteral("СИДОРОВ"));
        QCOMPARE(scripts(folder).size(), 3);
    }

    void passwordClearedOnlyByScriptAndCancelWritesNothing()
    {
        TAdminWizard *w = open();
        chooseType(w, QStringLiteral("H"));
        goTo(w, 6);
        TDialogs::SetNextAnswer(Button::Ok);
        click(w, QStringLiteral("userPwdButton"));
        QCOMPARE(kinds(), QList<Kind>{Kind::Information});
        const QString folder = m_fx->exportDir() + QStringLiteral("/АЛЕКСЕЕВСКАЯ ЦРБ");
        QCOMPARE(scripts(folder).size(), 1);
        QVERIFY(testsupport::readFile(scripts(folder).first()).contains("UserHash='0'"));
        QCOMPARE(scalar(QStringLiteral("SELECT USERHASH FROM OPERATOR")).toString(),
                 QStringLiteral("abc"));

        whenModalShown(w, QStringLiteral("OperatorDlg"), [](QWidget *d) {
            typeText(child<QLineEdit>(d, QStringLiteral("edName")), QStringLiteral("Х"));
            click(d, QStringLiteral("CancelBtn"));
        });
        click(w, QStringLiteral("userEdtButton"));
        QCOMPARE(scalar(QStringLiteral("SELECT USERNAME || USERHASH FROM OPERATOR")).toString(),
                 QStringLiteral("ИВАНОВabc"));
        QCOMPARE(scripts(folder).size(), 1);
        QCOMPARE(currentRow(w, QStringLiteral("grdOperator")), QStringLiteral("ИВАНОВ"));
    }
};

QTEST_MAIN(TestWstWizard)
#include "tst_wstwizard.moc"
