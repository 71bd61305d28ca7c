#include "core/appinfo.h"
#include "core/cp1251.h"
#include "core/errors.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A program folder with an executable path, its ini and alias file.
struct ProgramFolder
{
    QTemporaryDir dir;
    QString exe() const { return dir.filePath(QStringLiteral("zoru-admin")); }
    QString ini() const { return dir.filePath(QStringLiteral("zoru-admin.ini")); }
    QString aliases() const { return dir.filePath(QStringLiteral("aliases.cfg")); }
    QString mkdir(const QString &name) const
    {
        QDir(dir.path()).mkpath(name);
        return dir.filePath(name);
    }
};

struct RecordingUi
{
    QStringList errors;
    int dialogs = 0;
    bool dialogSaves = false;
    std::function<void()> onDialog;
    TAppInfo::Ui hooks()
    {
        return {[this](const QString &m) { errors << m; },
                [this] {
                    ++dialogs;
                    if (onDialog)
                        onDialog();
                    return dialogSaves;
                }};
    }
};

} // namespace

class TestAppInfo : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void iniBesideExecutable_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("ini");
        QTest::newRow("no extension") << "/opt/zoru/zoru-admin"
                                      << "/opt/zoru/zoru-admin.ini";
        QTest::newRow("exe") << "/opt/zoru/ZoruAdm.exe"
                             << "/opt/zoru/ZoruAdm.ini";
        QTest::newRow("dots in folder") << "/opt/z.1/a.b.exe"
                                        << "/opt/z.1/a.b.ini";
    }
    void iniBesideExecutable()
    {
        QFETCH(QString, exe);
        QFETCH(QString, ini);
        TAliasStore store;
        const TAppInfo info(exe, store);
        QCOMPARE(QDir::cleanPath(info.FileName()), ini);
        QCOMPARE(info.AppFolder(), paths::includeTrailing(QFileInfo(exe).absolutePath()));
        QCOMPARE(info.MainAliasName, QStringLiteral("AIS_RODE_MAIN"));
        QCOMPARE(info.PolyAliasName, QStringLiteral("AIS_RODE_POLY"));
        QCOMPARE(info.ImportKey, QStringLiteral("AIS_RODE_IMPORT"));
        QCOMPARE(info.ExportKey, QStringLiteral("AIS_RODE_EXPORT"));
    }

    void trailingSeparator_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        const QString s(paths::separator());
        QTest::newRow("empty") << "" << s;
        QTest::newRow("missing") << "a" << QString(QStringLiteral("a") + s);
        QTest::newRow("present") << QString(QStringLiteral("a") + s)
                                 << QString(QStringLiteral("a") + s);
        QTest::newRow("root") << s << s;
    }
    void trailingSeparator()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(paths::includeTrailing(in), out);
        QCOMPARE(paths::includeTrailing(paths::includeTrailing(in)), out);
        QCOMPARE(paths::excludeTrailing(out) + paths::separator(), out);
    }

    void readRequired_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("value");
        QTest::newRow("present") << QByteArray("[Settings]\r\nAIS_RODE_SRV_DB=KZ\r\n") << "KZ";
        QTest::newRow("empty") << QByteArray("[Settings]\r\nAIS_RODE_SRV_DB=\r\n") << "";
        QTest::newRow("absent key") << QByteArray("[Settings]\r\nX=1\r\n") << "";
        QTest::newRow("no file") << QByteArray() << "";
    }
    void readRequired()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, value);
        ProgramFolder pf;
        if (!ini.isEmpty())
            testsupport::writeFile(pf.ini(), ini);
        TAliasStore store;
        const TAppInfo info(pf.exe(), store);
        if (!value.isEmpty()) {
            QCOMPARE(info.SrvDBAlias(), value);
            return;
        }
        try {
            info.SrvDBAlias();
            QFAIL("no exception");
        } catch (const EAppInfoException &e) {
            QCOMPARE(e.Message(), QStringLiteral("Ключ 'Settings\\AIS_RODE_SRV_DB' не найден"));
        }
        QVERIFY_THROWS_EXCEPTION(EAppInfoException, info.ESVSDBAlias());
    }

    void tableListInFileOrder()
    {
        ProgramFolder pf;
        testsupport::writeFile(pf.ini(),
                               QByteArray("[Server-To-Workstation Replicated "
                                          "Tables]\r\nWORKSTATION=\r\nREGION=1\r\nBRIGADE\r\n"));
        TAliasStore store;
        const TAppInfo info(pf.exe(), store);
        QCOMPARE(info.SrvToWstTables(),
                 (QStringList{QStringLiteral("WORKSTATION"), QStringLiteral("REGION"),
                              QStringLiteral("BRIGADE")}));
        ProgramFolder empty;
        QVERIFY(TAppInfo(empty.exe(), store).SrvToWstTables().isEmpty());
    }

    void registerAliasesAddsMissingOnly()
    {
        ProgramFolder pf;
        TAliasStore store(pf.aliases());
        store.AddStandardAlias(QStringLiteral("ais_rode_main"), QStringLiteral("/kept/"),
                               QStringLiteral("PARADOX"));
        TAppInfo info(pf.exe(), store);
        info.RegisterAliases();
        QCOMPARE(store.GetAliasParam(QStringLiteral("AIS_RODE_MAIN"), QStringLiteral("PATH")),
                 QStringLiteral("/kept/"));
        QCOMPARE(store.GetAliasDriverName(QStringLiteral("AIS_RODE_POLY")),
                 QStringLiteral("DBASE"));
        QCOMPARE(store.GetAliasParam(QStringLiteral("AIS_RODE_POLY"), QStringLiteral("PATH")),
                 QString());
    }

    // The validity rule: (main and dBASE folders set, or a server) and import/export set, and all
    // four folders exist.
    void checkDatabasesValidity_data()
    {
        QTest::addColumn<bool>("isServer");
        QTest::addColumn<QString>("main"); // "" empty, "x" existing, "-" missing folder
        QTest::addColumn<QString>("poly");
        QTest::addColumn<QString>("imp");
        QTest::addColumn<QString>("exp");
        QTest::addColumn<bool>("valid");
        QTest::newRow("workstation, all set") << false << "x"
                                              << "x"
                                              << "x"
                                              << "x" << true;
        QTest::newRow("workstation, main empty") << false << ""
                                                 << "x"
                                                 << "x"
                                                 << "x" << false;
        QTest::newRow("workstation, poly empty") << false << "x"
                                                 << ""
                                                 << "x"
                                                 << "x" << false;
        QTest::newRow("server, both db paths empty") << true << ""
                                                     << ""
                                                     << "x"
                                                     << "x" << true;
        QTest::newRow("server, import empty") << true << ""
                                              << ""
                                              << ""
                                              << "x" << false;
        QTest::newRow("server, export empty") << true << "x"
                                              << "x"
                                              << "x"
                                              << "" << false;
        QTest::newRow("server, export missing") << true << ""
                                                << ""
                                                << "x"
                                                << "-" << false;
        QTest::newRow("server, main missing") << true << "-"
                                              << ""
                                              << "x"
                                              << "x" << false;
        QTest::newRow("workstation, poly missing") << false << "x"
                                                   << "-"
                                                   << "x"
                                                   << "x" << false;
        QTest::newRow("workstation, import missing") << false << "x"
                                                     << "x"
                                                     << "-"
                                                     << "x" << false;
    }
    void checkDatabasesValidity()
    {
        QFETCH(bool, isServer);
        QFETCH(QString, main);
        QFETCH(QString, poly);
        QFETCH(QString, imp);
        QFETCH(QString, exp);
        QFETCH(bool, valid);
        ProgramFolder pf;
        const auto folder = [&](const QString &kind, const QString &name) -> QString {
            if (kind == QLatin1String("x"))
                return pf.mkdir(name); // stored without trailing separator on purpose
            if (kind == QLatin1String("-"))
                return pf.dir.filePath(name + QStringLiteral("-gone"));
            return {};
        };
        const QString mainDir = folder(main, QStringLiteral("main")),
                      polyDir = folder(poly, QStringLiteral("poly"));
        const QString impDir = folder(imp, QStringLiteral("Импорт")),
                      expDir = folder(exp, QStringLiteral("Экспорт"));
        testsupport::writeFile(
            pf.ini(),
            cp1251::encode(
                QStringLiteral(
                    "[Settings]\r\nIsServer=%1\r\nAIS_RODE_IMPORT=%2\r\nAIS_RODE_EXPORT=%3\r\n")
                    .arg(isServer ? 1 : 0)
                    .arg(impDir, expDir)));
        TAliasStore store(pf.aliases());
        TAppInfo info(pf.exe(), store);
        info.RegisterAliases();
        store.ModifyAlias(info.MainAliasName, {QStringLiteral("PATH=") + mainDir});
        store.ModifyAlias(info.PolyAliasName, {QStringLiteral("PATH=") + polyDir});

        RecordingUi ui;
        QVERIFY(info.CheckDatabases(ui.hooks()) == valid);
        if (valid) {
            QCOMPARE(ui.dialogs, 0);
            QVERIFY(ui.errors.isEmpty());
            // Folders held and written back with their trailing separator.
            QCOMPARE(info.ImportPath, paths::includeTrailing(impDir));
            QCOMPARE(
                info.ReadString(QStringLiteral("Settings"), QStringLiteral("AIS_RODE_EXPORT"), {}),
                paths::includeTrailing(expDir));
            QCOMPARE(TAliasStore(pf.aliases())
                         .GetAliasParam(QStringLiteral("AIS_RODE_MAIN"), QStringLiteral("PATH")),
                     paths::includeTrailing(mainDir));
        } else {
            QCOMPARE(ui.dialogs, 1);
            QCOMPARE(ui.errors, (QStringList{StrConst::BadSettings, StrConst::NoSettings}));
            // Nothing is repaired silently.
            QCOMPARE(
                info.ReadString(QStringLiteral("Settings"), QStringLiteral("AIS_RODE_EXPORT"), {}),
                expDir);
        }
    }

    void missingIniOpensDialogAndSaveCreatesFile()
    {
        ProgramFolder pf;
        TAliasStore store(pf.aliases());
        TAppInfo info(pf.exe(), store);
        info.RegisterAliases();
        RecordingUi ui;
        ui.dialogSaves = true;
        ui.onDialog = [&] {
            // What the settings dialog does on save.
            info.ImportPath = paths::includeTrailing(pf.mkdir(QStringLiteral("imp")));
            info.ExportPath = paths::includeTrailing(pf.mkdir(QStringLiteral("exp")));
            info.SaveSettings();
        };
        QVERIFY(info.CheckDatabases(ui.hooks()));
        QCOMPARE(ui.errors, QStringList{StrConst::BadSettings});
        QVERIFY(QFile::exists(pf.ini()));
        QCOMPARE(
            info.ReadSection(QStringLiteral("Settings")),
            (QStringList{QStringLiteral("AIS_RODE_IMPORT"), QStringLiteral("AIS_RODE_EXPORT")}));
        QVERIFY(TAliasStore(pf.aliases()).IsAlias(QStringLiteral("AIS_RODE_POLY")));
    }

    // An alias failure still saves the configuration and the folder keys, then reaches the caller.
    void saveSettingsWritesKeysEvenWhenAliasFails()
    {
        ProgramFolder pf;
        TAliasStore store(pf.aliases());
        TAppInfo info(pf.exe(), store);
        info.ImportPath = QStringLiteral("/i/");
        info.ExportPath = QStringLiteral("/e/");
        QVERIFY_THROWS_EXCEPTION(EDBEngineError,
                                 info.SaveSettings()); // aliases were never registered
        QCOMPARE(info.ReadString(QStringLiteral("Settings"), QStringLiteral("AIS_RODE_IMPORT"), {}),
                 QStringLiteral("/i/"));
        QCOMPARE(info.ReadString(QStringLiteral("Settings"), QStringLiteral("AIS_RODE_EXPORT"), {}),
                 QStringLiteral("/e/"));
    }
};

QTEST_APPLESS_MAIN(TestAppInfo)
#include "test_appinfo.moc"
