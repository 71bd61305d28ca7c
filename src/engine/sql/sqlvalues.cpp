#include "engine/sql/sqlvalues.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/sql/sqldriver.h"
#include "engine/statement.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <limits>

namespace engine {

QVariant NormalizedValue(const QVariant &v, const TColumn &c)
{
    if (IsNullValue(v))
        return {};
    if (c.DataType == TFieldType::ftUnknown || c.DataType == TFieldType::ftBlob ||
        c.DataType == TFieldType::ftTime)
        return v;
    try {
        return ConvertValue(v, c.DataType, 0, c.Name);
    } catch (const Exception &) {
        return v;
    }
}

QVariant ColumnValue(const TStatement &query, int i, const TColumn &c)
{
    switch (query.nativeType(i)) {
    case TStatement::TNative::Null:
        return {};
    case TStatement::TNative::Integer: {
        const qint64 n = query.nativeInteger(i);
        switch (c.DataType) {
        case TFieldType::ftInteger:
            if (n >= std::numeric_limits<int>::min() && n <= std::numeric_limits<int>::max())
                return QVariant(int(n));
            break;
        case TFieldType::ftSmallint:
            if (n >= -32768 && n <= 32767)
                return QVariant(int(n));
            break;
        case TFieldType::ftLargeint:
            return QVariant(qlonglong(n));
        case TFieldType::ftBoolean:
            return QVariant(n != 0);
        default:
            break;
        }
        break;
    }
    case TStatement::TNative::Float:
        if (c.DataType == TFieldType::ftFloat)
            return QVariant(query.nativeFloat(i));
        break;
    default:
        break;
    }
    return NormalizedValue(query.value(i), c);
}

QVariant ColumnValue(const QSqlQuery &query, int i, const TColumn &c)
{
    return NormalizedValue(query.value(i), c);
}

bool ValueForColumn(const QVariant &v, const TColumn &c, QVariant &out)
{
    try {
        if (IsTextType(c.DataType))
            out = ConvertValue(v, c.DataType, 0, c.Name);
        else if (c.DataType == TFieldType::ftUnknown)
            out = v;
        else
            out = ConvertValue(v, c.DataType, c.Size, c.Name);
        return true;
    } catch (const Exception &) {
        return false;
    }
}

TFieldType FieldTypeOfMeta(int typeId)
{
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
        return TFieldType::ftInteger;
    case QMetaType::Short:
    case QMetaType::UShort:
        return TFieldType::ftSmallint;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return TFieldType::ftLargeint;
    case QMetaType::Double:
    case QMetaType::Float:
        return TFieldType::ftFloat;
    case QMetaType::Bool:
        return TFieldType::ftBoolean;
    case QMetaType::QDate:
        return TFieldType::ftDate;
    case QMetaType::QDateTime:
        return TFieldType::ftDateTime;
    case QMetaType::QTime:
        return TFieldType::ftTime;
    case QMetaType::QByteArray:
        return TFieldType::ftBlob;
    case QMetaType::QString:
        return TFieldType::ftString;
    default:
        return TFieldType::ftUnknown;
    }
}

