// Records as the Paradox writer encodes them: the layout of a schema, and each value checked
// against its field and encoded in the file's representation.

#include "core/cp1251.h"
#include "core/errors.h"
#include "engine/paradox/writing.h"

#include <QDateTime>
#include <QTime>
#include <cmath>

namespace paradox::writing {

using namespace format;

Layout checkSchema(const QString &path, const Schema &schema)
{
    const int n = static_cast<int>(schema.fields.size());
    if (n < 1 || n > kMaxFields)
        failSchema(path,
                   QStringLiteral("число полей %1 вне пределов 1..%2").arg(n).arg(kMaxFields));
    if (schema.keyFieldCount < 0 || schema.keyFieldCount > std::min(kMaxKeyFields, n)) {
        failSchema(
            path, QStringLiteral("недопустимое число ключевых полей %1").arg(schema.keyFieldCount));
    }
    Layout layout;
    for (int i = 0; i < n; ++i) {
        const Field &f = schema.fields[static_cast<size_t>(i)];
        if (f.name.isEmpty() || f.name.size() > kMaxFieldNameLength)
            failSchema(path, QStringLiteral("имя поля \"%1\" пусто или длиннее %2 символов")
                                 .arg(f.name)
                                 .arg(kMaxFieldNameLength));
        const auto encoded = cp1251::encodeStrict(f.name);
        if (!encoded || encoded->contains('\0'))
            failSchema(path,
                       QStringLiteral("имя поля \"%1\" нельзя записать в кодовой странице 1251")
                           .arg(f.name));
        for (int j = 0; j < i; ++j) {
            if (schema.fields[static_cast<size_t>(j)].name.compare(f.name, Qt::CaseInsensitive) ==
                0)
                failSchema(path, QStringLiteral("поле %1 описано дважды").arg(f.name));
        }
        if (!f.isWritable())
            failSchema(path, QStringLiteral("поле %1: тип %2 не поддерживается для записи")
                                 .arg(f.name, typeName(f.type)));
        const auto stored = storedSizeOf(static_cast<int>(f.type), f.size);
        if (!stored)
            failSchema(path, QStringLiteral("поле %1 типа %2: недопустимый размер %3")
                                 .arg(f.name, typeName(f.type))
                                 .arg(f.size));
        layout.offsets.push_back(layout.recordSize);
        layout.recordSize += *stored;
        if (i < schema.keyFieldCount)
            layout.keySize += *stored;
    }
    if (layout.recordSize > 32 * 1024 - kBlockHeader)
        failSchema(path, QStringLiteral("запись длиннее %1 байт").arg(32 * 1024 - kBlockHeader));
    if (schema.keyFieldCount > 0 && (32 * 1024 - kBlockHeader) / (layout.keySize + 6) - 1 < 2)
        failSchema(path, QStringLiteral("ключ длиннее допустимого"));
    return layout;
}

bool isNull(const QVariant &v)
{
    return !v.isValid() || v.isNull();
}

namespace {

[[noreturn]] void failValue(const Field &f, const QString &problem)
{
    throw EDBEngineError(QStringLiteral("Поле %1: %2").arg(f.name, problem));
}

qint64 toInteger(const Field &f, const QVariant &v, qint64 min, qint64 max)
{
    bool ok = false;
    qint64 value = 0;
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        value = v.toBool() ? 1 : 0;
        ok = true;
        break;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18) {
            value = static_cast<qint64>(d);
            ok = true;
        }
        break;
    }
    case QMetaType::ULongLong:
    case QMetaType::ULong: {
        const qulonglong u = v.toULongLong(&ok);
        ok = ok && u <= static_cast<qulonglong>(std::numeric_limits<qint64>::max());
        value = static_cast<qint64>(u);
        break;
    }
    case QMetaType::QString:
        value = v.toString().trimmed().toLongLong(&ok);
        break;
    default:
        if (v.canConvert<qlonglong>())
            value = v.toLongLong(&ok);
        break;
    }
    if (!ok)
        failValue(f, QStringLiteral("значение \"%1\" не является целым числом").arg(v.toString()));
    if (value < min || value > max) {
        failValue(f, QStringLiteral("значение %1 вне допустимого диапазона %2..%3")
                         .arg(value)
                         .arg(min)
                         .arg(max));
    }
    return value;
}

double toDouble(const Field &f, const QVariant &v)
{
    bool ok = false;
    double d = 0;
    if (v.metaType().id() == QMetaType::QString)
        d = v.toString().trimmed().toDouble(&ok);
    else if (v.metaType().id() == QMetaType::Bool)
        d = v.toBool() ? 1 : 0, ok = true;
    else if (v.canConvert<double>())
        d = v.toDouble(&ok);
    if (!ok)
        failValue(f, QStringLiteral("значение \"%1\" не является числом").arg(v.toString()));
    if (!std::isfinite(d))
        failValue(f, QStringLiteral("значение не является конечным числом"));
    return d;
}

bool toBool(const Field &f, const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::QString: {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("true"))
            return true;
        if (s == QLatin1String("false"))
            return false;
        bool ok = false;
        const double d = s.toDouble(&ok);
        if (ok)
            return d != 0;
        break;
    }
    default:
        if (v.canConvert<double>()) {
            bool ok = false;
            const double d = v.toDouble(&ok);
            if (ok)
                return d != 0;
        }
        break;
    }
    failValue(f, QStringLiteral("значение \"%1\" не является логическим").arg(v.toString()));
}

