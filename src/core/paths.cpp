#include "core/paths.h"

#include <QDir>

namespace paths {

QChar separator()
{
    return QDir::separator();
}

static bool endsWithSeparator(const QString &folder)
{
    return folder.endsWith(separator()) || folder.endsWith(QLatin1Char('/'));
}

QString includeTrailing(const QString &folder)
{
    return endsWithSeparator(folder) ? folder : folder + separator();
}

QString excludeTrailing(const QString &folder)
{
    return endsWithSeparator(folder) ? folder.left(folder.size() - 1) : folder;
}

} // namespace paths
