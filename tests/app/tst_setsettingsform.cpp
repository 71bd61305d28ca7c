#include "app/commonform.h"
#include "app/setsettingsform.h"
#include "core/strconst.h"
#include "shellfixture.h"
#include "ui/stickingbevel.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

using Kind = TDialogs::Kind;
using Button = TDialogs::Button;

namespace {

const QString kMainCaption = QStringLiteral("База данных  \"АИС ZORU\"");
const QString kPolyCaption = QStringLiteral("База данных  \"ПОЛИКЛИНИКА\"");
const QString kImportCaption = QStringLiteral("Папка \"ИМПОРТ\"");
const QString kExportCaption = QStringLiteral("Папка \"ЭКСПОРТ\"");

template <class T = QWidget> T *child(const QWidget *w, const QString &name)
{
    T *found = w->findChild<T *>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

QStringList sl(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list << QString::fromUtf8(item);
    return list;
}

QString text(const QWidget *w, const QString &edit)
{
    return child<QLineEdit>(w, edit)->text();
}

} // namespace

class TestSetSettingsForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void controlsAndCaptions();
    void pageAndHeightByRole_data();
    void pageAndHeightByRole();
    void savedHeightReplacesComputedOne();
    void okEnabledOnlyWithAllFourFolders_data();
    void okEnabledOnlyWithAllFourFolders();
    void digitKeysBrowse_data();
    void digitKeysBrowse();
    void cancelledBrowserChangesNothing();
    void trailingSeparator_data();
    void trailingSeparator();
    void editPassesFocusToItsButton();
    void f6_data();
    void f6();
    void cancelledConfirmationKeepsDialogOpen();
    void escClosesWithoutQuestion();
    void showSettingsDialogSaves();
    void showSettingsDialogCancelled();
};

void TestSetSettingsForm::initTestCase()
{
    TDialogs::SetTestMode(true);
    TCommonForm::SetScreenKeySource([] { return QStringLiteral("1024x768"); });
}

void TestSetSettingsForm::init()
{
    TDialogs::Reset();
}

void TestSetSettingsForm::cleanup()
{
    QCOMPARE(TDialogs::PendingAnswers(), 0);
}

void TestSetSettingsForm::controlsAndCaptions()
{
    TSetSettingsForm form(false);
    QCOMPARE(form.objectName(), QStringLiteral("SetSettingsForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Настройка параметров"));
    const QList<std::pair<QString, QString>> buttons = {
        {QStringLiteral("btnMainBrowse"), QStringLiteral("[1] - Найти...")},
        {QStringLiteral("btnPolyBrowse"), QStringLiteral("[2] - Найти...")},
        {QStringLiteral("btnImportBrowse"), QStringLiteral("[3] - Найти...")},
        {QStringLiteral("btnExportBrowse"), QStringLiteral("[4] - Найти...")},
        {QStringLiteral("Button2"), QStringLiteral("[1] - Найти...")},
        {QStringLiteral("Button1"), QStringLiteral("[2] - Найти...")},
        {QStringLiteral("btnOK"), QStringLiteral("F6 - Сохранить")},
        {QStringLiteral("btnCancel"), QStringLiteral("ESC - Отмена")}};
    for (const auto &[name, caption] : buttons)
        QCOMPARE(child<QPushButton>(&form, name)->text(), caption);
    for (const QString &name :
         {QStringLiteral("edMainDB"), QStringLiteral("edPolyDB"), QStringLiteral("edImportDB"),
          QStringLiteral("edExportDB"), QStringLiteral("edServerImport"),
          QStringLiteral("edServerExport")}) {
        auto *edit = child<QLineEdit>(&form, name);
        QVERIFY2(edit->isReadOnly(), qPrintable(name));
        QVERIFY2(!(edit->focusPolicy() & Qt::TabFocus), qPrintable(name));
    }
    QCOMPARE(child(&form, QStringLiteral("Panel1"))->height(), 41);
    QVERIFY(!child(&form, QStringLiteral("btnOK"))->isEnabled());
    auto *pages = child<QTabWidget>(&form, QStringLiteral("PageControl1"));
    QCOMPARE(pages->tabText(pages->indexOf(child(&form, QStringLiteral("tsWorkstation")))),
             QStringLiteral("Базы данных и папки"));
    QCOMPARE(pages->tabText(pages->indexOf(child(&form, QStringLiteral("tsServer")))),
             QStringLiteral("Настройка папок"));
    QCOMPARE(form.Common()->Bevel()->StickTo(), child(&form, QStringLiteral("btnMainBrowse")));
}

