#include "app/commonform.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "shellfixture.h"
#include "testsupport.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using Kind = TDialogs::Kind;
using Button = TDialogs::Button;

namespace {

// A program folder without any configuration yet.
struct ProgramFolder
{
    QString exePath() const { return dir.filePath(QStringLiteral("zoru-admin")); }
    QString iniPath() const { return dir.filePath(QStringLiteral("zoru-admin.ini")); }
    QString aliasFile() const { return dir.filePath(StrConst::AliasFileName); }
    QString folder(const QString &name) const
    {
        QDir(dir.path()).mkpath(name);
        return paths::includeTrailing(QDir::toNativeSeparators(dir.filePath(name)));
    }
    QTemporaryDir dir;
};

QStringList texts()
{
    QStringList result;
    for (const auto &a : TDialogs::AskedSoFar())
        result << a.text;
    return result;
}

// Presses Esc in the settings dialog once it is up.
void cancelSettingsDialog(QObject *context)
{
    whenModalShown(context, QStringLiteral("SetSettingsForm"),
                   [](QWidget *) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); });
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void missingIniAndCancelledDialogEnds();
    void savingTheDialogCreatesTheIni();
    void validSettingsConnect();
    void unwritableAliasFileEnds();
    void runApplicationExitCode();
    void driverNotesAfterALossQuiet();
};

void TestStartup::initTestCase()
{
    TDialogs::SetTestMode(true);
    TCommonForm::SetScreenKeySource([] { return QStringLiteral("1024x768"); });
}

void TestStartup::init()
{
    TDialogs::Reset();
}

void TestStartup::cleanup()
{
    QCOMPARE(TDialogs::PendingAnswers(), 0);
    QCOMPARE(AppInfo, nullptr);
}

void TestStartup::missingIniAndCancelledDialogEnds()
{
    ProgramFolder program;
    TAliasStore aliases;
    {
        TStartup startup(program.exePath(), aliases);
        TDialogs::SetNextAnswer(Button::Ok);
        cancelSettingsDialog(this);
        TDialogs::SetNextAnswer(Button::Ok);
        QVERIFY(!startup.Prepare());
        QCOMPARE(startup.MainForm(), nullptr);
    }
    QCOMPARE(texts(), (QStringList{StrConst::BadSettings, StrConst::NoSettings}));
    QCOMPARE(TDialogs::AskedSoFar()[1].kind, Kind::Error);
    // The folders were never accepted, so none was saved (the dialog's placement was).
    const TIniFile ini(program.iniPath());
    QVERIFY(!ini.ValueExists(StrConst::SettingsSection, StrConst::ImportKey));
    QVERIFY(!ini.ValueExists(StrConst::SettingsSection, StrConst::ExportKey));
    QVERIFY(!QFile::exists(program.aliasFile()));
}

void TestStartup::savingTheDialogCreatesTheIni()
{
    ProgramFolder program;
    TAliasStore aliases;
    const QString main = program.folder(QStringLiteral("main"));
    const QString poly = program.folder(QStringLiteral("poly"));
    const QString in = program.folder(QStringLiteral("in"));
    const QString out = program.folder(QStringLiteral("out"));
    {
        TStartup startup(program.exePath(), aliases);
        TDialogs::SetNextAnswer(Button::Ok);
        whenModalShown(this, QStringLiteral("SetSettingsForm"), [&](QWidget *) {
            int key = Qt::Key_1;
            for (const QString &folder : {main, poly, in, out}) {
                TDialogs::SetNextFolder(folder);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key(key++));
            }
            TDialogs::SetNextAnswer(Button::Ok);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
            // The main window then finds no central alias configured.
            TDialogs::SetNextAnswer(Button::Ok);
        });
        QVERIFY(!startup.Prepare());
        QVERIFY(startup.MainForm());
        QVERIFY(!startup.MainForm()->KZCenter().Connected());
    }
    const QStringList asked = texts();
    QCOMPARE(asked.first(), StrConst::BadSettings);
    QVERIFY(asked.contains(StrConst::ConfirmSave));
    QCOMPARE(asked.last(), QStringLiteral("Ключ 'Settings\\AIS_RODE_SRV_DB' не найден"));
    QVERIFY(!asked.contains(StrConst::NoSettings));

    QVERIFY(QFile::exists(program.iniPath()));
    const TIniFile ini(program.iniPath());
    QCOMPARE(ini.ReadString(StrConst::SettingsSection, StrConst::ImportKey, {}), in);
    QCOMPARE(ini.ReadString(StrConst::SettingsSection, StrConst::ExportKey, {}), out);
    const TAliasStore saved(program.aliasFile());
    QCOMPARE(saved.GetAliasParam(StrConst::MainAliasName, QStringLiteral("PATH")), main);
    QCOMPARE(saved.GetAliasDriverName(StrConst::PolyAliasName), QStringLiteral("DBASE"));
    QCOMPARE(saved.GetAliasParam(StrConst::PolyAliasName, QStringLiteral("PATH")), poly);
}

