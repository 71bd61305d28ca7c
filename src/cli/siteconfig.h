#pragma once

#include "core/appinfo.h"

#include <QString>
#include <memory>

class TAliasStore;
class TDatabase;

// What the desktop program and the command line do alike before they work on a site.

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

// Keeps Qt's SQL drivers from writing their own notes to the terminal about statements they
// cannot free after the server has gone: the program says what happened, once.
void QuietSqlDriverNotes();