// ISO text as SQL engines give it: "2005-06-01", "2005-06-01T09:30:00", "2005-06-01 09:30:00.250".
QDateTime dateTimeFromText(const QString &text)
{
    QString t = text.trimmed();
    if (t.size() > 10 && t.at(10) == QLatin1Char(' '))
        t[10] = QLatin1Char('T');
    QDateTime dt = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!dt.isValid() && t.size() == 10) {
        const QDate d = QDate::fromString(t, Qt::ISODate);
        if (d.isValid())
            dt = QDateTime(d, QTime(0, 0));
    }
    return dt;
}

QDate toDate(const Field &f, const QVariant &v)
{
    QDate date;
    switch (v.metaType().id()) {
    case QMetaType::QDate:
        date = v.toDate();
        break;
    case QMetaType::QDateTime:
        date = v.toDateTime().date();
        break;
    case QMetaType::QString:
        date = QDate::fromString(v.toString().trimmed(), Qt::ISODate);
        if (!date.isValid())
            date = dateTimeFromText(v.toString()).date();
        break;
    default:
        break;
    }
    if (!date.isValid())
        failValue(f, QStringLiteral("значение \"%1\" не является датой").arg(v.toString()));
    if (date.year() < 1 || date.year() > 9999)
        failValue(f, QStringLiteral("дата %1 вне пределов 0001..9999 годов")
                         .arg(date.toString(Qt::ISODate)));
    return date;
}

qint64 dayNumber(const QDate &date)
{
    return date.toJulianDay() - kJulianDayOfDay1 + 1;
}

QDateTime toDateTime(const Field &f, const QVariant &v)
{
    QDateTime dt;
    switch (v.metaType().id()) {
    case QMetaType::QDateTime:
        dt = v.toDateTime();
        break;
    case QMetaType::QDate:
        dt = QDateTime(v.toDate(), QTime(0, 0));
        break;
    case QMetaType::QString:
        dt = dateTimeFromText(v.toString());
        break;
    default:
        break;
    }
    if (!dt.date().isValid() || !dt.time().isValid())
        failValue(f,
                  QStringLiteral("значение \"%1\" не является датой и временем").arg(v.toString()));
    if (dt.date().year() < 1 || dt.date().year() > 9999)
        failValue(f, QStringLiteral("дата %1 вне пределов 0001..9999 годов")
                         .arg(dt.date().toString(Qt::ISODate)));
    return dt;
}

QTime toTime(const Field &f, const QVariant &v)
{
    QTime t;
    switch (v.metaType().id()) {
    case QMetaType::QTime:
        t = v.toTime();
        break;
    case QMetaType::QDateTime:
        t = v.toDateTime().time();
        break;
    case QMetaType::QString:
        t = QTime::fromString(v.toString().trimmed(), Qt::ISODateWithMs);
        break;
    default:
        break;
    }
    if (!t.isValid())
        failValue(f, QStringLiteral("значение \"%1\" не является временем").arg(v.toString()));
    return t;
}

} // namespace

// Encodes v into the record at p (already zeroed: zero is Null).
void encodeValue(const Field &f, const QVariant &v, char *p, bool isKey)
{
    if (f.type == FieldType::Alpha) {
        const QString text = isNull(v) ? QString() : v.toString();
        if (text.isEmpty()) {
            if (isKey)
                failValue(f, QStringLiteral("ключевое поле не может быть пустым"));
            return;
        }
        const auto bytes = cp1251::encodeStrict(text);
        if (!bytes)
            failValue(
                f, QStringLiteral("текст содержит символы, которых нет в кодовой странице 1251"));
        if (bytes->contains('\0'))
            failValue(f, QStringLiteral("текст содержит нулевой символ"));
        if (bytes->size() > f.size)
            failValue(f, QStringLiteral("текст длиннее %1 символов").arg(f.size));
        std::memcpy(p, bytes->constData(), static_cast<size_t>(bytes->size()));
        return;
    }
    if (isNull(v)) {
        if (isKey)
            failValue(f, QStringLiteral("ключевое поле не может быть пустым"));
        return;
    }
    switch (f.type) {
    case FieldType::Short:
        encodeInteger(p, 2, toInteger(f, v, -32767, 32767));
        break;
    case FieldType::Long:
    case FieldType::AutoInc:
        encodeInteger(p, 4, toInteger(f, v, -2147483647LL, 2147483647LL));
        break;
    case FieldType::Number:
    case FieldType::Money:
        encodeDouble(p, toDouble(f, v));
        break;
    case FieldType::Logical:
        p[0] = static_cast<char>(toBool(f, v) ? 0x81 : 0x80);
        break;
    case FieldType::Date:
        encodeInteger(p, 4, dayNumber(toDate(f, v)));
        break;
    case FieldType::Time:
        encodeInteger(p, 4, toTime(f, v).msecsSinceStartOfDay());
        break;
    case FieldType::Timestamp: {
        const QDateTime dt = toDateTime(f, v);
        const double ms = static_cast<double>(dayNumber(dt.date()) * kMsPerDay +
                                              dt.time().msecsSinceStartOfDay());
        encodeDouble(p, ms);
        break;
    }
    case FieldType::Bytes: {
        const QByteArray bytes = v.toByteArray();
        if (bytes.size() > f.size)
            failValue(f, QStringLiteral("значение длиннее %1 байт").arg(f.size));
        std::memcpy(p, bytes.constData(), static_cast<size_t>(bytes.size()));
        break;
    }
    default:
        failValue(f, QStringLiteral("тип %1 не поддерживается для записи").arg(typeName(f.type)));
    }
}

} // namespace paradox::writing
