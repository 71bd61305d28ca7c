#pragma once

#include "core/errors.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

// A ready-to-use demo installation in a program folder: the configuration file, the engine's
// aliases, the central database filled with demo rows and the ЕСВС database that goes with it.
namespace demo {

inline const QString IniFileName = QStringLiteral("zoru-admin.ini");
inline const QString CenterAlias = QStringLiteral("ZORU_CENTER");
inline const QString EsvsAlias = QStringLiteral("ZORU_ESVS");
inline const QString DemoUser = QStringLiteral("admin");
inline const QString EsvsUser = QStringLiteral("esvs");

// The server-to-workstation tables of the configuration, in the order they are written.
QStringList ReplicatedTables();

struct PgTarget
{
    QString host;
    int port = 5432;
    QString database;
    QString user;
    QString password;
};

// "host:port:dbname"; false when the text has another shape or the port is no number.
bool ParsePgTarget(const QString &text, PgTarget &target);

struct Options
{
    QString folder;
    double scale = 1.0;
    quint64 seed = 1;
    std::optional<PgTarget> postgres; // central database on a server instead of a file
    bool force = false;
};

struct Summary
{
    QString folder;
    QString centralTarget; // file or server database
    QString esvsTarget;
    std::vector<std::pair<QString, int>> centralCounts;
    std::vector<std::pair<QString, int>> esvsCounts;
    int hospitalWst = 0;
    QString hospitalWstName;
    int brigadeWst = 0;
    QString brigadeWstName;
    int bothWst = 0;
};

// Thrown when the folder (or the server database) already holds an installation and force is
// off: the message says where and how to overwrite it.
class EInstallationExists : public Exception
{
public:
    using Exception::Exception;
};

// What makes the folder an installation already, or an empty string when nothing does.
QString ExistingInstallation(const QString &folder);

// Makes the installation. Throws EInstallationExists, or another Exception with a Russian
// message; on failure no database file of this run is left behind and the configuration files
// are untouched.
Summary CreateInstallation(const Options &options);

} // namespace demo
