#include "engine/fieldtypes.h"

#include "core/errors.h"
#include "core/localzone.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <cmath>
#include <limits>
#include <optional>

namespace engine {

bool IsTextType(TFieldType type)
{
    return type == TFieldType::ftString || type == TFieldType::ftMemo;
}

bool IsIntegerType(TFieldType type)
{
    return type == TFieldType::ftSmallint || type == TFieldType::ftInteger ||
           type == TFieldType::ftLargeint;
}

int ColumnIndex(const QList<TColumn> &columns, const QString &name)
{
    for (int i = 0; i < columns.size(); ++i)
        if (columns.at(i).Name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool IsNumericType(TFieldType type)
{
    return IsIntegerType(type) || type == TFieldType::ftFloat;
}

QString FieldTypeName(TFieldType type)
{
    switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftMemo:
        return QStringLiteral("строкой");
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint:
        return QStringLiteral("целым числом");
    case TFieldType::ftFloat:
        return QStringLiteral("числом");
    case TFieldType::ftBoolean:
        return QStringLiteral("логическим значением");
    case TFieldType::ftDate:
    case TFieldType::ftDateTime:
    case TFieldType::ftTime:
        return QStringLiteral("датой");
    case TFieldType::ftBlob:
    case TFieldType::ftUnknown:
        break;
    }
    return QStringLiteral("допустимым значением");
}

namespace {

[[noreturn]] void badValue(const QVariant &value, TFieldType type, const QString &fieldName)
{
    throw EDatabaseError(QStringLiteral("Значение '%1' не является %2 (поле '%3')")
                             .arg(value.toString(), FieldTypeName(type), fieldName));
}

bool toDouble(const QVariant &value, double &out)
{
    bool ok = false;
    switch (value.typeId()) {
    case QMetaType::QString: {
        QString text = value.toString().trimmed();
        if (text.isEmpty())
            return false;
        text.replace(QLatin1Char(','), QLatin1Char('.'));
        out = text.toDouble(&ok);
        return ok;
    }
    case QMetaType::Bool:
        out = value.toBool() ? 1.0 : 0.0;
        return true;
    case QMetaType::QDateTime:
    case QMetaType::QDate:
        return false;
    default:
        out = value.toDouble(&ok);
        return ok;
    }
}

// The texts a database keeps ("yyyy-MM-dd", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-ddTHH:mm:ss.zzz"),
// read without the general parser: a table read back holds one in every date column.
std::optional<QDateTime> storedTimestamp(const QString &text)
{
    const qsizetype n = text.size();
    if (n != 10 && n != 19 && n != 23)
        return std::nullopt;
    const QChar *c = text.constData();
    auto number = [c](int from, int length, int &out) {
        out = 0;
        for (int i = from; i < from + length; ++i) {
            const char16_t ch = c[i].unicode();
            if (ch < u'0' || ch > u'9')
                return false;
            out = out * 10 + (ch - u'0');
        }
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    if (!number(0, 4, y) || c[4] != u'-' || !number(5, 2, mo) || c[7] != u'-' || !number(8, 2, d))
        return std::nullopt;
    if (n >= 19 && ((c[10] != u'T' && c[10] != u' ') || !number(11, 2, h) || c[13] != u':' ||
                    !number(14, 2, mi) || c[16] != u':' || !number(17, 2, s)))
        return std::nullopt;
    if (n == 23 && (c[19] != u'.' || !number(20, 3, ms)))
        return std::nullopt;
    const QDate date(y, mo, d);
    const QTime time(h, mi, s, ms);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return WallClockDateTime(date, time);
}

QDateTime toDateTime(const QVariant &value, bool &ok)
{
    ok = true;
    if (value.typeId() == QMetaType::QDateTime) {
        // Qt's drivers give a wall-clock time that local time skips as an invalid date-time
        // that still holds its fields.
        const QDateTime dt = value.toDateTime();
        return dt.isValid() ? dt : WallClockDateTime(dt.date(), dt.time());
    }
    if (value.typeId() == QMetaType::QDate)
        return value.toDate().startOfDay();
    if (value.typeId() == QMetaType::QString) {
        if (auto stored = storedTimestamp(*static_cast<const QString *>(value.constData())))
            return *stored;
        const QString text = value.toString().trimmed();
        QDateTime dt = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!dt.isValid())
            dt = QDateTime::fromString(text, Qt::ISODate);
        if (!dt.isValid()) {
            const QDate d = QDate::fromString(text, Qt::ISODate);
            if (d.isValid())
                dt = d.startOfDay();
        }
        for (const char *format :
             {"dd.MM.yyyy hh:mm:ss", "dd.MM.yyyy h:mm:ss", "dd.MM.yyyy", "d.M.yyyy", "dd.MM.yy"}) {
            if (dt.isValid())
                break;
            dt = QDateTime::fromString(text, QLatin1String(format));
            if (dt.isValid() && dt.date().year() < 1930 &&
                QLatin1String(format).endsWith(QLatin1String(".yy")))
                dt = dt.addYears(100);
        }
        ok = dt.isValid();
        return dt;
    }
    ok = false;
    return {};
}

// A value not already of the field's own type, converted to it.
QVariant convertedValue(const QVariant &value, TFieldType type, int size, const QString &fieldName)
{
    switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftMemo: {
        QString text;
        if (value.typeId() == QMetaType::Double) {
            text = QString::number(value.toDouble(), 'g', 15);
        } else if (value.typeId() == QMetaType::QDateTime) {
            const QDateTime dt = value.toDateTime();
            text = dt.time() == QTime(0, 0) ? dt.date().toString(QStringLiteral("dd.MM.yyyy"))
                                            : dt.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
        } else if (value.typeId() == QMetaType::QDate) {
            text = value.toDate().toString(QStringLiteral("dd.MM.yyyy"));
        } else {
            text = value.toString();
        }
        if (type == TFieldType::ftString && size > 0 && text.size() > size)
            text.truncate(size);
        return text;
    }
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint: {
        double d = 0;
        if (!toDouble(value, d) || !std::isfinite(d))
            badValue(value, type, fieldName);
        const double r = std::round(d);
        const double lo = type == TFieldType::ftSmallint  ? -32768.0
                          : type == TFieldType::ftInteger ? -2147483648.0
                                                          : -9.2e18;
        const double hi = type == TFieldType::ftSmallint  ? 32767.0
                          : type == TFieldType::ftInteger ? 2147483647.0
                                                          : 9.2e18;
        if (r < lo || r > hi)
            badValue(value, type, fieldName);
        if (type == TFieldType::ftLargeint)
            return QVariant(static_cast<qint64>(r));
        return QVariant(static_cast<int>(r));
    }
    case TFieldType::ftFloat: {
        double d = 0;
        if (!toDouble(value, d))
            badValue(value, type, fieldName);
        return d;
    }
    case TFieldType::ftBoolean: {
        if (value.typeId() == QMetaType::Bool)
            return value.toBool();
        if (value.typeId() == QMetaType::QString) {
            const QString t = value.toString().trimmed().toUpper();
            if (t == QLatin1String("TRUE") || t == QLatin1String("T") || t == QLatin1String("1"))
                return true;
            if (t == QLatin1String("FALSE") || t == QLatin1String("F") || t == QLatin1String("0"))
                return false;
            badValue(value, type, fieldName);
        }
        double d = 0;
        if (!toDouble(value, d))
            badValue(value, type, fieldName);
        return d != 0.0;
    }
    case TFieldType::ftDate: {
        bool ok = false;
        const QDateTime dt = toDateTime(value, ok);
        // Already the start of its day (a local midnight that exists).
        if (ok && dt.timeSpec() == Qt::LocalTime && dt.time() == QTime(0, 0) && dt.isValid())
            return dt;
        if (!ok)
            badValue(value, type, fieldName);
        return dt.date().startOfDay();
    }
    case TFieldType::ftDateTime: {
        bool ok = false;
        const QDateTime dt = toDateTime(value, ok);
        if (!ok)
            badValue(value, type, fieldName);
        return dt;
    }
    case TFieldType::ftTime:
    case TFieldType::ftBlob:
    case TFieldType::ftUnknown:
        break;
    }
    return value;
}

} // namespace

QVariant ConvertValue(const QVariant &value, TFieldType type, int size, const QString &fieldName)
{
    if (IsNullValue(value))
        return {};
    // A value already of the field's own type passes as it is (a copy of rows between datasets
    // converts every value on the way).
    switch (value.typeId()) {
    case QMetaType::QString:
        if (type == TFieldType::ftMemo ||
            (type == TFieldType::ftString &&
             (size <= 0 || static_cast<const QString *>(value.constData())->size() <= size)))
            return value;
        break;
    case QMetaType::Int: {
        const int n = *static_cast<const int *>(value.constData());
        if (type == TFieldType::ftInteger ||
            (type == TFieldType::ftSmallint && n >= -32768 && n <= 32767))
            return value;
        if (type == TFieldType::ftLargeint)
            return QVariant(static_cast<qlonglong>(n));
        break;
    }
    case QMetaType::LongLong: {
        // A whole number read from a database into a narrower column.
        const qlonglong n = *static_cast<const qlonglong *>(value.constData());
        if (type == TFieldType::ftLargeint)
            return value;
        if ((type == TFieldType::ftInteger && n >= std::numeric_limits<int>::min() &&
             n <= std::numeric_limits<int>::max()) ||
            (type == TFieldType::ftSmallint && n >= -32768 && n <= 32767))
            return QVariant(static_cast<int>(n));
        break;
    }
    case QMetaType::Double:
        if (type == TFieldType::ftFloat)
            return value;
        break;
    case QMetaType::Bool:
        if (type == TFieldType::ftBoolean)
            return value;
        break;
    default:
        break;
    }
    return convertedValue(value, type, size, fieldName);
}

} // namespace engine
