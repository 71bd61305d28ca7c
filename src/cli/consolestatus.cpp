#include "cli/consolestatus.h"

#include "cli/terminal.h"
#include "core/appinfo.h"
#include "core/clock.h"
#include "status/runningimport.h"
#include "status/statetable.h"
#include "status/workstationstate.h"

#include <QTextStream>
#include <algorithm>

int RunConsoleStatus(const TAppInfo &info, TDatabase &center, int silentDays, bool csv)
{
    const int limit = silentDays >= 0 ? silentDays : SilentDaysSetting(info);
    const QList<TWorkstationState> states = ReadWorkstationStates(center, TClock::Now(), limit);
    // An import running now heads the table (beside a machine's CSV, on the error stream).
    if (const QString running = RunningImportLine(center); !running.isEmpty())
        (csv ? ConsoleErr() : ConsoleOut()) << running << '\n';
    for (const QString &line : csv ? StateTableCsv(states) : StateTableText(states, limit))
        ConsoleOut() << line << '\n';
    ConsoleOut().flush();
    const bool silent = std::any_of(states.begin(), states.end(),
                                    [](const TWorkstationState &s) { return s.Silent; });
    return silent ? ExitSilent : 0;
}
