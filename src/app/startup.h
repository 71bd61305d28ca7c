#pragma once

#include "core/appinfo.h"

#include <QString>
#include <memory>

class QApplication;
class TAliasStore;
class TDatabase;
class TSrvMainForm;

// Gives the process a runtime folder (XDG_RUNTIME_DIR) of its own when the session has none,
// so that Qt does not warn about it; called before the application object is created.
void EnsureRuntimeFolder();

// The configuration steps that the desktop program and the command line share: the
// configuration object over the ini file of the site folder (core/sitefolder.h; the
// executable's folder when empty), made the global AppInfo, which the settings dialog reads;
// the alias file of the site folder, the two local aliases and the folder check. Null when the
// folders are wrong and the user did not repair them. Throws what the configuration or the
// alias store throws.
std::unique_ptr<TAppInfo> LoadConfiguration(const QString &exePath, TAliasStore &aliases,
                                            const TAppInfo::Ui &ui, const QString &siteFolder = {});

// Points a connection at the central database of the configuration: its alias and the user name
// offered at log-in (empty when none is configured). Throws EAppInfoException when the alias key
// is missing and EDatabaseError "Неверный псевдоним: " + alias for an alias the engine does not
// know.
void ConfigureCentralDatabase(TDatabase &db, const TAppInfo &info);

// The program's entry sequence: configuration, local aliases, folder check, title, main window.
// Owns AppInfo and the main window for the run and points the global AppInfo at its own.
class TStartup
{
public:
    // exePath: the executable; its ini file and alias file lie in siteFolder (beside it when
    // empty). aliases: the engine's alias store of the run (loaded from the alias file here).
    TStartup(QString exePath, TAliasStore &aliases, QString siteFolder = {});
    ~TStartup();
    TStartup(const TStartup &) = delete;
    TStartup &operator=(const TStartup &) = delete;

    // Runs everything up to and including the creation of the main window. True when the
    // central database is connected and the message loop should run; otherwise the user has
    // been told why (or cancelled) and the program ends.
    bool Prepare();

    TAppInfo *AppInfo() const { return m_appInfo.get(); }
    // The main window, once Prepare() got that far.
    TSrvMainForm *MainForm() const { return m_mainForm.get(); }

private:
    QString m_exePath;
    QString m_siteFolder;
    TAliasStore &m_aliases;
    std::unique_ptr<TAppInfo> m_appInfo;
    std::unique_ptr<TSrvMainForm> m_mainForm;
};

// The whole run: the site folder (siteOption: the value of --site, null when not given), then
// Prepare(), then the message loop until the main window closes. The exit code is non-zero
// when the program ended before its window could run.
int RunApplication(QApplication &app, const QString &exePath, const QString &siteOption = {});

// Keeps Qt's SQL drivers from writing their own notes to the terminal about statements they
// cannot free after the server has gone: the program says what happened, once.
void QuietSqlDriverNotes();
