#pragma once

#include <QByteArray>
#include <QString>

// The archive comment of a (possibly split) ZIP archive: the comment field of the end of central
// directory record, which is the very end of the byte stream, i.e. of the last volume.
namespace arc {

// Throws ArcError when the archive is not a ZIP archive or is incomplete.
QByteArray ReadZipComment(const QString &firstVolume);

// Replaces the comment, keeping the bytes as given. The volume size of a multi-volume set is
// taken from its first volume and kept: the rewritten tail is cut into volumes of that size and
// surplus old volumes are removed. (A single-volume archive stays one file.)
void WriteZipComment(const QString &firstVolume, const QByteArray &comment);

} // namespace arc
