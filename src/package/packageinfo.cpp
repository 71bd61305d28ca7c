#include "package/packageinfo.h"

#include "core/cp1251.h"
#include "core/errors.h"
#include "core/paths.h"
#include "package/archiver.h"
#include "package/workfolder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

QStringList VolumeSet(const QString &firstVolume)
{
    if (!QFileInfo(firstVolume).isFile())
        return {};
    QStringList volumes{firstVolume};
    for (int index = 1;; ++index) {
        QString found;
        for (const QString &name : VolumeCandidates(firstVolume, index))
            if (QFileInfo(name).isFile()) {
                found = name;
                break;
            }
        if (found.isEmpty() || volumes.contains(found))
            break;
        volumes << found;
    }
    return volumes;
}

QVariant WorkstationOfLabel(const QString &label)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,9})_"));
    const QRegularExpressionMatch m = re.match(label);
    if (!m.hasMatch())
        return {};
    return m.captured(1).toInt();
}

TImportPackageInfo ReadPackageInfo(const QString &appFolder, const QString &firstVolume)
{
    return ReadPackageInfo(appFolder, firstVolume, VolumeSet(firstVolume));
}

TImportPackageInfo ReadPackageInfo(const QString &appFolder, const QString &firstVolume,
                                   const QStringList &volumes)
{
    TImportPackageInfo info;
    info.FileName = QFileInfo(firstVolume).fileName();
    info.Volumes = volumes;
    if (info.Volumes.isEmpty())
        throw EFileError(QStringLiteral("Файл не найден: ") + firstVolume);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString &volume : std::as_const(info.Volumes)) {
        QFile f(volume);
        if (!f.open(QIODevice::ReadOnly))
            throw EFileError(QStringLiteral("Невозможно открыть файл ") + volume);
        if (!hash.addData(&f))
            throw EFileError(QStringLiteral("Ошибка чтения файла ") + volume);
        info.Size += f.size();
    }
    info.Sha256 = QString::fromLatin1(hash.result().toHex());

    // The label: "cw" writes the comment's bytes to a file.
    TWorkFolder temp;
    const QString commentFile = temp.Path() + CommentFileName;
    if (RunArchiver(CommentReadCall(appFolder, firstVolume, commentFile)) == 0) {
        QFile f(commentFile);
        if (f.open(QIODevice::ReadOnly)) {
            QString label = cp1251::decode(f.readAll());
            while (label.endsWith(QLatin1Char('\n')) || label.endsWith(QLatin1Char('\r')))
                label.chop(1);
            info.Label = label;
        }
    }
    info.WstGID = WorkstationOfLabel(info.Label);
    return info;
}
