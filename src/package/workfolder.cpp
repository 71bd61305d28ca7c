#include "package/workfolder.h"

#include "core/errors.h"
#include "core/paths.h"
#include "core/strconst.h"

#include <QDir>
#include <QTemporaryDir>

TWorkFolder::TWorkFolder(const QString &parentFolder, const QString &prefix)
{
    const QString parent =
        parentFolder.isEmpty() ? QDir::tempPath() : paths::excludeTrailing(parentFolder);
    QTemporaryDir dir(parent + QLatin1Char('/') + prefix + QStringLiteral("-XXXXXX"));
    if (!dir.isValid())
        throw EFileError(QStringLiteral("Не удалось создать папку в ") + parent +
                         QStringLiteral(": ") + dir.errorString());
    dir.setAutoRemove(false);
    m_path = dir.path();
}

TWorkFolder::TWorkFolder(Named, const QString &path)
{
    if (!QDir().mkdir(path))
        throw ERplException(StrConst::CannotCreateFolder + StrConst::LineBreak + path);
    m_path = path;
}

TWorkFolder::~TWorkFolder()
{
    QDir(m_path).removeRecursively();
}

QString TWorkFolder::Path() const
{
    return paths::includeTrailing(QDir::toNativeSeparators(m_path));
}
