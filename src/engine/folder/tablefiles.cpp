#include "engine/folder/tablefiles.h"

#include "core/errors.h"

#include <QDir>
#include <QFileInfo>

namespace engine {

namespace {

QString withTableExtension(const QString &name)
{
    return QFileInfo(name).suffix().isEmpty() ? name + QStringLiteral(".DB") : name;
}

} // namespace

void CheckTableName(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QLatin1Char('/')) ||
        trimmed.contains(QLatin1Char('\\')) || trimmed.contains(QLatin1Char(':')) ||
        trimmed == QLatin1String(".") || trimmed == QLatin1String("..") ||
        trimmed.contains(QChar(0)))
        throw EDBEngineError(QStringLiteral("Недопустимое имя таблицы: %1").arg(name));
}

QHash<QString, QString> FolderFiles(const QString &folder)
{
    QHash<QString, QString> files;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString &n : names)
        files.insert(n.toLower(), n);
    return files;
}

QString FolderTablePath(const QString &folder, const QString &tableName, bool mustExist)
{
    CheckTableName(tableName);
    const QString name = withTableExtension(tableName.trimmed());
    const QString exact = folder + name;
    if (QFileInfo(exact).isFile())
        return exact;
    const QString actual = FolderFiles(folder).value(name.toLower());
    if (!actual.isEmpty())
        return folder + actual;
    if (mustExist)
        throw EDBEngineError(QStringLiteral("Таблица не найдена: %1").arg(exact));
    return exact;
}

} // namespace engine
