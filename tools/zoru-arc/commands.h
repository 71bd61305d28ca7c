#pragma once

#include <QString>

// The commands of the archiver; each throws ArcError on failure.
namespace arc {

// Packs the files (not subfolders) of `folder` without paths into a ZIP split into volumes of
// volumeSize bytes, the first named `archive`; deletes the packed files afterwards.
void Pack(const QString &archive, const QString &folder, qint64 volumeSize);

// Sets the archive comment to the bytes of commentFile.
void SetComment(const QString &archive, const QString &commentFile);

// Extracts every entry of a ZIP, 7z or RAR archive (all volumes) into `destination`, refusing
// the whole archive before writing anything if an entry could land outside it.
void Extract(const QString &archive, const QString &destination);

// Prints the comment (decoded from cp1251) and the entries to stdout.
void List(const QString &archive);

// Writes the comment's bytes unchanged to `file`.
void WriteCommentToFile(const QString &archive, const QString &file);

} // namespace arc
