#pragma once

// CREATE TABLE of the package-script dialect, which makes a Paradox table:
//   CREATE TABLE name ( column type [NOT NULL] [PRIMARY KEY], ... [, PRIMARY KEY (c1, c2 ...)] )
// with the types INTEGER/INT, SMALLINT, FLOAT/DOUBLE [PRECISION]/REAL/NUMERIC/DECIMAL, MONEY,
// BOOLEAN, DATE, TIME, TIMESTAMP, AUTOINC, CHAR(n)/VARCHAR(n)/CHARACTER(n) (1..255). The key
// columns must be the leading columns in key order, as Paradox keeps them.

#include "engine/paradox/paradoxtable.h"

#include <QString>
#include <optional>

namespace engine {

struct TCreateTable
{
    QString TableName; // as written, without a ".db" extension
    paradox::Schema Schema;
};

// Null when the statement is not a CREATE TABLE; throws EDBEngineError for a CREATE TABLE that
// does not parse.
std::optional<TCreateTable> ParseCreateTable(const QString &sql);

} // namespace engine
