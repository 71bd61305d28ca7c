#include "engine/folder/storedvalues.h"

#include "core/cp1251.h"
#include "core/errors.h"

#include <QFileInfo>
#include <cmath>

namespace engine {

namespace {

[[noreturn]] void refuse(const QString &table, const QString &field, const QString &what)
{
    throw EDBEngineError(
        QStringLiteral("Таблица %1, поле %2: %3").arg(QFileInfo(table).fileName(), field, what));
}

} // namespace

TColumn ColumnOf(const paradox::Field &f, bool key)
{
    TColumn c;
    c.Name = f.name;
    c.Required = key;
    switch (f.type) {
    case paradox::FieldType::Alpha:
        c.DataType = TFieldType::ftString;
        c.Size = f.size;
        break;
    case paradox::FieldType::Date:
        c.DataType = TFieldType::ftDate;
        break;
    case paradox::FieldType::Short:
        c.DataType = TFieldType::ftSmallint;
        break;
    case paradox::FieldType::Long:
    case paradox::FieldType::AutoInc:
        c.DataType = TFieldType::ftInteger;
        break;
    case paradox::FieldType::Number:
    case paradox::FieldType::Money:
    case paradox::FieldType::Bcd:
        c.DataType = TFieldType::ftFloat;
        break;
    case paradox::FieldType::Logical:
        c.DataType = TFieldType::ftBoolean;
        break;
    case paradox::FieldType::Timestamp:
        c.DataType = TFieldType::ftDateTime;
        break;
    case paradox::FieldType::Time:
        c.DataType = TFieldType::ftTime;
        break;
    case paradox::FieldType::Memo:
    case paradox::FieldType::FormattedMemo:
        c.DataType = TFieldType::ftMemo;
        c.ReadOnly = true;
        break;
    default:
        c.DataType = TFieldType::ftBlob;
        c.ReadOnly = f.type != paradox::FieldType::Bytes;
        break;
    }
    return c;
}

// A value as the table keeps it (the reader's representation), checked against the column.
QVariant ToStored(const QString &table, const paradox::Field &f, const QVariant &v)
{
    if (IsNullValue(v))
        return {};
    switch (f.type) {
    case paradox::FieldType::Alpha: {
        QString s = v.typeId() == QMetaType::QDateTime ? v.toDateTime().toString(Qt::ISODate)
                                                       : v.toString();
        if (s.size() > f.size)
            s.truncate(f.size);
        if (!cp1251::canEncode(s))
            refuse(table, f.name, QStringLiteral("текст содержит знаки вне кодировки 1251"));
        if (s.contains(QChar(u'\0')))
            refuse(table, f.name, QStringLiteral("текст содержит нулевой символ"));
        return s;
    }
    case paradox::FieldType::Short:
    case paradox::FieldType::Long:
    case paradox::FieldType::AutoInc: {
        bool ok = false;
        double d = v.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            refuse(table, f.name, QStringLiteral("значение не является целым числом"));
        d = std::round(d);
        const double limit = f.type == paradox::FieldType::Short ? 32767.0 : 2147483647.0;
        if (d > limit || d < -limit)
            refuse(table, f.name, QStringLiteral("значение вне допустимого диапазона"));
        return static_cast<int>(d);
    }
    case paradox::FieldType::Number:
    case paradox::FieldType::Money:
    case paradox::FieldType::Bcd: {
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            refuse(table, f.name, QStringLiteral("значение не является числом"));
        return d;
    }
    case paradox::FieldType::Logical:
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString().trimmed().toUpper();
            return !(s.isEmpty() || s == QLatin1String("0") || s == QLatin1String("FALSE") ||
                     s == QLatin1String("F"));
        }
        return v.toBool();
    case paradox::FieldType::Date:
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime().date();
        if (v.typeId() == QMetaType::QDate)
            return v.toDate();
        if (const QDate d = QDate::fromString(v.toString(), Qt::ISODate); d.isValid())
            return d;
        if (const QDateTime dt = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
            dt.isValid())
            return dt.date();
        refuse(table, f.name, QStringLiteral("значение не является датой"));
    case paradox::FieldType::Timestamp:
        if (v.typeId() == QMetaType::QDate)
            return v.toDate().startOfDay();
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime();
        if (const QDateTime dt = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
            dt.isValid())
            return dt;
        if (const QDate d = QDate::fromString(v.toString(), Qt::ISODate); d.isValid())
            return d.startOfDay();
        refuse(table, f.name, QStringLiteral("значение не является датой и временем"));
    case paradox::FieldType::Time:
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime().time();
        if (const QTime t = v.toTime(); t.isValid())
            return t;
        refuse(table, f.name, QStringLiteral("значение не является временем"));
    case paradox::FieldType::Bytes:
        return v.toByteArray();
    default:
        refuse(table, f.name,
               QStringLiteral("поле типа %1 не записывается").arg(paradox::typeName(f.type)));
    }
}

} // namespace engine
