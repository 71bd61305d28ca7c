#include "zipcomment.h"

#include "arcerror.h"
#include "volumes.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <limits>

namespace arc {

namespace {

constexpr qint64 EocdSize = ZipEndRecordSize;
const QByteArray MarkerPrefix = QByteArrayLiteral("\x01zoru-arc volume size ");
constexpr qint64 MaxComment = 0xFFFF;

struct VolumeSet
{
    QStringList paths;
    QList<qint64> starts; // offset of each volume in the joined stream
    qint64 total = 0;
};

VolumeSet statVolumes(const QString &firstVolume)
{
    VolumeSet set;
    set.paths = FindVolumes(firstVolume);
    for (const QString &path : std::as_const(set.paths)) {
        set.starts << set.total;
        set.total += QFileInfo(path).size();
    }
    return set;
}

QByteArray readRange(const VolumeSet &set, qint64 from, qint64 length)
{
    QByteArray out;
    out.reserve(length);
    for (qsizetype i = 0; i < set.paths.size() && length > 0; ++i) {
        const qint64 start = set.starts[i];
        const qint64 end = i + 1 < set.paths.size() ? set.starts[i + 1] : set.total;
        if (from >= end)
            continue;
        QFile f(set.paths[i]);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(from - start))
            throw ArcError(ExitOpen, QStringLiteral("Не удалось открыть файл ") + set.paths[i]);
        const qint64 chunk = std::min(length, end - from);
        const QByteArray part = f.read(chunk);
        if (part.size() != chunk)
            throw ArcError(ExitOpen, QStringLiteral("Ошибка чтения файла ") + set.paths[i]);
        out += part;
        from += chunk;
        length -= chunk;
    }
    return out;
}

quint16 le16(const QByteArray &b, qsizetype at)
{
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

// Offset of the end of central directory record in the joined stream.
qint64 findEocd(const VolumeSet &set, const QString &firstVolume)
{
    const qint64 window = std::min(set.total, EocdSize + MaxComment);
    const QByteArray tail = readRange(set, set.total - window, window);
    for (qint64 at = window - EocdSize; at >= 0; --at) {
        if (tail[at] == 'P' && tail[at + 1] == 'K' && tail[at + 2] == 5 && tail[at + 3] == 6 &&
            at + EocdSize + le16(tail, at + 20) == window)
            return set.total - window + at;
    }
    throw ArcError(ExitCorrupt,
                   QStringLiteral("Архив повреждён или не является архивом ZIP: ") + firstVolume);
}

void writeAll(QFile &f, const char *data, qint64 size)
{
    if (f.write(data, size) != size)
        throw ArcError(ExitWrite, QStringLiteral("Ошибка записи в файл ") + f.fileName() +
                                      QStringLiteral(": ") + f.errorString());
}

void closeChecked(QFile &f)
{
    const bool flushed = f.flush();
    f.close();
    if (!flushed || f.error() != QFileDevice::NoError)
        throw ArcError(ExitWrite, QStringLiteral("Ошибка записи в файл ") + f.fileName());
}

qint64 markedVolumeSize(const QByteArray &comment)
{
    if (!comment.startsWith(MarkerPrefix))
        return 0;
    bool ok = false;
    const qint64 size = comment.mid(MarkerPrefix.size()).toLongLong(&ok);
    return ok && size > 0 ? size : 0;
}

QByteArray rawComment(const VolumeSet &set, qint64 eocd)
{
    return readRange(set, eocd + EocdSize, set.total - eocd - EocdSize);
}

} // namespace

QByteArray VolumeSizeMarker(qint64 volumeSize)
{
    return MarkerPrefix + QByteArray::number(volumeSize);
}

QByteArray ReadZipComment(const QString &firstVolume)
{
    const VolumeSet set = statVolumes(firstVolume);
    const QByteArray comment = rawComment(set, findEocd(set, firstVolume));
    return markedVolumeSize(comment) > 0 ? QByteArray() : comment;
}

void WriteZipComment(const QString &firstVolume, const QByteArray &comment)
{
    if (comment.size() > MaxComment)
        throw ArcError(ExitUsage, QStringLiteral("Комментарий длиннее 65535 байт"));
    const VolumeSet set = statVolumes(firstVolume);
    const qint64 eocd = findEocd(set, firstVolume);

    QByteArray tail = readRange(set, eocd, EocdSize);
    tail[20] = char(comment.size() & 0xFF);
    tail[21] = char((comment.size() >> 8) & 0xFF);
    tail += comment;

    qint64 volumeSize = markedVolumeSize(rawComment(set, eocd));
    if (volumeSize == 0)
        volumeSize = set.paths.size() > 1 ? set.starts[1] : std::numeric_limits<qint64>::max();
    qsizetype index = set.paths.size() - 1;
    while (set.starts[index] > eocd)
        --index;

    // The volume holding the record is cut where the record starts and refilled from there;
    // the rest of the new tail goes to following volumes, each exactly volumeSize long but the
    // last.
    qint64 offsetInVolume = eocd - set.starts[index];
    qsizetype written = 0;
    int volume = int(index);
    while (written < tail.size()) {
        const QString name =
            volume < set.paths.size() ? set.paths[volume] : VolumeName(firstVolume, volume);
        QFile f(name);
        const bool opened = volume == index ? f.open(QIODevice::ReadWrite) &&
                                                  f.resize(offsetInVolume) && f.seek(offsetInVolume)
                                            : f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        if (!opened)
            throw ArcError(ExitWrite, QStringLiteral("Не удалось записать файл ") + name);
        const qint64 chunk = std::min<qint64>(tail.size() - written, volumeSize - offsetInVolume);
        writeAll(f, tail.constData() + written, chunk);
        closeChecked(f);
        written += chunk;
        offsetInVolume = 0;
        ++volume;
    }
    for (qsizetype stale = volume; stale < set.paths.size(); ++stale) {
        if (!QFile::remove(set.paths[stale]))
            throw ArcError(ExitWrite,
                           QStringLiteral("Не удалось удалить файл ") + set.paths[stale]);
    }
}

} // namespace arc
