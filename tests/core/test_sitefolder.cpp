// Where a site is: --site, then ZORU_SITE, then the executable's folder when it holds the
// configuration, then the user's data folder (made on the first start). Relative folders of a
// site's configuration are the site's own, and stay relative when written back.

#include "core/appinfo.h"
#include "core/errors.h"
#include "core/sitefolder.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestSiteFolder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString folder(const QString &name) const
    {
        QDir().mkpath(m_dir.filePath(name));
        return m_dir.filePath(name);
    }

private Q_SLOTS:
    void init() { qunsetenv(SiteVariable); }
    void cleanup() { qunsetenv(SiteVariable); }

    void chosen_data()
    {
        QTest::addColumn<QString>("option");   // "" : not given
        QTest::addColumn<QString>("variable"); // "" : not set
        QTest::addColumn<bool>("iniBesideProgram");
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("site"); // the folder under the scratch folder; "!": an error
        const auto src = [](TSiteSource s) { return int(s); };
        QTest::newRow("option first") << "opt"
                                      << "env" << true << src(TSiteSource::Option) << "opt";
        QTest::newRow("variable second") << ""
                                         << "env" << true << src(TSiteSource::Environment) << "env";
        QTest::newRow("configured program folder")
            << ""
            << "" << true << src(TSiteSource::ProgramFolder) << "bin";
        QTest::newRow("user data") << ""
                                   << "" << false << src(TSiteSource::UserData) << "xdg/zoru-admin";
        QTest::newRow("option names nothing") << "missing"
                                              << "env" << true << src(TSiteSource::Option) << "!";
        QTest::newRow("variable names nothing")
            << ""
            << "missing" << true << src(TSiteSource::Environment) << "!";
    }
    void chosen()
    {
        QFETCH(QString, option);
        QFETCH(QString, variable);
        QFETCH(bool, iniBesideProgram);
        QFETCH(int, source);
        QFETCH(QString, site);
        QTemporaryDir scratch;
        const auto path = [&](const QString &name) { return scratch.filePath(name); };
        for (const QString &name : {u"opt"_s, u"env"_s, u"bin"_s})
            QDir().mkpath(path(name));
        if (iniBesideProgram)
            testsupport::writeFile(path(u"bin/zoru-admin.ini"_s), "[Settings]\r\n");
        if (!variable.isEmpty())
            qputenv(SiteVariable, path(variable).toLocal8Bit());
        qputenv("XDG_DATA_HOME", path(u"xdg"_s).toLocal8Bit());
        const QString exe = path(u"bin/zoru-admin"_s);
        const QString given = option.isEmpty() ? QString() : path(option);
        if (site == u"!"_s) {
            QVERIFY_THROWS_EXCEPTION(EAppInfoException, FindSiteFolder(given, exe));
            return;
        }
        const TSiteFolder found = FindSiteFolder(given, exe);
        QCOMPARE(int(found.Source), source);
        QCOMPARE(found.Folder, path(site) + u'/');
        QCOMPARE(found.Made, found.Source == TSiteSource::UserData);
        if (found.Made) {
            // The first start made it with its import and export folders, named relatively.
            TAliasStore aliases;
            TAppInfo info(exe, aliases, found.Folder);
            QCOMPARE(info.FileName(), path(site) + u"/zoru-admin.ini"_s);
            QCOMPARE(info.ReadString(u"Settings"_s, u"AIS_RODE_IMPORT"_s, {}), u"import/"_s);
            QCOMPARE(info.ReadString(u"Settings"_s, u"AIS_RODE_EXPORT"_s, {}), u"export/"_s);
            QVERIFY(QFileInfo(path(site) + u"/export"_s).isDir());
            QCOMPARE(FindSiteFolder({}, exe).Made, false);
        }
    }

    // Folders named relative to the site are taken in it and written back as they were
    // written; a folder the administrator changed is written as it is.
    void relativeFoldersStayRelative()
    {
        const QString site = folder(u"site"_s);
        QDir(site).mkpath(u"in"_s);
        QDir(site).mkpath(u"out"_s);
        testsupport::writeFile(site + u"/zoru-admin.ini"_s,
                               "[Settings]\r\nIsServer=1\r\nAIS_RODE_IMPORT=in\r\n"
                               "AIS_RODE_EXPORT=./out/\r\n");
        TAliasStore aliases;
        TAppInfo info(folder(u"bin"_s) + u"/zoru-admin"_s, aliases, site);
        aliases.Load(site + u"/aliases.cfg"_s);
        info.RegisterAliases();
        QVERIFY(info.CheckDatabases({[](const QString &) {}, [] { return false; }}));
        QCOMPARE(info.ImportPath, site + u"/in/"_s);
        QCOMPARE(info.ExportPath, site + u"/out/"_s);
        QCOMPARE(info.ReadString(u"Settings"_s, u"AIS_RODE_IMPORT"_s, {}), u"in/"_s);
        QCOMPARE(info.ReadString(u"Settings"_s, u"AIS_RODE_EXPORT"_s, {}), u"./out/"_s);
        info.ExportPath = site + u"/in/"_s;
        info.SaveSettings();
        QCOMPARE(info.ReadString(u"Settings"_s, u"AIS_RODE_EXPORT"_s, {}), site + u"/in/"_s);
    }

    void sitePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("taken");
        QTest::newRow("relative") << "data/central.db"
                                  << "/site/data/central.db";
        QTest::newRow("relative folder") << "./import/"
                                         << "/site/import/";
        QTest::newRow("up and out") << "../shared"
                                    << "/shared";
        QTest::newRow("absolute") << "/srv/x/"
                                  << "/srv/x/";
        QTest::newRow("empty") << ""
                               << "";
    }
    void sitePath()
    {
        QFETCH(QString, path);
        QFETCH(QString, taken);
        QCOMPARE(SitePath(u"/site/"_s, path), taken);
    }
};

QTEST_GUILESS_MAIN(TestSiteFolder)
#include "test_sitefolder.moc"
