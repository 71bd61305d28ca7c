#include "core/appinfo.h"

#include "core/errors.h"
#include "core/paths.h"
#include "core/strconst.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString iniFileFor(const QString &exePath)
{
    const QFileInfo fi(exePath);
    return fi.dir().filePath(fi.completeBaseName() + QLatin1String(".ini"));
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

TAppInfo::TAppInfo(const QString &exePath, TAliasStore &aliases)
    : TIniFile(iniFileFor(exePath)), MainAliasName(StrConst::MainAliasName),
      ImportKey(StrConst::ImportKey), ExportKey(StrConst::ExportKey),
      PolyAliasName(StrConst::PolyAliasName), m_aliases(aliases),
      m_appFolder(paths::includeTrailing(QFileInfo(exePath).absolutePath()))
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
    MainDBPath = paths::includeTrailing(aliasPath(MainAliasName));
    PolyDBPath = paths::includeTrailing(aliasPath(PolyAliasName));
    ImportPath =
        paths::includeTrailing(ReadString(StrConst::SettingsSection, ImportKey, QString()));
    ExportPath =
        paths::includeTrailing(ReadString(StrConst::SettingsSection, ExportKey, QString()));

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

void TAppInfo::SaveSettings()
{
    std::exception_ptr failure;
    try {
        setAliasPath(MainAliasName, MainDBPath);
        setAliasPath(PolyAliasName, PolyDBPath);
    } catch (...) {
        failure = std::current_exception();
    }
    m_aliases.SaveConfigFile();
    WriteString(StrConst::SettingsSection, ImportKey, ImportPath);
    WriteString(StrConst::SettingsSection, ExportKey, ExportPath);
    if (failure)
        std::rethrow_exception(failure);
}

const TAppInfo &ProgramInfo()
{
    if (!AppInfo)
        throw Exception(QStringLiteral("Настройки программы не загружены"));
    return *AppInfo;
}
