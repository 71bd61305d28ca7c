#include "package/volumenames.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QRegularExpression &partPattern()
{
    static const QRegularExpression re(QStringLiteral("^(.*\\.part)(\\d{1,9})(\\.[^./\\\\]*)?$"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

} // namespace

QStringList VolumeCandidates(const QString &firstVolume, int index)
{
    const QRegularExpressionMatch m = partPattern().match(firstVolume);
    if (m.hasMatch()) {
        const QString digits = m.captured(2);
        return {m.captured(1) +
                QStringLiteral("%1").arg(digits.toInt() + index, int(digits.size()), 10,
                                         QLatin1Char('0')) +
                m.captured(3)};
    }
    // "dir/base.ext" into "dir/base" and "ext" (no extension when the file name has no dot).
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
    if (n < 100)
        return {base + QLatin1Char('.') + letter + twoDigits(n)};
    QStringList names{base + QLatin1Char('.') + letter + QString::number(n)};
    const QChar shifted(letter.unicode() + n / 100);
    if (shifted.isLetter())
        names << base + QLatin1Char('.') + shifted + twoDigits(n % 100);
    return names;
}

bool IsFurtherVolume(const QString &path)
{
    const QRegularExpressionMatch m = partPattern().match(QFileInfo(path).fileName());
    return m.hasMatch() && m.captured(2).toInt() > 1;
}
