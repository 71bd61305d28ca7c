#pragma once

// Values as a Paradox table keeps them, and its columns as the dataset layer sees them.

#include "engine/fieldtypes.h"
#include "engine/paradox/paradoxtable.h"

namespace engine {

// The column of a field (key: one of the table's key fields, which must have a value). Memo and
// binary fields other than bytes read, but cannot be written.
TColumn ColumnOf(const paradox::Field &field, bool key);

// A value as the table keeps it (the reader's representation), checked against its field: text
// is cut to the field's size and must be cp1251 without a nul; numbers, logicals, dates and
// times are converted. Throws EDBEngineError "Таблица ..., поле ...: ..." naming the table's
// file when the value does not fit.
QVariant ToStored(const QString &table, const paradox::Field &field, const QVariant &value);

} // namespace engine
