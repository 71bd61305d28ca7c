#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// Column kinds as the datasets report them. SQL types are mapped onto these when a table or
// query is opened; Paradox column types map onto them one to one.
enum class TFieldType
{
    ftUnknown,
    ftString,   // text of at most Size characters (Size 0: unbounded)
    ftSmallint, // 16-bit integer
    ftInteger,  // 32-bit integer
    ftLargeint, // 64-bit integer
    ftFloat,    // double; also SQL numeric/decimal, which the system reads as floating point
    ftBoolean,
    ftDate,     // a date (read as a date-time at midnight)
    ftDateTime, // a date with a time of day
    ftTime,
    ftMemo, // unbounded text
    ftBlob,
};

// One column of a dataset as the backend describes it.
struct TColumn
{
    QString Name;
    TFieldType DataType = TFieldType::ftUnknown;
    int Size = 0; // characters for ftString, 0 otherwise
    bool Required = false;
    bool ReadOnly = false;
};

namespace engine {

bool IsTextType(TFieldType type);
bool IsIntegerType(TFieldType type);
// The position of the column of that name, compared without case; -1 when there is none.
int ColumnIndex(const QList<TColumn> &columns, const QString &name);
bool IsNumericType(TFieldType type);

// Converts a value for storage in a column of the given type: Null stays Null (an invalid
// QVariant); text is cut to size; numbers become the column's kind (whole-number columns take
// the rounded value); text given for a number or a date is parsed. Throws EDatabaseError with
// "Значение ... не является ..." when the value cannot be converted.
QVariant ConvertValue(const QVariant &value, TFieldType type, int size, const QString &fieldName);

// Null in the engine's sense: an invalid QVariant or a QVariant holding a null value. Asked
// for every value that moves, so answered from the variant's own flags where they suffice
// (QVariant::isNull is a call, and one more to its type); a pointer type asks Qt.
inline bool IsNullValue(const QVariant &v)
{
    const QVariant::DataPtr &d = v.data_ptr();
    const QtPrivate::QMetaTypeInterface *type = d.typeInterface();
    if (d.is_null || !type)
        return true;
    return (type->flags & QMetaType::IsPointer) && v.isNull();
}

// Name of a field type, for messages.
QString FieldTypeName(TFieldType type);

} // namespace engine
