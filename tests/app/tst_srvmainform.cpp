#include "admin/wstwizard.h"
#include "app/commonform.h"
#include "app/srvmainform.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "schema/schema.h"
#include "shellfixture.h"
#include "testsupport.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QtTest>

using Kind = TDialogs::Kind;
using Button = TDialogs::Button;

namespace {

// An SQLite file that the central alias can point at.
QString makeSqliteFile(const QString &path)
{
    const QString conn = QStringLiteral("make_center");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), conn);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot create %s", qPrintable(path));
        QSqlQuery(db).exec(QStringLiteral("CREATE TABLE probe (x INTEGER)"));
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

void addSqliteAlias(ShellFixture &fx, const QString &alias)
{
    fx.aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    fx.aliases.AddAlias(alias, QStringLiteral("SQLITE"),
                        {QStringLiteral("DATABASE NAME=") +
                         makeSqliteFile(fx.dir.filePath(QStringLiteral("center.db")))});
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
    void initTestCase();
    void init();
    void cleanup();
    void menuCaptionsAndNames_data();
    void menuCaptionsAndNames();
    void windowAndConnections();
    void hintGoesToStatusLine();
    void fileExitClosesAndSavesPlacement();
    void loginOffersConfiguredUserName_data();
    void loginOffersConfiguredUserName();
    void aliasComparedWithoutCase();
    void missingServerAliasKey();
    void unknownAlias();
    void cancelledLoginIsSilent();
    void postgresWrongThenRightPassword();
    void postgresCancelledLogin();
    void adminItemOpensAndFreesTheWizard();
};

void TestSrvMainForm::initTestCase()
{
    TDialogs::SetTestMode(true);
    TDialogs::InstallLoginHandler();
    TCommonForm::SetScreenKeySource([] { return QStringLiteral("1024x768"); });
}

void TestSrvMainForm::init()
{
    TDialogs::Reset();
}

void TestSrvMainForm::cleanup()
{
    QCOMPARE(TDialogs::PendingAnswers(), 0);
}

void TestSrvMainForm::menuCaptionsAndNames_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("exit") << QStringLiteral("FileMenu") << QStringLiteral("FileExitItem")
                          << QStringLiteral("&Выход") << true;
    QTest::newRow("sync") << QStringLiteral("AdminMenu") << QStringLiteral("SyncItem")
                          << QStringLiteral("Синхронизация справочников с ЕСВС") << true;
    QTest::newRow("import") << QStringLiteral("AdminMenu") << QStringLiteral("ImportItem")
                            << QStringLiteral("Импорт данных с рабочей станции") << true;
    QTest::newRow("admin") << QStringLiteral("AdminMenu") << QStringLiteral("WstAdminItem")
                           << QStringLiteral("Администрирование рабочих станций") << true;
    QTest::newRow("check") << QStringLiteral("AdminMenu") << QStringLiteral("CheckPackageItem")
                           << QStringLiteral("Проверить пакет...") << true;
    QTest::newRow("journal") << QStringLiteral("AdminMenu") << QStringLiteral("ImportJournalItem")
                             << QStringLiteral("Журнал импорта") << true;
}

void TestSrvMainForm::menuCaptionsAndNames()
{
    QFETCH(QString, menu);
    QFETCH(QString, item);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);
    ShellFixture fx;
    TDialogs::SetNextAnswer(Button::Ok); // no central alias configured
    TSrvMainForm form;
    auto *bar = form.findChild<QMenuBar *>(QStringLiteral("MainMenu"));
    QVERIFY(bar);
    QCOMPARE(form.menuBar(), bar);
    auto *fileMenu = bar->findChild<QMenu *>(QStringLiteral("FileMenu"));
    auto *adminMenu = bar->findChild<QMenu *>(QStringLiteral("AdminMenu"));
    QCOMPARE(fileMenu->title(), QStringLiteral("&Файл"));
    QCOMPARE(adminMenu->title(), QStringLiteral("Администрирование"));
    QCOMPARE(bar->actions(), (QList<QAction *>{fileMenu->menuAction(), adminMenu->menuAction()}));

    auto *owner = bar->findChild<QMenu *>(menu);
    QAction *action = nullptr;
    for (QAction *a : owner->actions())
        if (a->objectName() == item)
            action = a;
    QVERIFY2(action, qPrintable(item));
    QCOMPARE(action->text(), caption);
    QCOMPARE(action->isEnabled(), enabled);
}

