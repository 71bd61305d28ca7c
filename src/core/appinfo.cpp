#include "core/appinfo.h"

#include "core/errors.h"
#include "core/paths.h"
#include "core/sitefolder.h"
#include "core/strconst.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString siteOf(const QString &exePath, const QString &siteFolder)
{
    return paths::includeTrailing(siteFolder.isEmpty() ? QFileInfo(exePath).absolutePath()
                                                       : siteFolder);
}

// Replaces (or adds) the PATH line of an alias's parameter list.
void setPathParam(QStringList &params, const QString &path)
{
    for (QString &line : params) {
        if (paramName(line).compare(QLatin1String("PATH"), Qt::CaseInsensitive) == 0) {
            line = QStringLiteral("PATH=") + path;
            return;
        }
    }
    params << QStringLiteral("PATH=") + path;
}

} // namespace

TAppInfo::TAppInfo(const QString &exePath, TAliasStore &aliases, const QString &siteFolder)
    : TIniFile(SiteIniFile(siteOf(exePath, siteFolder), exePath)),
      MainAliasName(StrConst::MainAliasName), ImportKey(StrConst::ImportKey),
      ExportKey(StrConst::ExportKey), PolyAliasName(StrConst::PolyAliasName), m_aliases(aliases),
      m_appFolder(paths::includeTrailing(QFileInfo(exePath).absolutePath())),
      m_siteFolder(siteOf(exePath, siteFolder))
{
    m_aliases.SetConfigMode(TAliasStore::ConfigMode::Persistent);
    m_srvToWstTables = ReadSection(StrConst::SrvToWstSection);
}

bool TAppInfo::IsServer() const
{
    return ReadBool(StrConst::SettingsSection, StrConst::IsServerKey, false);
}

QString TAppInfo::ReadRequired(const QString &section, const QString &key) const
{
    const QString value = ReadString(section, key, QString());
    if (value.isEmpty())
        throw EAppInfoException(QStringLiteral("Ключ '") + section + QLatin1Char('\\') + key +
                                QStringLiteral("' не найден"));
    return value;
}

QString TAppInfo::SrvDBAlias() const
{
    return ReadRequired(StrConst::SettingsSection, StrConst::SrvDBKey);
}

QString TAppInfo::ESVSDBAlias() const
{
    return ReadRequired(StrConst::SettingsSection, StrConst::ESVSDBKey);
}

void TAppInfo::RegisterAliases()
{
    if (!m_aliases.IsAlias(MainAliasName))
        m_aliases.AddStandardAlias(MainAliasName, QString(), QStringLiteral("PARADOX"));
    if (!m_aliases.IsAlias(PolyAliasName))
        m_aliases.AddStandardAlias(PolyAliasName, QString(), QStringLiteral("DBASE"));
}

QString TAppInfo::aliasPath(const QString &alias)
{
    m_params = m_aliases.GetAliasParams(alias);
    for (const QString &line : m_params)
        if (paramName(line).compare(QLatin1String("PATH"), Qt::CaseInsensitive) == 0)
            return paramValue(line);
    return {};
}

bool TAppInfo::CheckDatabases(const Ui &ui)
{
    m_readMain = aliasPath(MainAliasName);
    m_readPoly = aliasPath(PolyAliasName);
    m_readImport = ReadString(StrConst::SettingsSection, ImportKey, QString());
    m_readExport = ReadString(StrConst::SettingsSection, ExportKey, QString());
    const auto folder = [this](const QString &read) {
        return paths::includeTrailing(SitePath(m_siteFolder, read));
    };
    MainDBPath = folder(m_readMain);
    PolyDBPath = folder(m_readPoly);
    ImportPath = folder(m_readImport);
    ExportPath = folder(m_readExport);

    const QString root = QString(paths::separator());
    const auto exists = [](const QString &folder) { return QFileInfo(folder).isDir(); };
    const bool valid = ((MainDBPath != root && PolyDBPath != root) || IsServer()) &&
                       ImportPath != root && ExportPath != root && exists(MainDBPath) &&
                       exists(PolyDBPath) && exists(ImportPath) && exists(ExportPath);
    if (valid) {
        SaveSettings();
        return true;
    }
    ui.ShowErrorBox(StrConst::BadSettings);
    if (ui.ShowSettingsDialog())
        return true;
    ui.ShowErrorBox(StrConst::NoSettings);
    return false;
}

void TAppInfo::setAliasPath(const QString &alias, const QString &path)
{
    m_params.clear();
    m_params = m_aliases.GetAliasParams(alias);
    setPathParam(m_params, path);
    m_aliases.ModifyAlias(alias, m_params);
}

QString TAppInfo::stored(const QString &folder, const QString &read) const
{
    if (!read.isEmpty() && QDir::isRelativePath(read) &&
        paths::includeTrailing(SitePath(m_siteFolder, read)) == folder)
        return paths::includeTrailing(read);
    return folder;
}

void TAppInfo::SaveSettings()
{
    std::exception_ptr failure;
    try {
        setAliasPath(MainAliasName, stored(MainDBPath, m_readMain));
        setAliasPath(PolyAliasName, stored(PolyDBPath, m_readPoly));
    } catch (...) {
        failure = std::current_exception();
    }
    m_aliases.SaveConfigFile();
    WriteString(StrConst::SettingsSection, ImportKey, stored(ImportPath, m_readImport));
    WriteString(StrConst::SettingsSection, ExportKey, stored(ExportPath, m_readExport));
    if (failure)
        std::rethrow_exception(failure);
}

const TAppInfo &ProgramInfo()
{
    if (!AppInfo)
        throw Exception(QStringLiteral("Настройки программы не загружены"));
    return *AppInfo;
}

int TAppInfo::BusyWaitSeconds() const
{
    const int seconds =
        ReadInteger(StrConst::SettingsSection, QStringLiteral("BusyWait"), DefaultBusyWait);
    return seconds > 0 ? seconds : DefaultBusyWait;
}
