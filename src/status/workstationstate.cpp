#include "status/workstationstate.h"

#include "core/inifile.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/query.h"
#include "schema/schema.h"
#include "status/journalvalues.h"

namespace {

const QString kSilentDaysKey = QStringLiteral("SilentDays");

// Everything of a workstation is found through the journals' indexes by workstation (one
// look-up per workstation and journal, the persons over the runs of PersonDays days), so the
// answer grows with the workstations, not with the journals.
const QString kStates = QStringLiteral(
    "SELECT S.WSTGID, S.WSTNAME, S.MU, S.BRGNAME, S.HSPGID, S.REGGID, R.REGNAME,\n"
    "       X.STARTTIME AS EXPORTTIME, X.RESULT AS EXPORTRESULT,\n"
    "       L.STARTTIME AS IMPORTTIME, L.PKGLABEL, L.RESULT AS IMPORTRESULT, S.LASTOK, S.PERSONS\n"
    "FROM (SELECT W.WSTGID, W.WSTNAME, W.HSPGID, H.MU, B.BRGNAME,\n"
    "             COALESCE(H.REGGID, C.REGGID) AS REGGID,\n"
    "             (SELECT J.RUNGID FROM IMPORTJOURNAL J WHERE J.WSTGID = W.WSTGID\n"
    "              ORDER BY J.STARTTIME DESC, J.RUNGID DESC LIMIT 1) AS LASTRUN,\n"
    "             (SELECT MAX(J.ENDTIME) FROM IMPORTJOURNAL J\n"
    "              WHERE J.WSTGID = W.WSTGID AND J.RESULT = :OK) AS LASTOK,\n"
    "             (SELECT SUM(T.NEWROWS + T.EDITEDROWS)\n"
    "              FROM IMPORTJOURNAL J JOIN IMPORTJOURNALTABLE T ON T.RUNGID = J.RUNGID\n"
    "              WHERE J.WSTGID = W.WSTGID AND J.STARTTIME >= :SINCE AND J.RESULT = :OK\n"
    "                AND T.TABLENAME = :STEP) AS PERSONS,\n"
    "             (SELECT E.RUNGID FROM EXPORTJOURNAL E WHERE E.WSTGID = W.WSTGID\n"
    "              ORDER BY E.STARTTIME DESC, E.RUNGID DESC LIMIT 1) AS LASTEXPORT\n"
    "      FROM WORKSTATION W\n"
    "      LEFT JOIN HOSPITAL H ON H.HSPGID = W.HSPGID\n"
    "      LEFT JOIN BRIGADE B ON B.BRGGID = W.BRGGID\n"
    "      LEFT JOIN CITY C ON C.CITYGID = B.CITYGID) S\n"
    "LEFT JOIN REGION R ON R.REGGID = S.REGGID\n"
    "LEFT JOIN IMPORTJOURNAL L ON L.RUNGID = S.LASTRUN\n"
    "LEFT JOIN EXPORTJOURNAL X ON X.RUNGID = S.LASTEXPORT\n"
    "ORDER BY S.WSTGID");

} // namespace

int SilentDaysSetting(const TIniFile &ini)
{
    const int days = ini.ReadInteger(StrConst::SettingsSection, kSilentDaysKey, DefaultSilentDays);
    return days > 0 ? days : DefaultSilentDays;
}

void SetSilentDaysSetting(TIniFile &ini, int days)
{
    ini.WriteInteger(StrConst::SettingsSection, kSilentDaysKey, days);
}

bool IsSilent(const TWorkstationState &state, const QDateTime &now, int silentDays)
{
    const QDateTime since = state.LastSuccess.isValid() ? state.LastSuccess : state.LastExport;
    return !since.isValid() || since.date().daysTo(now.date()) > silentDays;
}

QList<TWorkstationState> ReadWorkstationStates(TDatabase &center, const QDateTime &now,
                                               int silentDays)
{
    UpgradeSchema(center, SchemaKind::Central);
    TQuery q(&center);
    q.SetSQL(kStates);
    // Every occurrence of :OK takes the value of the first.
    q.ParamByName(QStringLiteral("OK")).SetAsString(JournalSucceeded);
    q.ParamByName(QStringLiteral("SINCE")).SetAsDateTime(now.addDays(-PersonDays));
    q.ParamByName(QStringLiteral("STEP")).SetAsString(PersonStep);
    q.Open();
    QList<TWorkstationState> states;
    const auto text = [&q](const char *name) {
        return q.FieldByName(QLatin1String(name))->AsString();
    };
    const auto time = [&q](const char *name) {
        return JournalTime(q.FieldByName(QLatin1String(name))->AsVariant());
    };
    for (q.First(); !q.Eof(); q.Next()) {
        TWorkstationState s;
        s.WstGID = q.FieldByName(QStringLiteral("WSTGID"))->AsInteger();
        s.WstName = text("WSTNAME");
        s.Owner = q.FieldByName(QStringLiteral("HSPGID"))->IsNull() ? text("BRGNAME") : text("MU");
        s.RegGID = q.FieldByName(QStringLiteral("REGGID"))->AsVariant();
        s.Region = text("REGNAME");
        s.LastExport = time("EXPORTTIME");
        s.LastExportResult = text("EXPORTRESULT");
        s.LastImport = time("IMPORTTIME");
        s.LastImportLabel = text("PKGLABEL");
        s.LastImportResult = text("IMPORTRESULT");
        s.LastSuccess = time("LASTOK");
        s.Persons = q.FieldByName(QStringLiteral("PERSONS"))->AsLargeInt();
        if (s.LastSuccess.isValid())
            s.DaysSinceSuccess = int(s.LastSuccess.date().daysTo(now.date()));
        s.Silent = IsSilent(s, now, silentDays);
        states << s;
    }
    return states;
}
