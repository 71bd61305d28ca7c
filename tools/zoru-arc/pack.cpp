#include "arcerror.h"
#include "commands.h"
#include "volumes.h"
#include "zipcomment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <optional>

namespace arc {

namespace {

struct ArchiveWriteDeleter
{
    void operator()(archive *a) const { archive_write_free(a); }
};
struct EntryDeleter
{
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};

// libarchive calls back into C++ here; exceptions must not cross its C frames, so a failure is
// parked and rethrown once libarchive has returned.
struct WriteSink
{
    VolumeWriter *writer = nullptr;
    std::optional<ArcError> error;
    // The last bytes of the stream so far: once libarchive is done they are the end of central
    // directory record, whose comment field still has to be filled in.
    QByteArray held;
};

la_ssize_t writeCallback(archive *, void *clientData, const void *buffer, size_t length)
{
    auto *sink = static_cast<WriteSink *>(clientData);
    try {
        sink->held.append(static_cast<const char *>(buffer), qsizetype(length));
        const qsizetype pass = sink->held.size() - ZipEndRecordSize;
        if (pass > 0) {
            sink->writer->Write(sink->held.constData(), pass);
            sink->held.remove(0, pass);
        }
    } catch (const ArcError &e) {
        if (!sink->error)
            sink->error = e;
        return -1;
    }
    return la_ssize_t(length);
}

[[noreturn]] void failWrite(archive *a, const WriteSink &sink, const QString &what)
{
    if (sink.error)
        throw *sink.error;
    throw ArcError(ExitWrite,
                   what + QStringLiteral(": ") + QString::fromLocal8Bit(archive_error_string(a)));
}

} // namespace

void Pack(const QString &archivePath, const QString &folder, qint64 volumeSize)
{
    const QFileInfo folderInfo(folder);
    if (!folderInfo.isDir())
        throw ArcError(ExitOpen, QStringLiteral("Папка не найдена: ") + folder);

    const QString archiveAbs = QFileInfo(archivePath).absoluteFilePath();
    QFileInfoList files;
    const QFileInfoList listed = QDir(folder).entryInfoList(
        QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo &fi : listed) {
        if (fi.absoluteFilePath() != archiveAbs)
            files << fi;
    }
    if (files.isEmpty())
        throw ArcError(ExitNoFiles, QStringLiteral("Нет файлов для архивации в папке ") + folder);

    // Adding to an existing archive is not supported; refusing keeps an older package intact.
    if (QFileInfo::exists(archivePath) || QFileInfo::exists(VolumeName(archivePath, 1)))
        throw ArcError(ExitCreate, QStringLiteral("Архив уже существует: ") + archivePath);

    VolumeWriter writer(archivePath, volumeSize);
    WriteSink sink{&writer, std::nullopt, {}};
    std::unique_ptr<archive, ArchiveWriteDeleter> a(archive_write_new());
    if (!a)
        throw ArcError(ExitFatal, QStringLiteral("Недостаточно памяти"));
    archive_write_set_format_zip(a.get());
    archive_write_set_bytes_per_block(a.get(), 0);
    archive_write_set_bytes_in_last_block(a.get(), 1);
    // Names are stored in UTF-8 with the ZIP "language encoding" flag so Cyrillic survives on
    // any system.
    if (archive_write_set_options(a.get(), "zip:hdrcharset=UTF-8,zip:compression=deflate") !=
        ARCHIVE_OK)
        failWrite(a.get(), sink, QStringLiteral("Ошибка настройки архиватора"));
    if (archive_write_open2(a.get(), &sink, nullptr, writeCallback, nullptr, nullptr) != ARCHIVE_OK)
        failWrite(a.get(), sink, QStringLiteral("Не удалось создать архив ") + archivePath);

    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (const QFileInfo &fi : std::as_const(files)) {
        QFile in(fi.absoluteFilePath());
        if (!in.open(QIODevice::ReadOnly))
            throw ArcError(ExitOpen, QStringLiteral("Не удалось открыть файл ") + in.fileName() +
                                         QStringLiteral(": ") + in.errorString());
        std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
        const QByteArray name = fi.fileName().toUtf8();
        archive_entry_update_pathname_utf8(entry.get(), name.constData());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), in.size());
        archive_entry_set_mtime(entry.get(), fi.lastModified().toSecsSinceEpoch(), 0);
        if (archive_write_header(a.get(), entry.get()) != ARCHIVE_OK)
            failWrite(a.get(), sink,
                      QStringLiteral("Ошибка записи в архив файла ") + fi.fileName());
        qint64 total = 0;
        for (;;) {
            const qint64 got = in.read(buffer.data(), buffer.size());
            if (got < 0)
                throw ArcError(ExitOpen, QStringLiteral("Ошибка чтения файла ") + in.fileName() +
                                             QStringLiteral(": ") + in.errorString());
            if (got == 0)
                break;
            if (archive_write_data(a.get(), buffer.constData(), size_t(got)) != got)
                failWrite(a.get(), sink,
                          QStringLiteral("Ошибка записи в архив файла ") + fi.fileName());
            total += got;
        }
        if (total != archive_entry_size(entry.get()))
            throw ArcError(ExitOpen,
                           QStringLiteral("Файл изменился во время архивации: ") + in.fileName());
        if (archive_write_finish_entry(a.get()) != ARCHIVE_OK)
            failWrite(a.get(), sink,
                      QStringLiteral("Ошибка записи в архив файла ") + fi.fileName());
    }
    if (archive_write_close(a.get()) != ARCHIVE_OK)
        failWrite(a.get(), sink, QStringLiteral("Ошибка записи архива ") + archivePath);
    // Until a comment is set the comment field records the volume size, so that setting a
    // comment later can keep even a single-volume archive within it.
    const QByteArray marker = VolumeSizeMarker(volumeSize);
    QByteArray &end = sink.held;
    if (end.size() != ZipEndRecordSize || !end.startsWith(QByteArrayLiteral("PK\x05\x06")))
        throw ArcError(ExitFatal, QStringLiteral("Внутренняя ошибка: нет конца архива ZIP"));
    end[20] = char(marker.size() & 0xFF);
    end[21] = char((marker.size() >> 8) & 0xFF);
    end += marker;
    writer.Write(end.constData(), end.size());
    writer.Finish();

    // Files go only once every volume is safely closed.
    for (const QFileInfo &fi : std::as_const(files)) {
        if (!QFile::remove(fi.absoluteFilePath()))
            throw ArcError(ExitWrite,
                           QStringLiteral("Не удалось удалить файл ") + fi.absoluteFilePath());
    }
}

void SetComment(const QString &archivePath, const QString &commentFile)
{
    QFile f(commentFile);
    if (!f.open(QIODevice::ReadOnly))
        throw ArcError(ExitOpen,
                       QStringLiteral("Не удалось открыть файл комментария ") + commentFile);
    const QByteArray comment = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw ArcError(ExitOpen, QStringLiteral("Ошибка чтения файла ") + commentFile);
    WriteZipComment(archivePath, comment);
}

void WriteCommentToFile(const QString &archivePath, const QString &file)
{
    const QByteArray comment = ReadZipComment(archivePath);
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        f.write(comment) != comment.size() || !f.flush())
        throw ArcError(ExitWrite, QStringLiteral("Не удалось записать файл ") + file);
}

} // namespace arc