void TestSrvMainForm::windowAndConnections()
{
    ShellFixture fx;
    TDialogs::SetNextAnswer(Button::Ok);
    TSrvMainForm form;
    QCOMPARE(form.objectName(), QStringLiteral("SrvMainForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Подсистема администрирования (ZORU)"));
    QCOMPARE(form.KZCenter().DatabaseName, QStringLiteral("KZCenter"));
    QVERIFY(form.KZCenter().Exclusive);
    QVERIFY(form.KZCenter().LoginPrompt);
    QCOMPARE(form.WstRplDB().DatabaseName, QStringLiteral("ImportFromWst"));
    QVERIFY(form.WstRplDB().ReadOnly);
    QVERIFY(form.WstRplDB().AliasName.isEmpty());
    QVERIFY(!form.WstRplDB().Connected());
    QVERIFY(form.findChild<QStatusBar *>(QStringLiteral("StatusLine")));
}

void TestSrvMainForm::hintGoesToStatusLine()
{
    ShellFixture fx;
    TDialogs::SetNextAnswer(Button::Ok);
    TSrvMainForm form;
    auto *exit = form.findChild<QAction *>(QStringLiteral("FileExitItem"));
    QCOMPARE(exit->statusTip(), QStringLiteral("Exit this application"));
    // Hovering the item sends its hint from the menu bar up to the window.
    exit->showStatusText(form.menuBar());
    auto *status = form.findChild<QStatusBar *>(QStringLiteral("StatusLine"));
    QCOMPARE(status->currentMessage(), QStringLiteral("Exit this application"));
}

void TestSrvMainForm::fileExitClosesAndSavesPlacement()
{
    ShellFixture fx;
    TDialogs::SetNextAnswer(Button::Ok);
    TSrvMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(700, 450);
    form.findChild<QAction *>(QStringLiteral("FileExitItem"))->trigger();
    QVERIFY(!form.isVisible());
    QCOMPARE(
        fx.info->ReadInteger(QStringLiteral("1024x768"), QStringLiteral("SrvMainForm_width"), 0),
        700);
    QCOMPARE(
        fx.info->ReadInteger(QStringLiteral("1024x768"), QStringLiteral("SrvMainForm_height"), 0),
        450);
}

void TestSrvMainForm::loginOffersConfiguredUserName_data()
{
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QString>("offered");
    QTest::newRow("configured") << QStringLiteral("ivanov") << QStringLiteral("ivanov");
    QTest::newRow("empty") << QStringLiteral("") << QString();
    QTest::newRow("missing") << QString() << QString();
}

void TestSrvMainForm::loginOffersConfiguredUserName()
{
    QFETCH(QString, configured);
    QFETCH(QString, offered);
    ShellFixture fx;
    addSqliteAlias(fx, QStringLiteral("CENTER"));
    configureCenter(fx, QStringLiteral("CENTER"), configured);
    // SQLite checks no password: any log-in connects.
    TDialogs::SetNextLogin(QStringLiteral("operator"), QStringLiteral("whatever"));
    TSrvMainForm form;
    QVERIFY(form.KZCenter().Connected());
    QCOMPARE(form.KZCenter().AliasName, QStringLiteral("CENTER"));
    QCOMPARE(form.KZCenter().Params, QStringList{QStringLiteral("USER NAME=") + offered});
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].kind, Kind::Login);
    QCOMPARE(asked[0].text, QStringLiteral("KZCenter"));
    QCOMPARE(asked[0].detail, offered);
}

void TestSrvMainForm::aliasComparedWithoutCase()
{
    ShellFixture fx;
    addSqliteAlias(fx, QStringLiteral("CENTER"));
    configureCenter(fx, QStringLiteral("center"), QStringLiteral("u"));
    TDialogs::SetNextLogin(QStringLiteral("u"), QString());
    TSrvMainForm form;
    QVERIFY(form.KZCenter().Connected());
}