TColumn ColumnFromDeclaredType(const QString &name, const QString &declaredType)
{
    TColumn c;
    c.Name = name;
    const QString t = declaredType.trimmed().toUpper();
    static const QRegularExpression sizeRe(QStringLiteral("\\(\\s*(\\d+)"));
    int size = 0;
    const auto m = sizeRe.match(t);
    if (m.hasMatch())
        size = m.captured(1).toInt();
    if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("TEXT")) ||
        t.contains(QLatin1String("CLOB")) || t.contains(QLatin1String("STRING"))) {
        c.DataType = TFieldType::ftString;
        c.Size = size;
    } else if (t.startsWith(QLatin1String("BOOL"))) {
        c.DataType = TFieldType::ftBoolean;
    } else if (t.startsWith(QLatin1String("TIMESTAMP")) ||
               t.startsWith(QLatin1String("DATETIME"))) {
        c.DataType = TFieldType::ftDateTime;
    } else if (t == QLatin1String("DATE")) {
        c.DataType = TFieldType::ftDate;
    } else if (t.startsWith(QLatin1String("TIME"))) {
        c.DataType = TFieldType::ftTime;
    } else if (t.contains(QLatin1String("SMALLINT")) || t == QLatin1String("INT2")) {
        c.DataType = TFieldType::ftSmallint;
    } else if (t.contains(QLatin1String("BIGINT")) || t == QLatin1String("INT8")) {
        c.DataType = TFieldType::ftLargeint;
    } else if (t.contains(QLatin1String("INT"))) {
        c.DataType = TFieldType::ftInteger;
    } else if (t.startsWith(QLatin1String("NUMERIC")) || t.startsWith(QLatin1String("DECIMAL")) ||
               t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("DOUBLE")) ||
               t.contains(QLatin1String("FLOAT")) || t == QLatin1String("NUMBER") ||
               t.startsWith(QLatin1String("NUMBER("))) {
        c.DataType = TFieldType::ftFloat;
    } else if (t.contains(QLatin1String("BLOB")) || t == QLatin1String("BYTEA")) {
        c.DataType = TFieldType::ftBlob;
    }
    return c;
}

QList<TColumn> ColumnsOfRecord(const QSqlRecord &record)
{
    QList<TColumn> columns;
    for (int i = 0; i < record.count(); ++i) {
        const QSqlField f = record.field(i);
        TColumn c;
        c.Name = f.name();
        c.DataType = FieldTypeOfMeta(f.metaType().id());
        if (c.DataType == TFieldType::ftString && f.length() > 0)
            c.Size = f.length();
        columns << c;
    }
    return columns;
}

QString QuotedName(const QSqlDatabase &db, const QString &name)
{
    return db.driver()->escapeIdentifier(name, QSqlDriver::FieldName);
}

void ThrowSqlError(const QSqlQuery &query, const QString &sql)
{
    throw EDBEngineError(engineMessage(query.lastError(), query.driver()), sql);
}

void PrepareSql(QSqlQuery &query, const QString &sql)
{
    if (!query.prepare(sql))
        ThrowSqlError(query, sql);
}

void RunSql(QSqlQuery &query, const TBoundValues &params)
{
    for (int i = 0; i < params.size(); ++i)
        query.bindValue(i, BindableValue(params.at(i), query.driver()));
    if (!query.exec())
        ThrowSqlError(query, query.lastQuery());
}

// ------------------------------------------------------------------------------------------
// Values as they go to a statement

TBoundKind BoundKind(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return TBoundKind::Null;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return TBoundKind::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return TBoundKind::Float;
    case QMetaType::Bool:
        return TBoundKind::Boolean;
    case QMetaType::QByteArray:
        return TBoundKind::Bytes;
    default:
        return TBoundKind::Text;
    }
}

QString BoundText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODateWithMs);
    case QMetaType::QDate:
        return value.toDate().toString(Qt::ISODate);
    case QMetaType::QTime:
        return value.toTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    default:
        return value.toString();
    }
}

int TimestampText(const QDateTime &dt, char (&text)[24])
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    int year = 0, month = 0, day = 0;
    d.getDate(&year, &month, &day); // one conversion of the day number, not three
    if (year < 1 || year > 9999 || !t.isValid())
        return 0;
    // Each part in its digits, then the character that follows it.
    const int parts[] = {year, month, day, t.hour(), t.minute(), t.second(), t.msec()};
    const int digits[] = {4, 2, 2, 2, 2, 2, 3};
    const char after[] = "--T::.";
    int at = 0;
    for (int p = 0; p < 7; ++p) {
        int value = parts[p];
        for (int i = at + digits[p] - 1; i >= at; --i, value /= 10)
            text[i] = char('0' + value % 10);
        at += digits[p];
        text[at++] = after[p];
    }
    return 23;
}

} // namespace engine

QVariant BindableValue(const QVariant &value, const QSqlDriver *driver)
{
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() != QMetaType::QDateTime || !driver)
        return value;
    // Each backend has its rule for the wall-clock times the columns hold.
    const engine::TSqlDriver *backend = engine::SqlDriverOf(driver);
    return backend ? backend->BindableDateTime(value.toDateTime()) : value;
}
