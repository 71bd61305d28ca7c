#include "app/commonform.h"
#include "app/settingsdialog.h"
#include "core/strconst.h"
#include "shellfixture.h"
#include "ui/stickingbevel.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

using Kind = TDialogs::Kind;
using Button = TDialogs::Button;

namespace {

const QString kMainCaption = u"База данных  \"АИС ZORU\""_s;
const QString kPolyCaption = u"База данных  \"ПОЛИКЛИНИКА\""_s;
const QString kImportCaption = u"Папка \"ИМПОРТ\""_s;
const QString kExportCaption = u"Папка \"ЭКСПОРТ\""_s;

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
    void initTestCase()
    {
        TDialogs::SetTestMode(true);
        TCommonForm::SetScreenKeySource([] { return u"1024x768"_s; });
    }

    void init() { TDialogs::Reset(); }
    void cleanup() { QCOMPARE(TDialogs::PendingAnswers(), 0); }

    void controlsAndCaptions()
    {
        TSetSettingsForm form(false);
        QCOMPARE(form.objectName(), u"SetSettingsForm"_s);
        QCOMPARE(form.windowTitle(), u"Настройка параметров"_s);
        const QStringList buttons =
            sl({"btnMainBrowse", "btnPolyBrowse", "btnImportBrowse", "btnExportBrowse", "Button2",
                "Button1", "btnOK", "btnCancel"});
        const QStringList captions =
            sl({"[1] - Найти...", "[2] - Найти...", "[3] - Найти...", "[4] - Найти...",
                "[1] - Найти...", "[2] - Найти...", "F6 - Сохранить", "ESC - Отмена"});
        for (int i = 0; i < buttons.size(); ++i)
            QCOMPARE(child<QPushButton>(&form, buttons[i])->text(), captions[i]);
        for (const QString &name : {u"edMainDB"_s, u"edPolyDB"_s, u"edImportDB"_s, u"edExportDB"_s,
                                    u"edServerImport"_s, u"edServerExport"_s}) {
            auto *edit = child<QLineEdit>(&form, name);
            QVERIFY2(edit->isReadOnly(), qPrintable(name));
            QVERIFY2(!(edit->focusPolicy() & Qt::TabFocus), qPrintable(name));
        }
        QCOMPARE(child(&form, u"Panel1"_s)->height(), 41);
        QVERIFY(!child(&form, u"btnOK"_s)->isEnabled());
        auto *pages = child<QTabWidget>(&form, u"PageControl1"_s);
        QCOMPARE(pages->tabText(pages->indexOf(child(&form, u"tsWorkstation"_s))),
                 u"Базы данных и папки"_s);
        QCOMPARE(pages->tabText(pages->indexOf(child(&form, u"tsServer"_s))), u"Настройка папок"_s);
        QCOMPARE(form.Common()->Bevel()->StickTo(), child(&form, u"btnMainBrowse"_s));
    }

    void pageAndHeightByRole_data()
    {
        QTest::addColumn<bool>("isServer");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("hidden");
        QTest::addColumn<int>("height");
        QTest::newRow("workstation") << false << u"tsWorkstation"_s << u"tsServer"_s << 300;
        QTest::newRow("server") << true << u"tsServer"_s << u"tsWorkstation"_s << 220;
    }
    void pageAndHeightByRole()
    {
        QFETCH(bool, isServer);
        QFETCH(QString, shown);
        QFETCH(QString, hidden);
        QFETCH(int, height);
        TSetSettingsForm form(isServer);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *pages = child<QTabWidget>(&form, u"PageControl1"_s);
        QVERIFY(pages->isTabVisible(pages->indexOf(child(&form, shown))));
        QVERIFY(!pages->isTabVisible(pages->indexOf(child(&form, hidden))));
        QVERIFY(child(&form, shown)->isVisible());
        QVERIFY(!child(&form, hidden)->isVisible());
        QCOMPARE(form.height(), height);
        QCOMPARE(form.width(), 586);
    }

