#pragma once

#include <QDateTime>
#include <QString>

// The names of one server-to-workstation package.
struct TPackageNames
{
    QString Label;          // archive comment: 000012_20050601093000_на ЦРБ
    QString PackageName;    // first 12 characters of the workstation name, "_", stamp
    QString HospitalFolder; // export folder + owner name (safe, at most 30 characters, trimmed)
    QString PackageFolder;  // hospital folder + package name (exists only while exporting)
    QString ArchiveName;    // package name + ".s2w"
};

// Composes the package names for workstation wstGID named wstName, owned by ownerName (the
// hospital's short name or the brigade's name), exported at moment t into exportPath (which
// ends with a separator).
TPackageNames ComposePackageNames(int wstGID, const QString &wstName, const QString &ownerName,
                                  const QDateTime &t, const QString &exportPath);

// Extension of server-to-workstation packages, and of workstation-to-server packages.
inline const QString SrvToWstExtension = QStringLiteral(".s2w");
inline const QString WstToSrvExtension = QStringLiteral(".w2s");