void TestSrvMainForm::missingServerAliasKey()
{
    ShellFixture fx;
    TDialogs::SetNextAnswer(Button::Ok);
    TSrvMainForm form;
    QVERIFY(!form.KZCenter().Connected());
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].kind, Kind::Error);
    QCOMPARE(asked[0].text, QStringLiteral("Ключ 'Settings\\AIS_RODE_SRV_DB' не найден"));
}

void TestSrvMainForm::unknownAlias()
{
    ShellFixture fx;
    addSqliteAlias(fx, QStringLiteral("CENTER"));
    configureCenter(fx, QStringLiteral("ORACLE_RODE"), QStringLiteral("u"));
    TDialogs::SetNextAnswer(Button::Ok);
    TSrvMainForm form;
    QVERIFY(!form.KZCenter().Connected());
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].kind, Kind::Error);
    QCOMPARE(asked[0].text, QStringLiteral("Неверный псевдоним: ORACLE_RODE"));
}

void TestSrvMainForm::cancelledLoginIsSilent()
{
    ShellFixture fx;
    addSqliteAlias(fx, QStringLiteral("CENTER"));
    configureCenter(fx, QStringLiteral("CENTER"), QStringLiteral("u"));
    TDialogs::SetNextLoginCancel();
    TSrvMainForm form;
    QVERIFY(!form.KZCenter().Connected());
    QCOMPARE(kinds(), QList<Kind>{Kind::Login});
}

namespace {

void addPgAlias(ShellFixture &fx, const testsupport::PgServer &pg)
{
    fx.aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    fx.aliases.AddAlias(QStringLiteral("PGCENTER"), QStringLiteral("POSTGRESQL"),
                        {QStringLiteral("SERVER NAME=") + pg.host,
                         QStringLiteral("PORT=") + QString::number(pg.port),
                         QStringLiteral("DATABASE NAME=") + pg.database});
    configureCenter(fx, QStringLiteral("PGCENTER"), pg.user);
}

} // namespace

void TestSrvMainForm::postgresWrongThenRightPassword()
{
    ZORU_REQUIRE_PG_OR_SKIP(pg);
    ShellFixture fx;
    addPgAlias(fx, pg);
    TDialogs::SetNextLogin(pg.user, pg.password + QStringLiteral("-wrong"));
    TDialogs::SetNextAnswer(Button::Ok);
    TDialogs::SetNextLogin(pg.user, pg.password);
    TSrvMainForm form;
    QVERIFY(form.KZCenter().Connected());
    QCOMPARE(kinds(), (QList<Kind>{Kind::Login, Kind::Error, Kind::Login}));
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked[0].detail, pg.user);
    // The engine's own message is shown.
    QVERIFY2(asked[1].text.contains(QStringLiteral("password"), Qt::CaseInsensitive) ||
                 asked[1].text.contains(QStringLiteral("парол"), Qt::CaseInsensitive),
             qPrintable(asked[1].text));
    QCOMPARE(form.KZCenter().UserName(), pg.user);
}

void TestSrvMainForm::postgresCancelledLogin()
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
void TestSrvMainForm::adminItemOpensAndFreesTheWizard()
{
    for (const bool tables : {false, true}) {
        ShellFixture fx;
        addSqliteAlias(fx, QStringLiteral("CENTER"));
        configureCenter(fx, QStringLiteral("CENTER"), QStringLiteral("u"));
        TDialogs::SetNextLogin(QStringLiteral("u"), QString());
        TSrvMainForm form;
        if (tables)
            CreateSchema(form.KZCenter(), SchemaKind::Central);
        for (int round = 0; round < (tables ? 2 : 1); ++round) {
            TDialogs::Reset();
            QObject *owner = nullptr;
            whenModalShown(&form, QStringLiteral("AdminWizard"), [&](QWidget *w) {
                owner = w->parent();
                w->findChild<QPushButton *>(QStringLiteral("CancelButton"))->click();
            });
            if (!tables)
                TDialogs::SetNextAnswer(Button::Ok);
            form.findChild<QAction *>(QStringLiteral("WstAdminItem"))->trigger();
            QCOMPARE(owner, tables ? &form : nullptr);
            QCOMPARE(kinds(), tables ? QList<Kind>{} : QList<Kind>{Kind::Error});
            QVERIFY(!form.findChild<TAdminWizard *>());
        }
    }
}

QTEST_MAIN(TestSrvMainForm)
#include "tst_srvmainform.moc"
