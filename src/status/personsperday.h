#pragma once

#include <QDate>
#include <QList>
#include <QMap>

class TDatabase;
class TIniFile;

// The chart of the state of workstations covers this many days, today included, unless the
// configuration keeps another span.
inline constexpr int DefaultChartDays = 60;

// The span of the chart kept in the configuration ("Settings", "ChartDays", beside
// "SilentDays"): 1 to 3660 days, DefaultChartDays when absent or wrong.
int ChartDaysSetting(const TIniFile &ini);

// Persons written (new and changed) by the successful imports of each workstation, per day on
// which the import started, over `days` days ending with `last`: for each of wstGIDs, a list of
// `days` counts, the first for last - days + 1. Throws EDBEngineError.
QMap<int, QList<qint64>> ImportedPersonsPerDay(TDatabase &center, const QList<int> &wstGIDs,
                                               const QDate &last, int days = DefaultChartDays);
