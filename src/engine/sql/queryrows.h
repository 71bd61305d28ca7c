#pragma once

// The rows of a query's statement as a backend reads them (TSqlDriver::OpenQuery), for the query
// cursor (querycursor.cpp), which filters them, counts them and searches them the same way on
// every backend.

#include "engine/cursor.h"

namespace engine {

class TQueryRows
{
public:
    virtual ~TQueryRows() = default;
    // Runs the statement (again): reading starts at its first row. Columns() describes the
    // result afterwards.
    virtual void Execute() = 0;
    // Back before the first row, running the statement again only where it must.
    virtual void Rewind() = 0;
    // The next row of the result; false at its end.
    virtual bool Next(TRow &row) = 0;
    // The rows of the result when they are known without reading or counting them; -1 otherwise.
    virtual int KnownCount() const = 0;
    virtual void Close() = 0;
    virtual const QList<TColumn> &Columns() const = 0;
};

} // namespace engine
