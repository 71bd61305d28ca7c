#include "volumes.h"

#include "arcerror.h"
#include "package/volumenames.h"

#include <QFileInfo>

namespace arc {

namespace {

QString existingVolume(const QString &firstVolume, int index)
{
    for (const QString &name : VolumeCandidates(firstVolume, index)) {
        if (QFileInfo(name).isFile())
            return name;
    }
    return {};
}

} // namespace

QString VolumeName(const QString &firstVolume, int index)
{
    if (index == 0)
        return firstVolume;
    return VolumeCandidates(firstVolume, index).constFirst();
}

QStringList FindVolumes(const QString &firstVolume)
{
    if (!QFileInfo(firstVolume).isFile())
        throw ArcError(ExitOpen, QStringLiteral("Архив не найден: ") + firstVolume);
    QStringList volumes{firstVolume};
    for (int index = 1;; ++index) {
        const QString name = existingVolume(firstVolume, index);
        if (name.isEmpty()) {
            // A later volume without this one means the set is incomplete, not finished.
            for (int ahead = index + 1; ahead <= index + 2; ++ahead) {
                if (!existingVolume(firstVolume, ahead).isEmpty()) {
                    throw ArcError(ExitOpen, QStringLiteral("Не найден том архива: ") +
                                                 VolumeName(firstVolume, index));
                }
            }
            break;
        }
        if (volumes.contains(name))
            throw ArcError(ExitUsage, QStringLiteral("Недопустимое имя архива: ") + firstVolume);
        volumes << name;
    }
    return volumes;
}

VolumeWriter::VolumeWriter(QString firstVolume, qint64 volumeSize)
    : m_first(std::move(firstVolume)), m_volumeSize(volumeSize)
{
}

VolumeWriter::~VolumeWriter()
{
    if (m_finished)
        return;
    m_file.reset();
    for (const QString &name : std::as_const(m_volumes))
        QFile::remove(name);
}

void VolumeWriter::OpenNext()
{
    if (m_file)
        CloseCurrent();
    const QString name = VolumeName(m_first, int(m_volumes.size()));
    if (m_volumes.contains(name))
        throw ArcError(ExitUsage, QStringLiteral("Недопустимое имя архива: ") + m_first);
    m_file = std::make_unique<QFile>(name);
    // Unbuffered (libarchive hands over whole blocks): a buffered short write, on a full disk,
    // could pass the flush unnoticed and leave a cut archive reported as made.
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        const bool exists = QFileInfo::exists(name);
        m_file.reset();
        throw ArcError(ExitCreate, (exists ? QStringLiteral("Файл уже существует: ")
                                           : QStringLiteral("Не удалось создать файл ")) +
                                       name);
    }
    m_volumes << name;
    m_inVolume = 0;
}

void VolumeWriter::Write(const char *data, qint64 size)
{
    while (size > 0) {
        if (!m_file || m_inVolume == m_volumeSize)
            OpenNext();
        const qint64 chunk = std::min(size, m_volumeSize - m_inVolume);
        if (m_file->write(data, chunk) != chunk)
            throw ArcError(ExitWrite, QStringLiteral("Ошибка записи в файл ") + m_file->fileName() +
                                          QStringLiteral(": ") + m_file->errorString());
        m_inVolume += chunk;
        data += chunk;
        size -= chunk;
    }
}

void VolumeWriter::CloseCurrent()
{
    const QString name = m_file->fileName();
    const bool flushed = m_file->flush();
    m_file->close();
    const bool ok = flushed && m_file->error() == QFileDevice::NoError;
    m_file.reset();
    if (!ok)
        throw ArcError(ExitWrite, QStringLiteral("Ошибка записи в файл ") + name);
}

void VolumeWriter::Finish()
{
    if (!m_file)
        OpenNext();
    CloseCurrent();
    m_finished = true;
}

} // namespace arc
