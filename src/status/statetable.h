#pragma once

#include "status/workstationstate.h"

#include <QList>
#include <QString>
#include <QStringList>

// The columns of the state of workstations, as the window and the terminal show them.
enum class TStateColumn
{
    WstGID,
    WstName,
    Owner,
    Region,
    LastExport,
    LastExportResult,
    LastImport,
    Label,
    LastImportResult,
    Persons,
    DaysSinceSuccess,
    Silent
};

struct TStateColumnInfo
{
    TStateColumn Column;
    QString Title;   // the heading shown
    QString CsvName; // the heading of the machine's table
    bool Numeric;    // aligned to the right
};

// Every column, in the order shown.
const QList<TStateColumnInfo> &StateColumns();

// A cell as shown: times as "dd.MM.yyyy HH:mm", nothing for a time or a count that is not
// there, "да" in the silent column of a silent workstation.
QString StateCellText(const TWorkstationState &state, TStateColumn column);
// A cell for sorting: numbers and times as themselves, the rest as its text.
QVariant StateCellValue(const TWorkstationState &state, TStateColumn column);

// The table for a terminal: the headings, one line per workstation with the columns aligned,
// and a closing line with the counts.
QStringList StateTableText(const QList<TWorkstationState> &states, int silentDays);
// The same for a machine: comma-separated values with quotes where needed (RFC 4180), the
// column names of StateColumns() on the first line, times in ISO 8601, the silent column 1 or
// 0.
QStringList StateTableCsv(const QList<TWorkstationState> &states);

// The closing line: how many workstations, how many are silent.
QString StateSummary(const QList<TWorkstationState> &states, int silentDays);
