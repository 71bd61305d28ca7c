#include "core/sitefolder.h"

#include "core/errors.h"
#include "core/inifile.h"
#include "core/paths.h"
#include "core/strconst.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString kUserDataName = QStringLiteral("zoru-admin");

// A folder named by the administrator: it must be there (a mistyped path would otherwise
// become a new, empty site).
TSiteFolder given(const QString &folder, TSiteSource source, const QString &how)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        throw EAppInfoException(QStringLiteral("Папка узла (%1) не найдена: %2")
                                    .arg(how, QDir::toNativeSeparators(folder)));
    return {paths::includeTrailing(info.absoluteFilePath()), source, false};
}

// The user's own site, made on the first start with the import and export folders beside the
// configuration file; the rest of the configuration is asked for as on any first start.
TSiteFolder userSite(const QString &exePath)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        throw EAppInfoException(
            QStringLiteral("Не удалось определить папку данных пользователя для узла"));
    const QString folder = QDir(base).absoluteFilePath(kUserDataName);
    TSiteFolder site{paths::includeTrailing(folder), TSiteSource::UserData, false};
    if (QFileInfo(folder).isDir())
        return site;
    QDir dir;
    for (const QString &sub : {QStringLiteral("import"), QStringLiteral("export")})
        if (!dir.mkpath(QDir(folder).filePath(sub)))
            throw EAppInfoException(QStringLiteral("Невозможно создать папку узла: %1")
                                        .arg(QDir(folder).filePath(sub)));
    TIniFile ini(SiteIniFile(site.Folder, exePath));
    ini.WriteString(StrConst::SettingsSection, StrConst::ImportKey,
                    paths::includeTrailing(QStringLiteral("import")));
    ini.WriteString(StrConst::SettingsSection, StrConst::ExportKey,
                    paths::includeTrailing(QStringLiteral("export")));
    site.Made = true;
    return site;
}

} // namespace

QString SiteIniFile(const QString &siteFolder, const QString &exePath)
{
    return QDir(siteFolder).filePath(QFileInfo(exePath).completeBaseName() + QLatin1String(".ini"));
}

TSiteFolder FindSiteFolder(const QString &option, const QString &exePath)
{
    if (!option.isNull())
        return given(option, TSiteSource::Option, QStringLiteral("--site"));
    if (!qEnvironmentVariableIsEmpty(SiteVariable))
        return given(qEnvironmentVariable(SiteVariable), TSiteSource::Environment,
                     QString::fromLatin1(SiteVariable));
    const QString programFolder = QFileInfo(exePath).absolutePath();
    if (QFileInfo(SiteIniFile(programFolder, exePath)).isFile())
        return {paths::includeTrailing(programFolder), TSiteSource::ProgramFolder, false};
    return userSite(exePath);
}

QString SitePath(const QString &base, const QString &path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    return QDir::cleanPath(QDir(base).absoluteFilePath(path)) +
           (path.endsWith(QLatin1Char('/')) || path.endsWith(paths::separator())
                ? QString(paths::separator())
                : QString());
}
