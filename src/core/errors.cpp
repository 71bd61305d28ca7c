#include "core/errors.h"

#include <QRegularExpression>
#include <QStringList>

void RethrowWithRow(const Exception &e, const QString &row)
{
    const QString message = e.Message() + QStringLiteral(" (запись: %1)").arg(row);
    if (const auto *engine = dynamic_cast<const EDBEngineError *>(&e))
        throw EDBEngineError(message, engine->Sql());
    if (dynamic_cast<const EDatabaseError *>(&e))
        throw EDatabaseError(message);
    if (dynamic_cast<const ERplException *>(&e))
        throw ERplException(message);
    if (dynamic_cast<const EFileError *>(&e))
        throw EFileError(message);
    throw Exception(message);
}

QString ErrorMessage(const std::exception &e)
{
    const Exception *own = dynamic_cast<const Exception *>(&e);
    return own ? own->Message() : QString::fromLocal8Bit(e.what());
}

QString OneLine(const QString &message)
{
    if (!message.contains(QLatin1Char('\n')) && !message.contains(QLatin1Char('\r')))
        return message;
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]+"));
    QStringList lines;
    for (const QString &line : message.split(lineBreak))
        if (const QString text = line.trimmed(); !text.isEmpty())
            lines << text;
    return lines.join(QStringLiteral("; "));
}
