#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

class TDatabase;
class TIniFile;

// The state of every workstation as the import and export journals tell it: when it last got a
// package from the centre, when it last sent one and how that went, how many persons it sent
// lately, and whether it has gone quiet.

// Persons are counted over this many days back from now.
inline constexpr int PersonDays = 30;
// A workstation without a successful import for longer than this many days is silent, unless
// the configuration keeps another limit.
inline constexpr int DefaultSilentDays = 14;

struct TWorkstationState
{
    int WstGID = 0;
    QString WstName;
    QString Owner;   // its hospital's short name, or its brigade's name
    QVariant RegGID; // of the hospital, or of the brigade's settlement; Null when none
    QString Region;
    QDateTime LastExport; // start of the latest export to it; invalid when none
    QString LastExportResult;
    QDateTime LastImport; // start of the latest import of its packages; invalid when none
    QString LastImportLabel;
    QString LastImportResult;
    QDateTime LastSuccess; // end of the latest successful import; invalid when none
    qint64 Persons = 0;    // persons written (new and changed) by its imports of PersonDays days
    int DaysSinceSuccess = -1; // calendar days from LastSuccess to now; -1 when there was none
    bool Silent = false;
};

// The limit of silence kept in the configuration ("Settings", "SilentDays"): a positive number
// of days, DefaultSilentDays when absent or wrong.
int SilentDaysSetting(const TIniFile &ini);
void SetSilentDaysSetting(TIniFile &ini, int days);

// Whether a workstation is silent at `now` for a limit of silentDays days: its latest
// successful import ended more than silentDays calendar days ago; one that never sent a package
// counts from its latest export (a workstation that has just been given its package is not
// silent yet), and one never exported to either is silent.
bool IsSilent(const TWorkstationState &state, const QDateTime &now, int silentDays);

// One row per workstation of the central database, in WSTGID order, at the moment `now`. The
// journal tables are made first in a database that lacks them. Throws EDBEngineError.
QList<TWorkstationState> ReadWorkstationStates(TDatabase &center, const QDateTime &now,
                                               int silentDays);
