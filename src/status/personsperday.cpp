#include "status/personsperday.h"

#include "core/inifile.h"
#include "core/strconst.h"
#include "engine/query.h"
#include "status/journalvalues.h"

#include <QStringList>

namespace {

QString personsSql(const QList<int> &wstGIDs)
{
    QStringList ids;
    for (int wst : wstGIDs)
        ids << QString::number(wst);
    // Whole numbers only: the list goes into the text as it is.
    return QStringLiteral("SELECT J.WSTGID, J.STARTTIME, T.NEWROWS + T.EDITEDROWS\n"
                          "FROM IMPORTJOURNAL J JOIN IMPORTJOURNALTABLE T ON T.RUNGID = J.RUNGID\n"
                          "WHERE J.WSTGID IN (") +
           ids.join(QLatin1Char(',')) +
           QStringLiteral(") AND J.STARTTIME >= :SINCE AND J.STARTTIME < :UNTIL\n"
                          "  AND J.RESULT = :OK AND T.TABLENAME = :STEP");
}

} // namespace

int ChartDaysSetting(const TIniFile &ini)
{
    const int days =
        ini.ReadInteger(StrConst::SettingsSection, QStringLiteral("ChartDays"), DefaultChartDays);
    return days > 0 && days <= 3660 ? days : DefaultChartDays;
}

QMap<int, QList<qint64>> ImportedPersonsPerDay(TDatabase &center, const QList<int> &wstGIDs,
                                               const QDate &last, int days)
{
    QMap<int, QList<qint64>> perDay;
    for (int wst : wstGIDs)
        perDay.insert(wst, QList<qint64>(days, 0));
    if (wstGIDs.isEmpty() || days <= 0)
        return perDay;
    const QDate first = last.addDays(1 - days);
    TQuery q(&center);
    q.SetSQL(personsSql(wstGIDs));
    q.ParamByName(QStringLiteral("SINCE")).SetAsDateTime(first.startOfDay());
    q.ParamByName(QStringLiteral("UNTIL")).SetAsDateTime(last.addDays(1).startOfDay());
    q.ParamByName(QStringLiteral("OK")).SetAsString(JournalSucceeded);
    q.ParamByName(QStringLiteral("STEP")).SetAsString(PersonStep);
    q.Open();
    for (q.First(); !q.Eof(); q.Next()) {
        const qint64 day = first.daysTo(JournalTime(q.Fields(1)->AsVariant()).date());
        auto counts = perDay.find(q.Fields(0)->AsInteger());
        if (counts != perDay.end() && day >= 0 && day < days)
            (*counts)[day] += q.Fields(2)->AsLargeInt();
    }
    return perDay;
}
