// A field of an open dataset: its value read and written through the dataset's row buffer.

#include "core/errors.h"
#include "engine/dataset.h"

using engine::IsNullValue;

TField::TField(Key, TDataSet *dataSet, TColumn column, int index, const TLookupFieldDef *lookup)
    : m_dataSet(dataSet), m_column(std::move(column)), m_index(index), m_lookup(lookup)
{
}

QVariant TField::AsVariant() const
{
    return m_dataSet->fieldValue(*this);
}

bool TField::IsNull() const
{
    return IsNullValue(AsVariant());
}

QString TField::AsString() const
{
    const QVariant v = AsVariant();
    if (IsNullValue(v))
        return {};
    switch (v.typeId()) {
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', 15);
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        return dt.time() == QTime(0, 0) ? dt.date().toString(QStringLiteral("dd.MM.yyyy"))
                                        : dt.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
    }
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    default:
        return v.toString();
    }
}

QVariant TField::convertedTo(TFieldType type) const
{
    // Null reads as the type's empty value: 0, 0.0, an invalid date-time, false.
    const QVariant v = AsVariant();
    if (IsNullValue(v))
        return {};
    return engine::ConvertValue(v, type, 0, FieldName());
}

qint64 TField::AsLargeInt() const
{
    return convertedTo(TFieldType::ftLargeint).toLongLong();
}

int TField::AsInteger() const
{
    return convertedTo(TFieldType::ftInteger).toInt();
}

double TField::AsFloat() const
{
    return convertedTo(TFieldType::ftFloat).toDouble();
}

QDateTime TField::AsDateTime() const
{
    return convertedTo(TFieldType::ftDateTime).toDateTime();
}

bool TField::AsBoolean() const
{
    return convertedTo(TFieldType::ftBoolean).toBool();
}

void TField::SetAsVariant(const QVariant &value)
{
    m_dataSet->setFieldValue(*this, value);
}
