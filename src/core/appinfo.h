#pragma once

#include "core/aliases.h"
#include "core/inifile.h"

#include <QStringList>
#include <functional>

// The configuration object of the run: the ini file of the site folder (core/sitefolder.h; the
// executable's folder for a portable installation) and the two local database aliases. Created
// first at start-up and never replaced.
class TAppInfo : public TIniFile
{
public:
    // What CheckDatabases needs from the user interface; the shell supplies real windows, tests
    // their stand-ins.
    struct Ui
    {
        std::function<void(const QString &message)> ShowErrorBox;
        // Shows the settings dialog; true when the user saved.
        std::function<bool()> ShowSettingsDialog;
    };

    // exePath: full path of the executable; its ini file is the executable's name with ".ini"
    // in siteFolder (the executable's folder when empty). Switches the alias store to
    // persistent mode and loads the table list.
    TAppInfo(const QString &exePath, TAliasStore &aliases, const QString &siteFolder = {});

    TAliasStore &Aliases() const { return m_aliases; }

    // The folder of the executable with a trailing separator (the archiver is looked for
    // there). Safe on any thread.
    QString AppFolder() const { return m_appFolder; }
    // The site folder with a trailing separator: the ini file, the alias file and "log.txt" lie
    // there, and relative folders of the configuration are relative to it. Safe on any thread.
    QString SiteFolder() const { return m_siteFolder; }
    bool IsServer() const;
    // Raises EAppInfoException when the key is absent or empty.
    QString ReadRequired(const QString &section, const QString &key) const;
    QString SrvDBAlias() const;
    QString ESVSDBAlias() const;
    const QStringList &SrvToWstTables() const { return m_srvToWstTables; }
    // How long work waits for a central database that other work holds ("Settings",
    // "BusyWait", seconds): a positive number, DefaultBusyWait when absent or wrong.
    static constexpr int DefaultBusyWait = 120;
    int BusyWaitSeconds() const;

    void RegisterAliases();
    // Validates the four folders; shows the settings dialog when they are wrong. False when the
    // user cancelled it and the program must end.
    bool CheckDatabases(const Ui &ui);
    void SaveSettings();

    QString PolyDBPath;
    QString MainDBPath;
    QString ImportPath;
    QString ExportPath;

    const QString MainAliasName;
    const QString ImportKey;
    const QString ExportKey;
    const QString PolyAliasName;

private:
    QString aliasPath(const QString &alias);
    void setAliasPath(const QString &alias, const QString &path);
    // A folder as the site keeps it: the text read at the last check when it was relative and
    // still names the folder (a site moves as a whole), else the folder itself.
    QString stored(const QString &folder, const QString &read) const;

    TAliasStore &m_aliases;
    QString m_appFolder;
    QString m_siteFolder;
    // The four folders as the configuration wrote them, read by CheckDatabases.
    QString m_readMain, m_readPoly, m_readImport, m_readExport;
    QStringList m_srvToWstTables;
    QStringList m_params; // scratch list of an alias's NAME=value lines
};

// The configuration object of this run; set by the start-up sequence (and by tests).
inline TAppInfo *AppInfo = nullptr;

// The program's configuration (AppInfo); throws when none is loaded.
const TAppInfo &ProgramInfo();
