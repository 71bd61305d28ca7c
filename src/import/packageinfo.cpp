#include "import/packageinfo.h"

#include "core/cp1251.h"
#include "core/errors.h"
#include "core/paths.h"
#include "replication/archive.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QRegularExpression &partPattern()
{
    static const QRegularExpression re(QStringLiteral("^(.*\\.part)(\\d{1,9})(\\.[^./\\\\]*)?$"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

// Candidate names of volume `index` (>= 1).
QStringList volumeCandidates(const QString &firstVolume, int index)
{
    const QRegularExpressionMatch m = partPattern().match(firstVolume);
    if (m.hasMatch()) {
        const QString digits = m.captured(2);
        return {m.captured(1) +
                QStringLiteral("%1").arg(digits.toInt() + index, int(digits.size()), 10,
                                         QLatin1Char('0')) +
                m.captured(3)};
    }
    const QString fileName = QFileInfo(firstVolume).fileName();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    QString base = firstVolume;
    QChar letter = QLatin1Char('r');
    if (dot > 0) {
        const QString ext = fileName.mid(dot + 1);
        base = firstVolume.left(firstVolume.size() - ext.size() - 1);
        if (!ext.isEmpty())
            letter = ext.at(0);
    }
    const int n = index - 1;
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    if (n < 100)
        return {base + QLatin1Char('.') + letter + two(n)};
    QStringList names{base + QLatin1Char('.') + letter + QString::number(n)};
    const QChar shifted(letter.unicode() + n / 100);
    if (shifted.isLetter())
        names << base + QLatin1Char('.') + shifted + two(n % 100);
    return names;
}

} // namespace

QStringList VolumeSet(const QString &firstVolume)
{
    if (!QFileInfo(firstVolume).isFile())
        return {};
    QStringList volumes{firstVolume};
    for (int index = 1;; ++index) {
        QString found;
        for (const QString &name : volumeCandidates(firstVolume, index))
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

bool IsFurtherVolume(const QString &path)
{
    const QRegularExpressionMatch m = partPattern().match(QFileInfo(path).fileName());
    return m.hasMatch() && m.captured(2).toInt() > 1;
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
    TImportPackageInfo info;
    info.FileName = QFileInfo(firstVolume).fileName();
    info.Volumes = VolumeSet(firstVolume);
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
    const QString command = paths::includeTrailing(appFolder) + ArchiverProgram() +
                            QStringLiteral(" cw \"") + firstVolume + QStringLiteral("\" \"") +
                            commentFile + QLatin1Char('"');
    if (RunArchiver(command) == 0) {
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
