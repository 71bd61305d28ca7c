#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <vector>

// The engine's alias configuration: a name stands for a driver and its parameters.
//
// Persistent aliases are kept in a file in the program folder and reach it on SaveConfigFile();
// run-only aliases (added while the mode is RunOnly) live in memory until the program ends.
// Names compare without regard to case. Thread-safe: a job adds its temporary alias from its
// worker thread while the user-interface thread may look aliases up.
//
// Drivers: "PARADOX" and "DBASE" (a folder, parameter PATH), "SQLITE" (parameter
// DATABASE NAME = database file), "POSTGRESQL" (SERVER NAME, PORT, DATABASE NAME).
class TAliasStore
{
public:
    enum class ConfigMode
    {
        Persistent,
        RunOnly
    };

    TAliasStore() = default;
    // Reads the persistent aliases from fileName (a missing file holds none).
    explicit TAliasStore(const QString &fileName);

    // The store of this run, bound to its file by the start-up sequence.
    static TAliasStore &Session();

    void Load(const QString &fileName);
    QString FileName() const;

    ConfigMode Mode() const;
    void SetConfigMode(ConfigMode mode);

    bool IsAlias(const QString &name) const;
    QStringList GetAliasNames() const;
    QString GetAliasDriverName(const QString &name) const;
    // Parameters as NAME=value lines (the driver itself is not among them).
    QStringList GetAliasParams(const QString &name) const;
    // Value of one parameter (name compared without regard to case); empty when absent.
    QString GetAliasParam(const QString &alias, const QString &param) const;
    // The same for a parameter naming a file or folder (DATABASE NAME of SQLITE, PATH): a
    // relative one is relative to the folder of the alias file, so that a site moves as a whole.
    QString GetAliasPathParam(const QString &alias, const QString &param) const;
    bool IsPersistent(const QString &name) const;

    // A folder alias: driver "PARADOX" or "DBASE", parameter PATH.
    void AddStandardAlias(const QString &name, const QString &path, const QString &driver);
    // An SQL alias with the driver's parameters (NAME=value lines).
    void AddAlias(const QString &name, const QString &driver, const QStringList &params);
    // Replaces the parameters by the given NAME=value lines.
    void ModifyAlias(const QString &name, const QStringList &params);
    void DeleteAlias(const QString &name);

    // Writes the persistent aliases to the file. Throws EFileError.
    void SaveConfigFile();

private:
    struct Alias
    {
        QString name;
        QString driver;
        QStringList params;
        bool persistent = true;
    };
    const Alias *find(const QString &name) const;
    Alias *find(const QString &name);
    const Alias &require(const QString &name) const;

    mutable QMutex m_mutex;
    QString m_fileName;
    ConfigMode m_mode = ConfigMode::Persistent;
    std::vector<Alias> m_aliases;
};

// Splits a NAME=value line; the name is trimmed, the value kept as written.
QString paramName(const QString &line);
QString paramValue(const QString &line);
