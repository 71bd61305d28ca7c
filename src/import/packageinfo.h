#pragma once

#include "import/importjournal.h"

#include <QString>
#include <QStringList>

// The files of a workstation package. The first volume carries the package's own name; further
// volumes follow the archiver's naming: "name.partN.ext" counts N up keeping its digit count,
// otherwise "name.w2s" is followed by "name.w00", "name.w01", ... (the extension's first letter;
// past 99 the number grows, or the old archiver's next letter: name.x00).

// The existing volumes of the set that starts with firstVolume, in order (up to the first gap).
// Empty when the first volume does not exist.
QStringList VolumeSet(const QString &firstVolume);

// True when `path` is a further volume ("name.part2.w2s" and on) rather than a set's first.
bool IsFurtherVolume(const QString &path);

// The workstation a package label names: the number before the first "_" ("000012_..." names
// 12); Null when the label does not start so.
QVariant WorkstationOfLabel(const QString &label);

// Name, size, SHA-256 over the volumes in order, and the label (the archive comment, read with
// the archiver of appFolder; empty when it cannot be read). Raises EFileError when the first
// volume is missing or a volume cannot be read.
TImportPackageInfo ReadPackageInfo(const QString &appFolder, const QString &firstVolume);
