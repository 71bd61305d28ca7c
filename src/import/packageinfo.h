#pragma once

#include "core/volumenames.h"
#include "import/importjournal.h"

#include <QString>
#include <QStringList>

// The files of a workstation package: the existing volumes of the set that starts with
// firstVolume, named as the archiver names them (core/volumenames.h), in order up to the first
// gap. Empty when the first volume does not exist.
QStringList VolumeSet(const QString &firstVolume);

// The workstation a package label names: the number before the first "_" ("000012_..." names
// 12); Null when the label does not start so.
QVariant WorkstationOfLabel(const QString &label);

// Name, size, SHA-256 over the volumes in order, and the label (the archive comment, read with
// the archiver of appFolder; empty when it cannot be read). Raises EFileError when the first
// volume is missing or a volume cannot be read.
TImportPackageInfo ReadPackageInfo(const QString &appFolder, const QString &firstVolume);
