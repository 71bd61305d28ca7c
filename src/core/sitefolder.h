#pragma once

#include <QString>

// The site folder: where an installation keeps what it writes — its configuration file, the
// alias file, "log.txt" and, by default, the import and export folders. A portable installation
// keeps them beside its executable; an installed program (whose folder, /usr/bin, is not
// writable) keeps them in a site folder of its own.

// Name of the environment variable that may name the site folder.
inline constexpr const char *SiteVariable = "ZORU_SITE";

// How the site folder was chosen.
enum class TSiteSource
{
    Option,        // --site DIR
    Environment,   // ZORU_SITE
    ProgramFolder, // the executable's folder holds the configuration file
    UserData       // $XDG_DATA_HOME/zoru-admin (~/.local/share/zoru-admin)
};

struct TSiteFolder
{
    QString Folder; // absolute, with a trailing separator
    TSiteSource Source = TSiteSource::ProgramFolder;
    bool Made = false; // made by this call (a first start)
};

// The configuration file of the executable exePath in a site folder: the executable's name with
// ".ini" ("zoru-admin.ini").
QString SiteIniFile(const QString &siteFolder, const QString &exePath);

// The site folder, in this order: option (the value of --site; null when not given); the
// environment variable ZORU_SITE; the executable's folder when it holds the configuration file;
// else the folder "zoru-admin" of the user's data folder, made when missing with its import and
// export folders and a configuration file that names them. A folder given by the option or the
// variable must exist. Throws EAppInfoException with the reason.
TSiteFolder FindSiteFolder(const QString &option, const QString &exePath);

// A path as the configuration keeps it: relative paths are relative to `base` (the site
// folder). An absolute path or an empty one is returned unchanged.
QString SitePath(const QString &base, const QString &path);
