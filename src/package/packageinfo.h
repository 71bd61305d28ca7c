#pragma once

#include "package/volumenames.h"

#include <QString>
#include <QStringList>
#include <QVariant>

// A package file as the import journal records it.
struct TImportPackageInfo
{
    QString FileName;    // the first volume's file name, without folder
    qint64 Size = 0;     // all volumes together
    QString Sha256;      // over the volumes in order, lower-case hex
    QString Label;       // the archive comment
    QVariant WstGID;     // the workstation the label names; Null when it names none
    QStringList Volumes; // full paths, in order
};

// The files of a workstation package: the existing volumes of the set that starts with
// firstVolume, named as the archiver names them (package/volumenames.h), in order up to the first
// gap. Empty when the first volume does not exist.
QStringList VolumeSet(const QString &firstVolume);

// The workstation a package label names: the number before the first "_" ("000012_..." names
// 12); Null when the label does not start so.
QVariant WorkstationOfLabel(const QString &label);

// Name, size, SHA-256 over the volumes in order, and the label (the archive comment, read with
// the archiver of appFolder; empty when it cannot be read). Raises EFileError when the first
// volume is missing or a volume cannot be read.
TImportPackageInfo ReadPackageInfo(const QString &appFolder, const QString &firstVolume);
// The same for the volume set read already.
TImportPackageInfo ReadPackageInfo(const QString &appFolder, const QString &firstVolume,
                                   const QStringList &volumes);
