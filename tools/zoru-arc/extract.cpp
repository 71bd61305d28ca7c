#include "arcerror.h"
#include "commands.h"
#include "core/cp1251.h"
#include "volumes.h"
#include "zipcomment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <archive.h>
#include <archive_entry.h>
#include <cstdio>
#include <memory>
#include <vector>

namespace arc {

namespace {

struct ArchiveReadDeleter
{
    void operator()(archive *a) const { archive_read_free(a); }
};
using ReaderPtr = std::unique_ptr<archive, ArchiveReadDeleter>;

QString libarchiveError(archive *a)
{
    const char *text = archive_error_string(a);
    return text ? QString::fromLocal8Bit(text) : QString();
}

[[noreturn]] void failCorrupt(archive *a, const QString &archivePath)
{
    const QString detail = libarchiveError(a);
    throw ArcError(
        ExitCorrupt,
        QStringLiteral("Архив повреждён, неполон или имеет неизвестный формат: ") + archivePath +
            (detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + QStringLiteral(")")));
}

// Opens every volume as one stream. ZIP is read only through its central directory, so a
// missing last volume or a cut-off archive is an error instead of a silently shorter listing.
ReaderPtr openArchive(const QString &archivePath)
{
    const QStringList volumes = FindVolumes(archivePath);
    std::vector<QByteArray> names;
    names.reserve(size_t(volumes.size()));
    for (const QString &v : volumes)
        names.push_back(QFile::encodeName(v));
    std::vector<const char *> pointers;
    for (const QByteArray &n : names)
        pointers.push_back(n.constData());
    pointers.push_back(nullptr);

    ReaderPtr a(archive_read_new());
    if (!a)
        throw ArcError(ExitFatal, QStringLiteral("Недостаточно памяти"));
    archive_read_support_format_zip_seekable(a.get());
    archive_read_support_format_7zip(a.get());
    archive_read_support_format_rar(a.get());
    archive_read_support_format_rar5(a.get());
    if (archive_read_open_filenames(a.get(), pointers.data(), 64 * 1024) != ARCHIVE_OK)
        failCorrupt(a.get(), archivePath);
    return a;
}

// Returns false at the end of the archive.
bool nextHeader(archive *a, archive_entry *&entry, const QString &archivePath)
{
    const int r = archive_read_next_header(a, &entry);
    if (r == ARCHIVE_EOF)
        return false;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN)
        failCorrupt(a, archivePath);
    return true;
}

QString entryName(archive_entry *entry)
{
    if (const char *utf8 = archive_entry_pathname_utf8(entry))
        return QString::fromUtf8(utf8);
    if (const wchar_t *wide = archive_entry_pathname_w(entry))
        return QString::fromWCharArray(wide);
    return {};
}

// The entry's path relative to the destination, with "/" separators, or an error for anything
// that could place a file outside it or is not a plain file or folder.
QString checkedRelativePath(archive_entry *entry)
{
    const QString raw = entryName(entry);
    const auto refuse = [&](const QString &why) -> ArcError {
        return ArcError(ExitFatal, QStringLiteral("Архив отвергнут: ") + why +
                                       QStringLiteral(": \"") + raw + QStringLiteral("\""));
    };
    if (raw.isEmpty())
        throw refuse(QStringLiteral("недопустимое имя файла"));
    const mode_t type = archive_entry_filetype(entry);
    if (archive_entry_hardlink(entry) != nullptr)
        throw refuse(QStringLiteral("жёсткая ссылка"));
    if (type == AE_IFLNK || archive_entry_symlink(entry) != nullptr)
        throw refuse(QStringLiteral("символическая ссылка"));
    if (type != AE_IFREG && type != AE_IFDIR)
        throw refuse(QStringLiteral("недопустимый тип элемента"));
    if (archive_entry_is_encrypted(entry))
        throw refuse(QStringLiteral("зашифрованный элемент"));

    QString path = raw;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.startsWith(QLatin1Char('/')))
        throw refuse(QStringLiteral("абсолютный путь"));
    QStringList parts;
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            throw refuse(QStringLiteral("путь выходит за пределы папки"));
        // A drive letter or an alternate data stream on Windows.
        if (part.contains(QLatin1Char(':')))
            throw refuse(QStringLiteral("абсолютный путь"));
        for (const QChar c : part) {
            if (c.unicode() < 0x20)
                throw refuse(QStringLiteral("недопустимое имя файла"));
        }
        parts << part;
    }
    if (parts.isEmpty()) {
        if (type == AE_IFDIR)
            return {};
        throw refuse(QStringLiteral("недопустимое имя файла"));
    }
    return parts.join(QLatin1Char('/'));
}

// A symbolic link already lying inside the destination must not redirect a write.
void checkNoLinkOnTheWay(const QString &destination, const QString &relative)
{
    QString path = destination;
    const QStringList parts = relative.split(QLatin1Char('/'));
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += QLatin1Char('/') + parts[i];
        const QFileInfo fi(path);
        if (fi.isSymLink())
            throw ArcError(ExitFatal, QStringLiteral("Папка назначения содержит ссылку: ") + path);
        if (fi.exists() && !fi.isDir())
            throw ArcError(ExitWrite, QStringLiteral("Не удалось создать папку ") + path);
    }
}

// A file that is also needed as a folder (or the other way round) could only be extracted in
// part; found here, it stops the archive before anything is written.
void checkNoNameClash(const QString &relative, bool isFolder, QSet<QString> &files,
                      QSet<QString> &folders)
{
    const QStringList parts = relative.split(QLatin1Char('/'));
    QString prefix;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        prefix += (i ? QStringLiteral("/") : QString()) + parts[i];
        const bool last = i + 1 == parts.size();
        const bool needsFolder = !last || isFolder;
        if (needsFolder ? files.contains(prefix) : folders.contains(prefix)) {
            throw ArcError(ExitFatal, QStringLiteral("Архив отвергнут: имя используется и для "
                                                     "файла, и для папки: \"") +
                                          prefix + QStringLiteral("\""));
        }
        (needsFolder ? folders : files).insert(prefix);
    }
}

