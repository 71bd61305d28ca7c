#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <memory>

// The volumes of a multi-volume archive, named as package/volumenames.h describes: the names of
// the console archiver whose packages this program still has to read, which this program
// writes as well, so that one rule serves both.
namespace arc {

// Name of volume `index` (0 is the first volume itself) when writing a set.
QString VolumeName(const QString &firstVolume, int index);

// The existing volumes of the set that starts with firstVolume, in order. Throws ArcError when
// the first volume is missing or a volume is missing between two existing ones.
QStringList FindVolumes(const QString &firstVolume);

// Writes one byte stream as consecutive volumes of exactly volumeSize bytes (the last may be
// shorter). Volumes are created new: an existing file of the same name is an error, so that a
// stale volume of another archive is never mixed into this one. Unless Finish() succeeded, the
// destructor removes every volume written.
class VolumeWriter
{
public:
    VolumeWriter(QString firstVolume, qint64 volumeSize);
    ~VolumeWriter();
    VolumeWriter(const VolumeWriter &) = delete;
    VolumeWriter &operator=(const VolumeWriter &) = delete;

    void Write(const char *data, qint64 size);
    void Finish();
    const QStringList &Volumes() const { return m_volumes; }

private:
    void OpenNext();
    void CloseCurrent();

    QString m_first;
    qint64 m_volumeSize;
    QStringList m_volumes;
    std::unique_ptr<QFile> m_file;
    qint64 m_inVolume = 0;
    bool m_finished = false;
};

} // namespace arc
