#include "engine/sql/postgresql/arraytext.h"

#include "engine/sql/postgresql/postgresqldriver.h"
#include "engine/statement.h"

#include <QDateTime>
#include <cmath>

namespace engine {

namespace {

void appendEscaped(QString &array, const QString &text)
{
    for (const QChar ch : text) {
        if (ch == QLatin1Char('"') || ch == QLatin1Char('\\'))
            array += QLatin1Char('\\');
        array += ch;
    }
}

// A value as BindableValue binds it on PostgreSQL.
QVariant bindable(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() == QMetaType::QDateTime)
        return PostgreSqlDriver().BindableDateTime(value.toDateTime());
    return value;
}

} // namespace

// The common types go straight from the variant: a group is 256 rows of every column.
void AppendArrayElement(QString &array, const QVariant &value)
{
    const void *data = value.constData();
    switch (value.isNull() ? QMetaType::UnknownType : value.typeId()) {
    case QMetaType::Int:
        AppendNumber(array, *static_cast<const int *>(data));
        return;
    case QMetaType::LongLong:
        AppendNumber(array, *static_cast<const qlonglong *>(data));
        return;
    case QMetaType::Double: {
        const double d = *static_cast<const double *>(data);
        if (!std::isfinite(d))
            break;
        AppendNumber(array, d);
        return;
    }
    case QMetaType::QString: {
        const QString &text = *static_cast<const QString *>(data);
        array += QLatin1Char('"');
        if (!text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\\')))
            array += text;
        else
            appendEscaped(array, text);
        array += QLatin1Char('"');
        return;
    }
    case QMetaType::QDateTime: {
        // The wall-clock text, whatever the time's zone, as BindableValue makes it.
        char text[24];
        const int length = TimestampText(*static_cast<const QDateTime *>(data), text);
        if (length > 0) {
            array += QLatin1Char('"');
            array += QLatin1StringView(text, length);
            array += QLatin1Char('"');
            return;
        }
        break;
    }
    default:
        break;
    }
    const QVariant v = bindable(value);
    switch (BoundKind(v)) {
    case TBoundKind::Null:
        array += QLatin1String("NULL");
        return;
    case TBoundKind::Integer:
        array += QString::number(v.toLongLong());
        return;
    case TBoundKind::Float:
        array += QString::number(v.toDouble(), 'g', 17);
        return;
    case TBoundKind::Boolean:
        array += v.toBool() ? QLatin1Char('t') : QLatin1Char('f');
        return;
    case TBoundKind::Bytes: // no table with binary columns sends arrays
    case TBoundKind::Text:
        break;
    }
    array += QLatin1Char('"');
    appendEscaped(array, BoundText(v));
    array += QLatin1Char('"');
}

} // namespace engine