void TestSetSettingsForm::pageAndHeightByRole_data()
{
    QTest::addColumn<bool>("isServer");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("hidden");
    QTest::addColumn<int>("height");
    QTest::newRow("workstation") << false << QStringLiteral("tsWorkstation")
                                 << QStringLiteral("tsServer") << 300;
    QTest::newRow("server") << true << QStringLiteral("tsServer") << QStringLiteral("tsWorkstation")
                            << 220;
}

void TestSetSettingsForm::pageAndHeightByRole()
{
    QFETCH(bool, isServer);
    QFETCH(QString, shown);
    QFETCH(QString, hidden);
    QFETCH(int, height);
    TSetSettingsForm form(isServer);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *pages = child<QTabWidget>(&form, QStringLiteral("PageControl1"));
    QVERIFY(pages->isTabVisible(pages->indexOf(child(&form, shown))));
    QVERIFY(!pages->isTabVisible(pages->indexOf(child(&form, hidden))));
    QVERIFY(child(&form, shown)->isVisible());
    QVERIFY(!child(&form, hidden)->isVisible());
    QCOMPARE(form.height(), height);
    QCOMPARE(form.width(), 586);
}

void TestSetSettingsForm::savedHeightReplacesComputedOne()
{
    ShellFixture fx;
    fx.info->WriteInteger(QStringLiteral("1024x768"), QStringLiteral("SetSettingsForm_height"),
                          260);
    TSetSettingsForm form(true);
    QCOMPARE(form.height(), 220);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.height(), 260);
    form.resize(600, 250);
    form.reject();
    QCOMPARE(fx.info->ReadInteger(QStringLiteral("1024x768"),
                                  QStringLiteral("SetSettingsForm_width"), 0),
             600);
}

void TestSetSettingsForm::okEnabledOnlyWithAllFourFolders_data()
{
    QTest::addColumn<bool>("isServer");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("all four") << false << sl({"/a/", "/b/", "/c/", "/d/"}) << true;
    QTest::newRow("empty main") << false << sl({"", "/b/", "/c/", "/d/"}) << false;
    QTest::newRow("empty poly") << false << sl({"/a/", "", "/c/", "/d/"}) << false;
    QTest::newRow("empty import") << false << sl({"/a/", "/b/", "", "/d/"}) << false;
    QTest::newRow("empty export") << false << sl({"/a/", "/b/", "/c/", ""}) << false;
    // An unset folder arrives as the bare separator: it is not a choice.
    QTest::newRow("unset main") << false << sl({"/", "/b/", "/c/", "/d/"}) << false;
    QTest::newRow("all unset") << false << sl({"/", "/", "/", "/"}) << false;
    QTest::newRow("server keeps no local databases")
        << true << sl({"/", "/", "/c/", "/d/"}) << true;
    QTest::newRow("server, import unset") << true << sl({"/", "/", "/", "/d/"}) << false;
}

void TestSetSettingsForm::okEnabledOnlyWithAllFourFolders()
{
    QFETCH(bool, isServer);
    QFETCH(QStringList, folders);
    QFETCH(bool, enabled);
    for (QString &f : folders)
        if (f == QLatin1String("/"))
            f = QString(QDir::separator());
    TSetSettingsForm form(isServer);
    form.edMainDB()->setText(folders[0]);
    form.edPolyDB()->setText(folders[1]);
    form.edImportDB()->setText(folders[2]);
    form.edExportDB()->setText(folders[3]);
    auto *ok = child(&form, QStringLiteral("btnOK"));
    QCOMPARE(ok->isEnabled(), enabled);
    if (enabled || isServer)
        return;
    // Choosing the missing folders enables it.
    const QList<int> keys = {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4};
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    for (int i = 0; i < 4; ++i) {
        if (!folders[i].isEmpty() && folders[i] != QString(QDir::separator()))
            continue;
        QVERIFY(!ok->isEnabled());
        TDialogs::SetNextFolder(QStringLiteral("/chosen%1").arg(i));
        QTest::keyClick(&form, Qt::Key(keys[i]));
    }
    QVERIFY(ok->isEnabled());
}

