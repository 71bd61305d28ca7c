#include "admin/adminwizard.h"
#include "app/commonform.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "core/russian.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "progressdriver.h"
#include "schema/schema.h"
#include "shellfixture.h"
#include "testsupport.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTranslator>
#include <QtTest>

using namespace Qt::StringLiterals;

using Kind = TDialogs::Kind;
using Button = TDialogs::Button;

namespace {

// An SQLite file that the central alias can point at.
QString makeSqliteFile(const QString &path)
{
    const QString conn = u"make_center"_s;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, conn);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot create %s", qPrintable(path));
        QSqlQuery(db).exec(u"CREATE TABLE probe (x INTEGER)"_s);
        db.close();
    }
    QSqlDatabase::removeDatabase(conn);
    return path;
}

// Settings of a central database reached through alias `alias`.
void configureCenter(ShellFixture &fx, const QString &alias, const QString &userName)
{
    fx.info->WriteString(StrConst::SettingsSection, StrConst::SrvDBKey, alias);
    if (!userName.isNull())
        fx.info->WriteString(StrConst::SettingsSection, StrConst::UserNameKey, userName);
}

// An SQLite alias CENTER, and alias named as the central one.
void addSqliteCenter(ShellFixture &fx, const QString &alias, const QString &userName)
{
    fx.aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    fx.aliases.AddAlias(u"CENTER"_s, u"SQLITE"_s,
                        {u"DATABASE NAME="_s + makeSqliteFile(fx.dir.filePath(u"center.db"_s))});
    configureCenter(fx, alias, userName);
}

void addPgAlias(ShellFixture &fx, const testsupport::PgServer &pg)
{
    fx.aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    fx.aliases.AddAlias(u"PGCENTER"_s, u"POSTGRESQL"_s,
                        {u"SERVER NAME="_s + pg.host, u"PORT="_s + QString::number(pg.port),
                         u"DATABASE NAME="_s + pg.database});
    configureCenter(fx, u"PGCENTER"_s, pg.user);
}

QList<Kind> kinds()
{
    QList<Kind> result;
    for (const auto &a : TDialogs::AskedSoFar())
        result << a.kind;
    return result;
}

} // namespace

class TestSrvMainForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        TDialogs::SetTestMode(true);
        TDialogs::InstallLoginHandler();
        TCommonForm::SetScreenKeySource([] { return u"1024x768"_s; });
    }

    void init() { TDialogs::Reset(); }
    void cleanup() { QCOMPARE(TDialogs::PendingAnswers(), 0); }

    // Every item enabled.
    void menuCaptionsAndNames_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("caption");
        const QString admin = u"AdminMenu"_s;
        QTest::newRow("exit") << u"FileMenu"_s << u"FileExitItem"_s << u"&Выход"_s;
        QTest::newRow("sync") << admin << u"SyncItem"_s << u"Синхронизация справочников с ЕСВС"_s;
        QTest::newRow("import") << admin << u"ImportItem"_s << u"Импорт данных с рабочей станции"_s;
        QTest::newRow("admin") << admin << u"WstAdminItem"_s
                               << u"Администрирование рабочих станций"_s;
        QTest::newRow("check") << admin << u"CheckPackageItem"_s << u"Проверить пакет..."_s;
        QTest::newRow("journal") << admin << u"ImportJournalItem"_s << u"Журнал импорта"_s;
    }
    void menuCaptionsAndNames()
    {
        QFETCH(QString, menu);
        QFETCH(QString, item);
        QFETCH(QString, caption);
        ShellFixture fx;
        TDialogs::SetNextAnswer(Button::Ok); // no central alias configured
        TSrvMainForm form;
        auto *bar = form.findChild<QMenuBar *>(u"MainMenu"_s);
        QVERIFY(bar);
        QCOMPARE(form.menuBar(), bar);
        auto *fileMenu = bar->findChild<QMenu *>(u"FileMenu"_s);
        auto *adminMenu = bar->findChild<QMenu *>(u"AdminMenu"_s);
        QCOMPARE(fileMenu->title(), u"&Файл"_s);
        QCOMPARE(adminMenu->title(), u"Администрирование"_s);
        QCOMPARE(bar->actions(),
                 (QList<QAction *>{fileMenu->menuAction(), adminMenu->menuAction()}));

        auto *owner = bar->findChild<QMenu *>(menu);
        QAction *action = nullptr;
        for (QAction *a : owner->actions())
            if (a->objectName() == item)
                action = a;
        QVERIFY2(action, qPrintable(item));
        QCOMPARE(action->text(), caption);
        QVERIFY(action->isEnabled());
    }

    void windowAndConnections()
    {
        ShellFixture fx;
        TDialogs::SetNextAnswer(Button::Ok);
        TSrvMainForm form;
        QCOMPARE(form.objectName(), u"SrvMainForm"_s);
        QCOMPARE(form.windowTitle(), u"Подсистема администрирования (ZORU)"_s);
        QCOMPARE(form.KZCenter().DatabaseName, u"KZCenter"_s);
        QVERIFY(form.KZCenter().Exclusive);
        QVERIFY(form.KZCenter().LoginPrompt);
        QCOMPARE(form.WstRplDB().DatabaseName, u"ImportFromWst"_s);
        QVERIFY(form.WstRplDB().ReadOnly);
        QVERIFY(form.WstRplDB().AliasName.isEmpty());
        QVERIFY(!form.WstRplDB().Connected());
        auto *status = form.findChild<QStatusBar *>(u"StatusLine"_s);
        QVERIFY(status);
        auto *exit = form.findChild<QAction *>(u"FileExitItem"_s);
        QCOMPARE(exit->statusTip(), u"Exit this application"_s);
        // Hovering the item sends its hint from the menu bar up to the window.
        exit->showStatusText(form.menuBar());
        QCOMPARE(status->currentMessage(), u"Exit this application"_s);
    }

    void fileExitClosesAndSavesPlacement()
    {
        ShellFixture fx;
        TDialogs::SetNextAnswer(Button::Ok);
        TSrvMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.resize(700, 450);
        form.findChild<QAction *>(u"FileExitItem"_s)->trigger();
        QVERIFY(!form.isVisible());
        QCOMPARE(fx.info->ReadInteger(u"1024x768"_s, u"SrvMainForm_width"_s, 0), 700);
        QCOMPARE(fx.info->ReadInteger(u"1024x768"_s, u"SrvMainForm_height"_s, 0), 450);
    }

    void loginOffersConfiguredUserName_data()
    {
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QString>("offered");
        QTest::newRow("configured") << u"ivanov"_s << u"ivanov"_s;
        QTest::newRow("empty") << u""_s << QString();
        QTest::newRow("missing") << QString() << QString();
    }
    void loginOffersConfiguredUserName()
    {
        QFETCH(QString, configured);
        QFETCH(QString, offered);
        ShellFixture fx;
        addSqliteCenter(fx, u"CENTER"_s, configured);
        // SQLite checks no password: any log-in connects.
        TDialogs::SetNextLogin(u"operator"_s, u"whatever"_s);
        TSrvMainForm form;
        QVERIFY(form.KZCenter().Connected());
        QCOMPARE(form.KZCenter().AliasName, u"CENTER"_s);
        QCOMPARE(form.KZCenter().Params, QStringList{u"USER NAME="_s + offered});
        const auto asked = TDialogs::AskedSoFar();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, Kind::Login);
        QCOMPARE(asked[0].text, u"KZCenter"_s);
        QCOMPARE(asked[0].detail, offered);
    }

    // The central alias named in the settings (null: no key), its case ignored: refused with an
    // error before any log-in, or the log-in asked; a cancelled log-in is silent.
    void centralAlias_data()
    {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("error");
        QTest::newRow("case ignored") << u"center"_s << false << QString();
        QTest::newRow("cancelled log-in") << u"CENTER"_s << true << QString();
        QTest::newRow("no key") << QString() << false
                                << u"Ключ 'Settings\\AIS_RODE_SRV_DB' не найден"_s;
        QTest::newRow("unknown alias")
            << u"ORACLE_RODE"_s << false << u"Неверный псевдоним: ORACLE_RODE"_s;
    }
    void centralAlias()
    {
        QFETCH(QString, alias);
        QFETCH(bool, cancel);
        QFETCH(QString, error);
        ShellFixture fx;
        if (!alias.isNull())
            addSqliteCenter(fx, alias, u"u"_s);
        if (!error.isEmpty())
            TDialogs::SetNextAnswer(Button::Ok);
        else if (cancel)
            TDialogs::SetNextLoginCancel();
        else
            TDialogs::SetNextLogin(u"u"_s, QString());
        TSrvMainForm form;
        QCOMPARE(form.KZCenter().Connected(), error.isEmpty() && !cancel);
        QCOMPARE(kinds(), QList<Kind>{error.isEmpty() ? Kind::Login : Kind::Error});
        if (!error.isEmpty())
            QCOMPARE(TDialogs::AskedSoFar().first().text, error);
    }

    void postgresWrongThenRightPassword()
    {
        ZORU_REQUIRE_PG_OR_SKIP(pg);
        ShellFixture fx;
        addPgAlias(fx, pg);
        TDialogs::SetNextLogin(pg.user, pg.password + u"-wrong"_s);
        TDialogs::SetNextAnswer(Button::Ok);
        TDialogs::SetNextLogin(pg.user, pg.password);
        TSrvMainForm form;
        QVERIFY(form.KZCenter().Connected());
        QCOMPARE(kinds(), (QList<Kind>{Kind::Login, Kind::Error, Kind::Login}));
        const auto asked = TDialogs::AskedSoFar();
        QCOMPARE(asked[0].detail, pg.user);
        // The engine's own message is shown.
        QVERIFY2(asked[1].text.contains(u"password"_s, Qt::CaseInsensitive) ||
                     asked[1].text.contains(u"парол"_s, Qt::CaseInsensitive),
                 qPrintable(asked[1].text));
        QCOMPARE(form.KZCenter().UserName(), pg.user);
    }

    void postgresCancelledLogin()
    {
        ZORU_REQUIRE_PG_OR_SKIP(pg);
        ShellFixture fx;
        addPgAlias(fx, pg);
        TDialogs::SetNextLoginCancel();
        TSrvMainForm form;
        QVERIFY(!form.KZCenter().Connected());
        QCOMPARE(kinds(), QList<Kind>{Kind::Login});
    }

    // The wizard runs modally as a child of the main window and is freed when it closes, also when
    // it cannot open its lists (a database without the tables).
    void adminItemOpensAndFreesTheWizard()
    {
        for (const bool tables : {false, true}) {
            ShellFixture fx;
            addSqliteCenter(fx, u"CENTER"_s, u"u"_s);
            TDialogs::SetNextLogin(u"u"_s, QString());
            TSrvMainForm form;
            if (tables)
                CreateSchema(form.KZCenter(), SchemaKind::Central);
            for (int round = 0; round < (tables ? 2 : 1); ++round) {
                TDialogs::Reset();
                QObject *owner = nullptr;
                whenModalShown(&form, u"AdminWizard"_s, [&](QWidget *w) {
                    owner = w->parent();
                    w->findChild<QPushButton *>(u"CancelButton"_s)->click();
                });
                if (!tables)
                    TDialogs::SetNextAnswer(Button::Ok);
                form.findChild<QAction *>(u"WstAdminItem"_s)->trigger();
                QCOMPARE(owner, tables ? &form : nullptr);
                QCOMPARE(kinds(), tables ? QList<Kind>{} : QList<Kind>{Kind::Error});
                QVERIFY(!form.findChild<TAdminWizard *>());
            }
        }
    }

    // With Qt's own Russian texts loaded as the program loads them, the file dialog of the import
    // (the real one, once) speaks Russian: its labels and both its buttons.
    void importFileDialogInRussian()
    {
        const auto russian = InstallQtTranslations(QString());
        QVERIFY2(russian, "qtbase_ru not found: install qt6-translations-l10n (scripts/deps.sh)");
        ShellFixture fx;
        addSqliteCenter(fx, u"CENTER"_s, u"u"_s);
        fx.info->WriteInteger(StrConst::SettingsSection, StrConst::IsServerKey, 1);
        fx.info->ImportPath = fx.folder(u"import"_s);
        TDialogs::SetNextLogin(u"u"_s, QString());
        TSrvMainForm form;
        QStringList texts;
        whenModalShown(&form, u"QFileDialog"_s, [&](QWidget *d) {
            for (const char *label : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
                texts << d->findChild<QLabel *>(QLatin1String(label))->text();
            for (QAbstractButton *b : d->findChild<QDialogButtonBox *>()->buttons())
                texts << b->text();
            static_cast<QDialog *>(d)->reject();
        });
        TDialogs::SetNextReal();
        jobtest::Finished seen;
        QTimer *timer = jobtest::pressOkWhenDone(&form, seen);
        form.findChild<QAction *>(u"ImportItem"_s)->trigger();
        timer->stop();
        QCOMPARE(texts, (QStringList{u"Перейти к:"_s, u"&Имя файла:"_s, u"Типы файлов:"_s,
                                     u"&Открыть"_s, u"Отмена"_s}));
        QCOMPARE(TDialogs::AskedSoFar().last().kind, Kind::FileOpen);
    }
};

QTEST_MAIN(TestSrvMainForm)
#include "tst_mainwindow.moc"
