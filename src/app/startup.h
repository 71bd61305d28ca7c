#pragma once

#include "cli/siteconfig.h"
#include "core/appinfo.h"

#include <QString>
#include <memory>

class QApplication;
class TAliasStore;
class TDatabase;
class TSrvMainForm;

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