void TestSetSettingsForm::digitKeysBrowse_data()
{
    QTest::addColumn<bool>("isServer");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("focused");
    QTest::addColumn<QStringList>("filled");
    QTest::newRow("1 main") << false << int(Qt::Key_1) << kMainCaption
                            << QStringLiteral("btnMainBrowse") << sl({"edMainDB"});
    QTest::newRow("2 poly") << false << int(Qt::Key_2) << kPolyCaption
                            << QStringLiteral("btnPolyBrowse") << sl({"edPolyDB"});
    QTest::newRow("3 import") << false << int(Qt::Key_3) << kImportCaption
                              << QStringLiteral("btnImportBrowse")
                              << sl({"edImportDB", "edServerImport"});
    QTest::newRow("4 export") << false << int(Qt::Key_4) << kExportCaption
                              << QStringLiteral("btnExportBrowse")
                              << sl({"edExportDB", "edServerExport"});
    QTest::newRow("server 1 import")
        << true << int(Qt::Key_1) << kImportCaption << QStringLiteral("Button2")
        << sl({"edImportDB", "edServerImport"});
    QTest::newRow("server 2 export")
        << true << int(Qt::Key_2) << kExportCaption << QStringLiteral("Button1")
        << sl({"edExportDB", "edServerExport"});
    QTest::newRow("server 3 nothing") << true << int(Qt::Key_3) << QString() << QString() << sl({});
}

void TestSetSettingsForm::digitKeysBrowse()
{
    QFETCH(bool, isServer);
    QFETCH(int, key);
    QFETCH(QString, caption);
    QFETCH(QString, focused);
    QFETCH(QStringList, filled);
    TSetSettingsForm form(isServer);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    if (!caption.isEmpty())
        TDialogs::SetNextFolder(QStringLiteral("/srv/data"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));

    const auto asked = TDialogs::AskedSoFar();
    if (caption.isEmpty()) {
        QVERIFY(asked.isEmpty());
    } else {
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, Kind::FolderBrowser);
        QCOMPARE(asked[0].text, caption);
        QCOMPARE(QApplication::focusWidget()->objectName(), focused);
    }
    const QStringList all = sl(
        {"edMainDB", "edPolyDB", "edImportDB", "edExportDB", "edServerImport", "edServerExport"});
    for (const QString &name : all)
        QCOMPARE(text(&form, name),
                 filled.contains(name) ? QStringLiteral("/srv/data/") : QString());
    QVERIFY(form.isVisible());
}

void TestSetSettingsForm::cancelledBrowserChangesNothing()
{
    TSetSettingsForm form(false);
    form.edImportDB()->setText(QStringLiteral("/old/"));
    TDialogs::SetNextFolder(QString());
    child<QPushButton>(&form, QStringLiteral("btnImportBrowse"))->click();
    QCOMPARE(form.edImportDB()->text(), QStringLiteral("/old/"));
    QCOMPARE(text(&form, QStringLiteral("edServerImport")), QString());
}

void TestSetSettingsForm::trailingSeparator_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("shown");
    QTest::newRow("added") << QStringLiteral("/data/main") << QStringLiteral("/data/main/");
    QTest::newRow("kept single") << QStringLiteral("/data/main/") << QStringLiteral("/data/main/");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
    // Refused with an error box: the ini file could not keep the name.
    QTest::newRow("outside 1251") << QStringLiteral("/data/✓") << QString();
}

void TestSetSettingsForm::trailingSeparator()
{
    QFETCH(QString, chosen);
    QFETCH(QString, shown);
    TSetSettingsForm form(false);
    TDialogs::SetNextFolder(chosen);
    if (shown.isEmpty())
        TDialogs::SetNextAnswer(TDialogs::Button::Ok);
    child<QPushButton>(&form, QStringLiteral("btnMainBrowse"))->click();
    QCOMPARE(form.edMainDB()->text(), QDir::toNativeSeparators(shown));
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), shown.isEmpty() ? 2 : 1);
    if (shown.isEmpty())
        QVERIFY(asked.last().kind == TDialogs::Kind::Error &&
                asked.last().text.contains(QStringLiteral("кодировка 1251")));
}

void TestSetSettingsForm::editPassesFocusToItsButton()
{
    TSetSettingsForm form(false);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::mouseClick(form.edExportDB(), Qt::LeftButton);
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("btnExportBrowse"));
    QTest::mouseClick(form.edMainDB(), Qt::LeftButton);
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("btnMainBrowse"));
}

void TestSetSettingsForm::f6_data()
{
    QTest::addColumn<bool>("filled");
    QTest::addColumn<bool>("closes");
    QTest::newRow("enabled: asks and saves") << true << true;
    QTest::newRow("disabled: nothing") << false << false;
}

