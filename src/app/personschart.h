#pragma once

#include <QDate>
#include <QList>
#include <QMap>
#include <QString>

class QChart;

// The chart of the state of workstations: persons imported per day, stacked bars, one bar set
// per workstation; more than MaxChartSets workstations are summed into one set.
inline constexpr int MaxChartSets = 10;

struct TChartStation
{
    int WstGID = 0;
    QString Name; // shown in the legend
};

// Replaces what chart shows by the counts of the stations (perDay as ImportedPersonsPerDay gives
// it, its lists ending on `last`). No station: an empty chart that asks for a selection.
void ShowPersonsChart(QChart &chart, const QList<TChartStation> &stations,
                      const QMap<int, QList<qint64>> &perDay, const QDate &last);
