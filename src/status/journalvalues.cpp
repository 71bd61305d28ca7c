#include "status/journalvalues.h"

QDateTime JournalTime(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime();
    QString text = value.toString();
    text.replace(QLatin1Char(' '), QLatin1Char('T'));
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}