void TestSetSettingsForm::f6()
{
    QFETCH(bool, filled);
    QFETCH(bool, closes);
    TSetSettingsForm form(false);
    if (filled)
        for (QLineEdit *e :
             {form.edMainDB(), form.edPolyDB(), form.edImportDB(), form.edExportDB()})
            e->setText(QStringLiteral("/x/"));
    form.open();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    if (closes)
        TDialogs::SetNextAnswer(Button::Ok);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    QCOMPARE(form.isVisible(), !closes);
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), closes ? 1 : 0);
    if (closes) {
        QCOMPARE(asked[0].kind, Kind::Confirmation);
        QCOMPARE(asked[0].text, StrConst::ConfirmSave);
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }
}

void TestSetSettingsForm::cancelledConfirmationKeepsDialogOpen()
{
    TSetSettingsForm form(false);
    form.open();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    for (int key : {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4}) {
        TDialogs::SetNextFolder(QStringLiteral("/f%1").arg(key - Qt::Key_0));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    }
    auto *ok = child<QPushButton>(&form, QStringLiteral("btnOK"));
    QVERIFY(ok->isEnabled());
    TDialogs::SetNextAnswer(Button::Cancel);
    ok->click();
    QVERIFY(form.isVisible());
    QCOMPARE(form.edMainDB()->text(), QStringLiteral("/f1/"));
    QCOMPARE(form.edExportDB()->text(), QStringLiteral("/f4/"));

    TDialogs::SetNextAnswer(Button::Ok);
    ok->click();
    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), int(QDialog::Accepted));
}

void TestSetSettingsForm::escClosesWithoutQuestion()
{
    TSetSettingsForm form(false);
    for (QLineEdit *e : {form.edMainDB(), form.edPolyDB(), form.edImportDB(), form.edExportDB()})
        e->setText(QStringLiteral("/x/"));
    form.open();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), int(QDialog::Rejected));
    QVERIFY(TDialogs::AskedSoFar().isEmpty());
}

void TestSetSettingsForm::showSettingsDialogSaves()
{
    ShellFixture fx;
    fx.aliases.AddStandardAlias(StrConst::MainAliasName, QString(), QStringLiteral("PARADOX"));
    fx.aliases.AddStandardAlias(StrConst::PolyAliasName, QString(), QStringLiteral("DBASE"));
    const QString main = fx.folder(QStringLiteral("main"));
    fx.info->MainDBPath = main;
    fx.info->PolyDBPath = fx.folder(QStringLiteral("poly"));
    fx.info->ImportPath = QString(paths::separator());
    fx.info->ExportPath = fx.folder(QStringLiteral("out"));
    const QString import = fx.folder(QStringLiteral("in"));

    bool enabledAtOnce = false;
    whenModalShown(this, QStringLiteral("SetSettingsForm"), [&](QWidget *w) {
        QCOMPARE(text(w, QStringLiteral("edMainDB")), main);
        enabledAtOnce = child(w, QStringLiteral("btnOK"))->isEnabled();
        TDialogs::SetNextFolder(import);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_3);
        TDialogs::SetNextAnswer(Button::Ok);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    });
    QVERIFY(ShowSettingsDialog());
    QVERIFY(!enabledAtOnce); // the import folder was unset

    QCOMPARE(fx.info->ImportPath, import);
    QCOMPARE(fx.info->ReadString(StrConst::SettingsSection, StrConst::ImportKey, {}), import);
    QCOMPARE(fx.aliases.GetAliasParam(StrConst::MainAliasName, QStringLiteral("PATH")), main);
}

void TestSetSettingsForm::showSettingsDialogCancelled()
{
    ShellFixture fx;
    fx.info->ImportPath = QStringLiteral("/was/");
    whenModalShown(this, QStringLiteral("SetSettingsForm"), [&](QWidget *) {
        TDialogs::SetNextFolder(QStringLiteral("/new"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_3);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    QVERIFY(!ShowSettingsDialog());
    QCOMPARE(fx.info->ImportPath, QStringLiteral("/was/"));
    QVERIFY(!QFile::exists(fx.iniPath()) ||
            fx.info->ReadString(StrConst::SettingsSection, StrConst::ImportKey, {}).isEmpty());
}

QTEST_MAIN(TestSetSettingsForm)
#include "tst_setsettingsform.moc"