    void savedHeightReplacesComputedOne()
    {
        ShellFixture fx;
        fx.info->WriteInteger(u"1024x768"_s, u"SetSettingsForm_height"_s, 260);
        TSetSettingsForm form(true);
        QCOMPARE(form.height(), 220);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.height(), 260);
        form.resize(600, 250);
        form.reject();
        QCOMPARE(fx.info->ReadInteger(u"1024x768"_s, u"SetSettingsForm_width"_s, 0), 600);
    }

    void okEnabledOnlyWithAllFourFolders_data()
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
    void okEnabledOnlyWithAllFourFolders()
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
        auto *ok = child(&form, u"btnOK"_s);
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
            TDialogs::SetNextFolder(u"/chosen%1"_s.arg(i));
            QTest::keyClick(&form, Qt::Key(keys[i]));
        }
        QVERIFY(ok->isEnabled());
    }

    void digitKeysBrowse_data()
    {
        QTest::addColumn<bool>("isServer");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("focused");
        QTest::addColumn<QStringList>("filled");
        const auto row = [](const char *name, bool server, int digit, const QString &caption,
                            const char *focused, const char *filled) {
            QTest::newRow(name) << server << int(Qt::Key_0) + digit << caption << focused
                                << QString::fromUtf8(filled).split(u' ', Qt::SkipEmptyParts);
        };
        row("1 main", false, 1, kMainCaption, "btnMainBrowse", "edMainDB");
        row("2 poly", false, 2, kPolyCaption, "btnPolyBrowse", "edPolyDB");
        row("3 import", false, 3, kImportCaption, "btnImportBrowse", "edImportDB edServerImport");
        row("4 export", false, 4, kExportCaption, "btnExportBrowse", "edExportDB edServerExport");
        row("server 1 import", true, 1, kImportCaption, "Button2", "edImportDB edServerImport");
        row("server 2 export", true, 2, kExportCaption, "Button1", "edExportDB edServerExport");
        row("server 3 nothing", true, 3, QString(), "", "");
    }
    void digitKeysBrowse()
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
            TDialogs::SetNextFolder(u"/srv/data"_s);
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
        const QStringList all = sl({"edMainDB", "edPolyDB", "edImportDB", "edExportDB",
                                    "edServerImport", "edServerExport"});
        for (const QString &name : all)
            QCOMPARE(text(&form, name), filled.contains(name) ? u"/srv/data/"_s : QString());
        QVERIFY(form.isVisible());
    }

    void cancelledBrowserChangesNothing()
    {
        TSetSettingsForm form(false);
        form.edImportDB()->setText(u"/old/"_s);
        TDialogs::SetNextFolder(QString());
        child<QPushButton>(&form, u"btnImportBrowse"_s)->click();
        QCOMPARE(form.edImportDB()->text(), u"/old/"_s);
        QCOMPARE(text(&form, u"edServerImport"_s), QString());
    }

    void trailingSeparator_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("shown");
        QTest::newRow("added") << u"/data/main"_s << u"/data/main/"_s;
        QTest::newRow("kept single") << u"/data/main/"_s << u"/data/main/"_s;
        QTest::newRow("root") << u"/"_s << u"/"_s;
        // Refused with an error box: the ini file could not keep the name.
        QTest::newRow("outside 1251") << u"/data/✓"_s << QString();
    }
    void trailingSeparator()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, shown);
        TSetSettingsForm form(false);
        TDialogs::SetNextFolder(chosen);
        if (shown.isEmpty())
            TDialogs::SetNextAnswer(TDialogs::Button::Ok);
        child<QPushButton>(&form, u"btnMainBrowse"_s)->click();
        QCOMPARE(form.edMainDB()->text(), QDir::toNativeSeparators(shown));
        const auto asked = TDialogs::AskedSoFar();
        QCOMPARE(asked.size(), shown.isEmpty() ? 2 : 1);
        if (shown.isEmpty())
            QVERIFY(asked.last().kind == TDialogs::Kind::Error &&
                    asked.last().text.contains(u"кодировка 1251"_s));
    }

    void editPassesFocusToItsButton()
    {
        TSetSettingsForm form(false);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::mouseClick(form.edExportDB(), Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), u"btnExportBrowse"_s);
        QTest::mouseClick(form.edMainDB(), Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), u"btnMainBrowse"_s);
    }

    // F6 asks and saves when enabled, does nothing when not; Esc closes without a question.
    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("filled");
        QTest::addColumn<int>("result"); // -1: the form stays open
        QTest::newRow("F6 enabled: asks and saves") << int(Qt::Key_F6) << true << 1;
        QTest::newRow("F6 disabled: nothing") << int(Qt::Key_F6) << false << -1;
        QTest::newRow("Esc: closes without question") << int(Qt::Key_Escape) << true << 0;
    }
    void keys()
    {
        QFETCH(int, key);
        QFETCH(bool, filled);
        QFETCH(int, result);
        TSetSettingsForm form(false);
        if (filled)
            for (QLineEdit *e :
                 {form.edMainDB(), form.edPolyDB(), form.edImportDB(), form.edExportDB()})
                e->setText(u"/x/"_s);
        form.open();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        const bool asks = result == QDialog::Accepted;
        if (asks)
            TDialogs::SetNextAnswer(Button::Ok);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(form.isVisible(), result < 0);
        const auto asked = TDialogs::AskedSoFar();
        QCOMPARE(asked.size(), asks ? 1 : 0);
        if (asks) {
            QCOMPARE(asked[0].kind, Kind::Confirmation);
            QCOMPARE(asked[0].text, StrConst::ConfirmSave);
        }
        if (result >= 0)
            QCOMPARE(form.result(), result);
    }

    void cancelledConfirmationKeepsDialogOpen()
    {
        TSetSettingsForm form(false);
        form.open();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        for (int key : {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4}) {
            TDialogs::SetNextFolder(u"/f%1"_s.arg(key - Qt::Key_0));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        }
        auto *ok = child<QPushButton>(&form, u"btnOK"_s);
        QVERIFY(ok->isEnabled());
        TDialogs::SetNextAnswer(Button::Cancel);
        ok->click();
        QVERIFY(form.isVisible());
        QCOMPARE(form.edMainDB()->text(), u"/f1/"_s);
        QCOMPARE(form.edExportDB()->text(), u"/f4/"_s);

        TDialogs::SetNextAnswer(Button::Ok);
        ok->click();
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }

    void showSettingsDialogSaves()
    {
        ShellFixture fx;
        fx.aliases.AddStandardAlias(StrConst::MainAliasName, QString(), u"PARADOX"_s);
        fx.aliases.AddStandardAlias(StrConst::PolyAliasName, QString(), u"DBASE"_s);
        const QString main = fx.folder(u"main"_s);
        fx.info->MainDBPath = main;
        fx.info->PolyDBPath = fx.folder(u"poly"_s);
        fx.info->ImportPath = QString(paths::separator());
        fx.info->ExportPath = fx.folder(u"out"_s);
        const QString import = fx.folder(u"in"_s);

        bool enabledAtOnce = false;
        whenModalShown(this, u"SetSettingsForm"_s, [&](QWidget *w) {
            QCOMPARE(text(w, u"edMainDB"_s), main);
            enabledAtOnce = child(w, u"btnOK"_s)->isEnabled();
            TDialogs::SetNextFolder(import);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_3);
            TDialogs::SetNextAnswer(Button::Ok);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
        });
        QVERIFY(ShowSettingsDialog());
        QVERIFY(!enabledAtOnce); // the import folder was unset

        QCOMPARE(fx.info->ImportPath, import);
        QCOMPARE(fx.info->ReadString(StrConst::SettingsSection, StrConst::ImportKey, {}), import);
        QCOMPARE(fx.aliases.GetAliasParam(StrConst::MainAliasName, u"PATH"_s), main);
    }

    void showSettingsDialogCancelled()
    {
        ShellFixture fx;
        fx.info->ImportPath = u"/was/"_s;
        whenModalShown(this, u"SetSettingsForm"_s, [&](QWidget *) {
            TDialogs::SetNextFolder(u"/new"_s);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_3);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        });
        QVERIFY(!ShowSettingsDialog());
        QCOMPARE(fx.info->ImportPath, u"/was/"_s);
        QVERIFY(!QFile::exists(fx.iniPath()) ||
                fx.info->ReadString(StrConst::SettingsSection, StrConst::ImportKey, {}).isEmpty());
    }
};

QTEST_MAIN(TestSetSettingsForm)
#include "tst_settingsdialog.moc"
