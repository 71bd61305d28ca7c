#pragma once

// SQL scripts that repeat an operator change on the workstation's own OPERATOR table. They are
// written into the hospital folder below the export folder, where the packages for the same
// workstation go, and carried to the workstation with them.

#include "core/clock.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

class TDataSet;
class TSIEDM;

// The operator's values of one script (from the current row of the operator query).
struct TOperatorValues
{
    QVariant WstGID;
    QVariant UserGID;
    QString UserName;
    QString UserHash;
    QVariant UserLevel;
};
// Values of the current row of a dataset with the OPERATOR columns.
TOperatorValues OperatorValuesOf(const TDataSet &op);

// The statements (without header); quotes in the name and hash are doubled.
QStringList WriteInsertScript(const TOperatorValues &op);
QStringList WriteUpdateScript(const TOperatorValues &op);
QStringList WritePasswordResetScript(const TOperatorValues &op);

// Where a workstation's scripts go: the owner is its hospital's short name when it has a
// hospital, else its brigade's name (as for its packages).
struct TScriptTarget
{
    int WstGID = 0;
    QString WstName;
    QString OwnerName; // as stored; made safe for file names when used
};
// Reads the target of workstation wstGID from the central database (the export's query of the
// data module); throws Exception when the workstation is gone or has neither hospital nor
// brigade.
TScriptTarget ScriptTargetOf(TSIEDM &dm, int wstGID);

// Adds the header ("/*", "000042_20050601093000_на ЦРБ", "*/") and writes the script into the
// hospital folder below exportPath (created when missing) as "<first 12 of the workstation
// name>_<stamp>.sql", lines ended by CR LF, code page 1251. When a script of that name exists the
// stamp moves on to the next free second (header and name alike). The file is written whole or
// not at all. Returns the hospital folder. Throws Exception: "Невозможно создать папку" + CR +
// path; a text outside code page 1251; a write failure.
QString SaveScript(const QStringList &statement, const TScriptTarget &target,
                   const QString &exportPath, const QDateTime &now = TClock::Now());

// The wizard's command: SaveScript (exportPath: the configured export folder), then the information
// box "Файлы, готовые к отправке, находятся в папке: " + folder; an error goes to ShowError
// instead. Returns whether the script was written.
bool SaveScriptReporting(const QStringList &statement, const TScriptTarget &target,
                         const QString &exportPath, const QDateTime &now = TClock::Now());
