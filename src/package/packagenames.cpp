#include "package/packagenames.h"

#include "core/paths.h"
#include "package/archiver.h"

TPackageNames ComposePackageNames(int wstGID, const QString &wstName, const QString &ownerName,
                                  const QDateTime &t, const QString &exportPath)
{
    const QString stamp = t.toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString owner = SafeFileName(ownerName);
    QString ownerFolder = owner.left(30).trimmed();
    // A name of dots alone would name the export folder itself or its parent.
    if (!ownerFolder.isEmpty() && ownerFolder.count(QLatin1Char('.')) == ownerFolder.size())
        ownerFolder.fill(QLatin1Char('_'));

    TPackageNames n;
    n.Label = QStringLiteral("%1").arg(wstGID, 6, 10, QLatin1Char('0')) + QLatin1Char('_') + stamp +
              QStringLiteral("_на ") + owner;
    n.PackageName = SafeFileName(wstName.left(12)) + QLatin1Char('_') + stamp;
    n.HospitalFolder = exportPath + ownerFolder;
    n.PackageFolder = paths::includeTrailing(n.HospitalFolder) + n.PackageName;
    n.ArchiveName = n.PackageName + SrvToWstExtension;
    return n;
}