void writeEntry(archive *a, archive_entry *entry, const QString &target, const QString &archivePath)
{
    QFileInfo fi(target);
    if (fi.isSymLink() && !QFile::remove(target))
        throw ArcError(ExitWrite, QStringLiteral("Не удалось заменить файл ") + target);
    if (fi.isDir() && !fi.isSymLink())
        throw ArcError(ExitWrite, QStringLiteral("На месте файла находится папка: ") + target);
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw ArcError(ExitWrite, QStringLiteral("Не удалось создать файл ") + target +
                                      QStringLiteral(": ") + out.errorString());
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(a, &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            break;
        // A checksum mismatch is only a warning to libarchive; here it is damage.
        if (r != ARCHIVE_OK)
            failCorrupt(a, archivePath);
        if (out.pos() != offset && !out.seek(offset))
            throw ArcError(ExitWrite, QStringLiteral("Ошибка записи в файл ") + target);
        if (out.write(static_cast<const char *>(block), qint64(size)) != qint64(size))
            throw ArcError(ExitWrite, QStringLiteral("Ошибка записи в файл ") + target +
                                          QStringLiteral(": ") + out.errorString());
    }
    const qint64 expected = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
    if (expected >= 0 && out.size() < expected && !out.resize(expected))
        throw ArcError(ExitWrite, QStringLiteral("Ошибка записи в файл ") + target);
    if (!out.flush())
        throw ArcError(ExitWrite, QStringLiteral("Ошибка записи в файл ") + target +
                                      QStringLiteral(": ") + out.errorString());
    if (archive_entry_mtime_is_set(entry)) {
        out.setFileTime(QDateTime::fromSecsSinceEpoch(archive_entry_mtime(entry)),
                        QFileDevice::FileModificationTime);
    }
    out.close();
    if (out.error() != QFileDevice::NoError)
        throw ArcError(ExitWrite, QStringLiteral("Ошибка записи в файл ") + target);
}

void drainData(archive *a, const QString &archivePath)
{
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(a, &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            return;
        if (r != ARCHIVE_OK)
            failCorrupt(a, archivePath);
    }
}

} // namespace

void Extract(const QString &archivePath, const QString &destinationIn)
{
    const QString destination = QDir::cleanPath(QFileInfo(destinationIn).absoluteFilePath());

    // First pass: every entry is checked and every byte decoded (checksums included) before
    // anything is written, so a hostile or damaged archive leaves the destination untouched.
    qint64 entries = 0;
    {
        ReaderPtr a = openArchive(archivePath);
        archive_entry *entry = nullptr;
        QSet<QString> files;
        QSet<QString> folders;
        while (nextHeader(a.get(), entry, archivePath)) {
            const QString relative = checkedRelativePath(entry);
            if (!relative.isEmpty()) {
                checkNoLinkOnTheWay(destination, relative);
                checkNoNameClash(relative, archive_entry_filetype(entry) == AE_IFDIR, files,
                                 folders);
            }
            drainData(a.get(), archivePath);
            ++entries;
        }
        // libarchive finds the end record of a ZIP even when the stream was cut inside its
        // comment; a cut-off set is damaged all the same.
        if (archive_format(a.get()) == ARCHIVE_FORMAT_ZIP)
            ReadZipComment(archivePath);
    }

    if (!QDir().mkpath(destination))
        throw ArcError(ExitWrite, QStringLiteral("Не удалось создать папку ") + destination);

    ReaderPtr a = openArchive(archivePath);
    archive_entry *entry = nullptr;
    qint64 seen = 0;
    while (nextHeader(a.get(), entry, archivePath)) {
        ++seen;
        const QString relative = checkedRelativePath(entry);
        if (relative.isEmpty())
            continue;
        checkNoLinkOnTheWay(destination, relative);
        const QString target = destination + QLatin1Char('/') + relative;
        if (archive_entry_filetype(entry) == AE_IFDIR) {
            if (QFileInfo(target).isSymLink() || !QDir().mkpath(target))
                throw ArcError(ExitWrite, QStringLiteral("Не удалось создать папку ") + target);
            continue;
        }
        const QString parent = QFileInfo(target).path();
        if (!QDir().mkpath(parent))
            throw ArcError(ExitWrite, QStringLiteral("Не удалось создать папку ") + parent);
        writeEntry(a.get(), entry, target, archivePath);
    }
    if (seen != entries)
        throw ArcError(ExitCorrupt,
                       QStringLiteral("Архив изменился во время извлечения: ") + archivePath);
}

void List(const QString &archivePath)
{
    QByteArray out;
    try {
        const QByteArray comment = ReadZipComment(archivePath);
        out += QByteArrayLiteral("Комментарий: ") + cp1251::decode(comment).toUtf8() + '\n';
    } catch (const ArcError &) {
        // Not a ZIP archive: RAR and 7z comments are not shown.
    }
    ReaderPtr a = openArchive(archivePath);
    archive_entry *entry = nullptr;
    while (nextHeader(a.get(), entry, archivePath)) {
        const QString size = archive_entry_size_is_set(entry)
                                 ? QString::number(archive_entry_size(entry))
                                 : QStringLiteral("?");
        out += size.toUtf8() + '\t' + entryName(entry).toUtf8() + '\n';
        archive_read_data_skip(a.get());
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
}

} // namespace arc
