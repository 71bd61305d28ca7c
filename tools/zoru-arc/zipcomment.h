#pragma once

#include <QByteArray>
#include <QString>

// The archive comment of a (possibly split) ZIP archive: the comment field of the end of central
// directory record, which is the very end of the byte stream, i.e. of the last volume.
namespace arc {

inline constexpr qsizetype ZipEndRecordSize = 22;

// What "a" leaves in the comment field until a comment is set: the volume size of the set.
// Reading the comment gives an empty comment for it.
QByteArray VolumeSizeMarker(qint64 volumeSize);

// Throws ArcError when the archive is not a ZIP archive or is incomplete.
QByteArray ReadZipComment(const QString &firstVolume);

// Replaces the comment, keeping the bytes as given. The rewritten tail is cut into volumes of the
// set's volume size (from the marker, else the size of the first of several volumes; a
// single-volume archive without a marker stays one file) and surplus old volumes are removed.
void WriteZipComment(const QString &firstVolume, const QByteArray &comment);

} // namespace arc
