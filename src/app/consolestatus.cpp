#include "app/consolestatus.h"

#include "app/console.h"
#include "core/appinfo.h"
#include "status/runningimport.h"
#include "status/statetable.h"
#include "status/workstationstate.h"

#include <QCommandLineParser>
#include <QTextStream>
#include <algorithm>

void TSiteOptions::AddTo(QCommandLineParser &parser) const
{
    parser.addOptions({Site, Version, Status, SilentDays, Csv});
}

QString VersionText()
{
    return QStringLiteral("zoru-admin ") + QStringLiteral(ZORU_VERSION);
}

namespace {

// Where --site is among the arguments: its index and whether the value is attached; -1 when
// it is not there.
std::pair<qsizetype, bool> siteAt(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--site") || a == QLatin1String("-site"))
            return {i, false};
        if (a.startsWith(QLatin1String("--site=")) || a.startsWith(QLatin1String("-site=")))
            return {i, true};
    }
    return {-1, false};
}

} // namespace

QStringList WithoutSiteOption(const QStringList &arguments)
{
    QStringList out = arguments;
    const auto [at, attached] = siteAt(out);
    if (at >= 0)
        out.remove(at, attached || at + 1 >= out.size() ? 1 : 2);
    return out;
}

QString SiteOptionValue(const QStringList &arguments)
{
    const auto [at, attached] = siteAt(arguments);
    if (at < 0)
        return {};
    if (attached)
        return arguments[at].section(QLatin1Char('='), 1);
    return at + 1 < arguments.size() ? arguments[at + 1] : QStringLiteral("");
}

int RunConsoleStatus(const TAppInfo &info, TDatabase &center, int silentDays, bool csv)
{
    const int limit = silentDays >= 0 ? silentDays : SilentDaysSetting(info);
    const QList<TWorkstationState> states =
        ReadWorkstationStates(center, QDateTime::currentDateTime(), limit);
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