void TestStartup::validSettingsConnect()
{
    ProgramFolder program;
    const QString dbFile = program.dir.filePath(QStringLiteral("center.db"));
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("mk"));
        db.setDatabaseName(dbFile);
        QVERIFY(db.open());
        QSqlQuery(db).exec(QStringLiteral("CREATE TABLE probe (x INTEGER)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("mk"));
    {
        TAliasStore setup(program.aliasFile());
        setup.AddAlias(QStringLiteral("CENTER"), QStringLiteral("SQLITE"),
                       {QStringLiteral("DATABASE NAME=") + dbFile});
        setup.SaveConfigFile();
    }
    TIniFile ini(program.iniPath());
    ini.WriteString(StrConst::SettingsSection, StrConst::IsServerKey, QStringLiteral("1"));
    ini.WriteString(StrConst::SettingsSection, StrConst::SrvDBKey, QStringLiteral("CENTER"));
    ini.WriteString(StrConst::SettingsSection, StrConst::UserNameKey, QStringLiteral("admin"));
    // Stored without the trailing separator: used and written back with one.
    ini.WriteString(StrConst::SettingsSection, StrConst::ImportKey,
                    paths::excludeTrailing(program.folder(QStringLiteral("in"))));
    ini.WriteString(StrConst::SettingsSection, StrConst::ExportKey,
                    program.folder(QStringLiteral("out")));

    TAliasStore aliases;
    TStartup startup(program.exePath(), aliases);
    TDialogs::SetNextLogin(QStringLiteral("admin"), QStringLiteral("pw"));
    QVERIFY(startup.Prepare());
    QVERIFY(startup.MainForm()->KZCenter().Connected());
    QCOMPARE(AppInfo, startup.AppInfo());
    QCOMPARE(QCoreApplication::applicationName(), StrConst::AppTitle);
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].kind, Kind::Login);
    QCOMPARE(asked[0].detail, QStringLiteral("admin"));
    QCOMPARE(ini.ReadString(StrConst::SettingsSection, StrConst::ImportKey, {}),
             program.folder(QStringLiteral("in")));
    // The local aliases were registered and saved beside the central one.
    const TAliasStore saved(program.aliasFile());
    QVERIFY(saved.IsAlias(StrConst::MainAliasName));
    QVERIFY(saved.IsAlias(StrConst::PolyAliasName));
    QVERIFY(saved.IsAlias(QStringLiteral("CENTER")));
}

void TestStartup::unwritableAliasFileEnds()
{
    ProgramFolder program;
    // A folder where the alias file should be: it can be neither read nor written.
    QVERIFY(QDir(program.dir.path()).mkdir(StrConst::AliasFileName));
    TIniFile ini(program.iniPath());
    ini.WriteString(StrConst::SettingsSection, StrConst::IsServerKey, QStringLiteral("1"));
    ini.WriteString(StrConst::SettingsSection, StrConst::ImportKey,
                    program.folder(QStringLiteral("in")));
    ini.WriteString(StrConst::SettingsSection, StrConst::ExportKey,
                    program.folder(QStringLiteral("out")));

    TAliasStore aliases;
    TStartup startup(program.exePath(), aliases);
    TDialogs::SetNextAnswer(Button::Ok);
    QVERIFY(!startup.Prepare());
    QCOMPARE(startup.MainForm(), nullptr);
    const auto asked = TDialogs::AskedSoFar();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].kind, Kind::Error);
    QVERIFY(!asked[0].text.isEmpty());
}

void TestStartup::runApplicationExitCode()
{
    ProgramFolder program;
    TDialogs::SetNextAnswer(Button::Ok);
    cancelSettingsDialog(this);
    TDialogs::SetNextAnswer(Button::Ok);
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    QVERIFY(app);
    QCOMPARE(RunApplication(*app, program.exePath()), 1);
    QCOMPARE(texts(), (QStringList{StrConst::BadSettings, StrConst::NoSettings}));
}

// The drivers' own notes on statements left after the server went are kept from the terminal
// (the program says once what happened); every other warning passes.
void TestStartup::driverNotesAfterALossQuiet()
{
    static QStringList passed;
    passed.clear();
    const QtMessageHandler before = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &m) { passed << m; });
    QuietSqlDriverNotes();
    for (const char *note : {"Unable to free statement: no connection to the server",
                             "QPSQLDriver::rollbackTransaction: Database not open",
                             "QSqlQuery::exec: database not open", "Другое предупреждение"})
        qWarning("%s", note);
    qInstallMessageHandler(before);
    QCOMPARE(passed, QStringList{QStringLiteral("Другое предупреждение")});
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
