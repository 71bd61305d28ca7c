#include "core/aliases.h"

#include "core/errors.h"
#include "core/inifile.h"
#include "core/sitefolder.h"

#include <QFileInfo>

namespace {

const QString kDriverKey = QStringLiteral("TYPE");

QString unknownAlias(const QString &name)
{
    return QStringLiteral("Неизвестный псевдоним: %1").arg(name);
}

} // namespace

QString paramName(const QString &line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return (eq < 0 ? line : line.left(eq)).trimmed();
}

QString paramValue(const QString &line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : line.mid(eq + 1);
}

TAliasStore::TAliasStore(const QString &fileName)
{
    Load(fileName);
}

TAliasStore &TAliasStore::Session()
{
    static TAliasStore store;
    return store;
}

void TAliasStore::Load(const QString &fileName)
{
    QMutexLocker lock(&m_mutex);
    m_fileName = fileName;
    std::erase_if(m_aliases, [](const Alias &a) { return a.persistent; });
    const TIniFile file(fileName);
    for (const QString &section : file.ReadSections()) {
        Alias a;
        a.name = section;
        a.persistent = true;
        for (const QString &key : file.ReadSection(section)) {
            const QString value = file.ReadString(section, key, QString());
            if (key.compare(kDriverKey, Qt::CaseInsensitive) == 0)
                a.driver = value;
            else
                a.params << key + QLatin1Char('=') + value;
        }
        m_aliases.push_back(std::move(a));
    }
}

QString TAliasStore::FileName() const
{
    QMutexLocker lock(&m_mutex);
    return m_fileName;
}

TAliasStore::ConfigMode TAliasStore::Mode() const
{
    QMutexLocker lock(&m_mutex);
    return m_mode;
}

void TAliasStore::SetConfigMode(ConfigMode mode)
{
    QMutexLocker lock(&m_mutex);
    m_mode = mode;
}

const TAliasStore::Alias *TAliasStore::find(const QString &name) const
{
    for (const Alias &a : m_aliases)
        if (a.name.compare(name, Qt::CaseInsensitive) == 0)
            return &a;
    return nullptr;
}

TAliasStore::Alias *TAliasStore::find(const QString &name)
{
    return const_cast<Alias *>(std::as_const(*this).find(name));
}

const TAliasStore::Alias &TAliasStore::require(const QString &name) const
{
    const Alias *a = find(name);
    if (!a)
        throw EDBEngineError(unknownAlias(name));
    return *a;
}

bool TAliasStore::IsAlias(const QString &name) const
{
    QMutexLocker lock(&m_mutex);
    return find(name) != nullptr;
}

QStringList TAliasStore::GetAliasNames() const
{
    QMutexLocker lock(&m_mutex);
    QStringList names;
    for (const Alias &a : m_aliases)
        names << a.name;
    return names;
}

QString TAliasStore::GetAliasDriverName(const QString &name) const
{
    QMutexLocker lock(&m_mutex);
    return require(name).driver;
}

QStringList TAliasStore::GetAliasParams(const QString &name) const
{
    QMutexLocker lock(&m_mutex);
    return require(name).params;
}

QString TAliasStore::GetAliasParam(const QString &alias, const QString &param) const
{
    QMutexLocker lock(&m_mutex);
    for (const QString &line : require(alias).params)
        if (paramName(line).compare(param, Qt::CaseInsensitive) == 0)
            return paramValue(line);
    return {};
}

QString TAliasStore::GetAliasPathParam(const QString &alias, const QString &param) const
{
    const QString value = GetAliasParam(alias, param);
    const QString file = FileName();
    return file.isEmpty() ? value : SitePath(QFileInfo(file).absolutePath(), value);
}

bool TAliasStore::IsPersistent(const QString &name) const
{
    QMutexLocker lock(&m_mutex);
    return require(name).persistent;
}

void TAliasStore::AddStandardAlias(const QString &name, const QString &path, const QString &driver)
{
    const QString d = driver.toUpper();
    if (d != QLatin1String("PARADOX") && d != QLatin1String("DBASE"))
        throw EDBEngineError(
            QStringLiteral("Недопустимый драйвер стандартного псевдонима: %1").arg(driver));
    AddAlias(name, d, {QStringLiteral("PATH=") + path});
}

void TAliasStore::AddAlias(const QString &name, const QString &driver, const QStringList &params)
{
    QMutexLocker lock(&m_mutex);
    if (name.trimmed().isEmpty() || name.contains(QLatin1Char('[')) ||
        name.contains(QLatin1Char(']')))
        throw EDBEngineError(QStringLiteral("Недопустимое имя псевдонима: %1").arg(name));
    if (find(name))
        throw EDBEngineError(QStringLiteral("Псевдоним уже существует: %1").arg(name));
    m_aliases.push_back({name, driver.toUpper(), params, m_mode == ConfigMode::Persistent});
}

void TAliasStore::ModifyAlias(const QString &name, const QStringList &params)
{
    QMutexLocker lock(&m_mutex);
    Alias *a = find(name);
    if (!a)
        throw EDBEngineError(unknownAlias(name));
    a->params = params;
}

void TAliasStore::DeleteAlias(const QString &name)
{
    QMutexLocker lock(&m_mutex);
    if (!find(name))
        throw EDBEngineError(unknownAlias(name));
    std::erase_if(m_aliases,
                  [&](const Alias &a) { return a.name.compare(name, Qt::CaseInsensitive) == 0; });
}

void TAliasStore::SaveConfigFile()
{
    QMutexLocker lock(&m_mutex);
    if (m_fileName.isEmpty())
        return;
    // Written whole (the file belongs to this store alone), in the layout of an ini file, and
    // put in place in one step: a failure leaves every alias of the old file.
    QStringList lines;
    for (const Alias &a : m_aliases) {
        if (!a.persistent)
            continue;
        if (!lines.isEmpty())
            lines << QString();
        lines << QLatin1Char('[') + a.name + QLatin1Char(']');
        const qsizetype first = lines.size();
        const auto put = [&](const QString &key, const QString &value) {
            for (qsizetype i = first; i < lines.size(); ++i)
                if (paramName(lines[i]).compare(key, Qt::CaseInsensitive) == 0) {
                    lines[i] = paramName(lines[i]) + QLatin1Char('=') + value;
                    return;
                }
            lines << key + QLatin1Char('=') + value;
        };
        put(kDriverKey, a.driver);
        for (const QString &line : a.params)
            put(paramName(line), paramValue(line));
    }
    ReplaceFileLines(m_fileName, lines);
}
