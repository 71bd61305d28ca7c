#include "admin/wizarddata.h"

#include "admin/recordobjects.h"
#include "engine/database.h"
#include "engine/filter.h"

#include <QScopedValueRollback>
#include <utility>

namespace {

QStringList lines(std::initializer_list<const char *> texts)
{
    QStringList l;
    for (const char *t : texts)
        l << QString::fromUtf8(t);
    return l;
}

const QString kAnyPattern = QStringLiteral("'%'");
const QString kIsNull = QStringLiteral("IS NULL");
const QString kPatternParam = QStringLiteral("PATTERN");
// The line of itCityNotNull that names the region.
constexpr int kCityRegionLine = 3;

// Position of the first occurrence of `what` in `text` from `from` on that is not inside a
// '...' literal ('' inside a literal is a quote); -1 when none.
qsizetype findUnquoted(const QString &text, const QString &what, qsizetype from = 0)
{
    bool quoted = false;
    for (qsizetype i = from; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\'')) {
            quoted = !quoted; // a doubled quote leaves and re-enters the literal
            continue;
        }
        if (!quoted && QStringView(text).mid(i).startsWith(what))
            return i;
    }
    return -1;
}

} // namespace

// ------------------------------------------------------------------------------------------
// TSimpleFilter

TSimpleFilter::TSimpleFilter(const QString &text)
{
    if (text.isEmpty())
        return;
    static const QString kAnd = QStringLiteral(" AND ");
    qsizetype start = 0;
    for (qsizetype at = findUnquoted(text, kAnd); at >= 0; at = findUnquoted(text, kAnd, start)) {
        parseClause(text.mid(start, at - start));
        start = at + kAnd.size();
    }
    parseClause(text.mid(start));
}

void TSimpleFilter::parseClause(const QString &clause)
{
    qsizetype at = findUnquoted(clause, QStringLiteral("="));
    if (at < 0)
        at = findUnquoted(clause, QStringLiteral(" "));
    if (at < 0)
        SetCondition(QString(), clause);
    else
        SetCondition(clause.left(at), clause.mid(at));
}

void TSimpleFilter::SetCondition(const QString &name, const QString &condition)
{
    for (TPair &p : m_pairs)
        if (p.Name == name) {
            p.Condition = condition;
            return;
        }
    m_pairs.push_back({name, condition});
}

void TSimpleFilter::RemoveCondition(const QString &name)
{
    for (auto it = m_pairs.begin(); it != m_pairs.end(); ++it)
        if (it->Name == name) {
            m_pairs.erase(it);
            return;
        }
}

QString TSimpleFilter::GetText() const
{
    QStringList clauses;
    for (const TPair &p : m_pairs)
        clauses << p.Name + p.Condition;
    return clauses.join(QStringLiteral(" AND "));
}

QString TSimpleFilter::Quoted(const QString &value)
{
    QString v = value;
    v.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

// ------------------------------------------------------------------------------------------
// TWWDM

TWWDM::TWWDM(TDatabase *center, QObject *parent) : QObject(parent)
{
    const auto setUp = [center](TQuery &q, const char *name, const QStringList &sql) {
        q.SetDatabase(center);
        q.Name = QString::fromLatin1(name);
        q.SetSQL(sql);
    };
    const auto integerParam = [](TQuery &q, const char *name) {
        q.ParamByName(QString::fromLatin1(name)).DataType = TFieldType::ftInteger;
    };

    setUp(itRegionNotNull, "itRegionNotNull",
          lines({"SELECT * FROM Region", "WHERE REGNAME LIKE", "'%'", "ORDER BY RegName"}));
    itRegionNotNull.SetFiltered(true);
    itRegion.Name = QStringLiteral("itRegion");
    dsRegion.SetDataSet(&itRegion);

    setUp(itHospital, "itHospital",
          lines({"SELECT * FROM Hospital", "WHERE RegGID", "= :RegGID", "AND MU LIKE", "'%'",
                 "ORDER BY MU, MUFL"}));
    // The region refresh gives the query its region and opens it once; a master link would ask
    // again for every move of the region list, also while the list is being rebuilt.
    dsHospital.SetDataSet(&itHospital);

    // Line 3 asks the database for the cities of the chosen region alone (the filter keeps its
    // REGGID condition as well): the whole table read and sorted for every region chosen cost
    // more than everything else a choice does.
    setUp(itCityNotNull, "itCityNotNull",
          lines({"SELECT * FROM City", "WHERE CITYNAME LIKE", "'%'", "", "ORDER BY CityName"}));
    itCity.Name = QStringLiteral("itCity");
    dsCity.SetDataSet(&itCity);

    setUp(itBrigade, "itBrigade",
          lines({"SELECT * FROM Brigade", "WHERE CityGID", "= :CityGID", "ORDER BY BrgName"}));
    itBrigade.SetDataSource(&dsCity);
    integerParam(itBrigade, "CityGID");
    dsBrigade.SetDataSet(&itBrigade);

    setUp(itWorkstation, "itWorkstation",
          lines({"SELECT * FROM Workstation", "WHERE ", "HspGID=:HSPGID", "ORDER BY WstName"}));
    dsWorkStation.SetDataSet(&itWorkstation);

    setUp(itOperator, "itOperator",
          lines({"SELECT * FROM Operator", "WHERE WstGID=:WSTGID", "ORDER BY UserName"}));
    itOperator.SetDataSource(&dsWorkStation);
    dsOperator.SetDataSet(&itOperator);

    setUp(sqlLinkedLPU, "sqlLinkedLPU",
          lines({"SELECT HspGID, MU, MUFL", "FROM Hospital", "WHERE EXISTS", "(",
                 "  SELECT * FROM BrigHsp", "  WHERE Hospital.HspGID = BrigHsp.HspGID",
                 "    AND BrigHsp.BrgGID = :BRGGID", ")"}));
    integerParam(sqlLinkedLPU, "BRGGID");
    setUp(sqlAvailLPU, "sqlAvailLPU",
          lines({"SELECT HspGID, MU, MUFL, RegGID", "FROM Hospital", "WHERE NOT EXISTS", "(",
                 "  SELECT * FROM BrigHsp", "  WHERE Hospital.HspGID = BrigHsp.HspGID",
                 "    AND BrigHsp.BrgGID = :BRGGID", ")"}));
    integerParam(sqlAvailLPU, "BRGGID");
    sqlAvailLPU.SetFiltered(true);
    setUp(sqlCleanBrigHosp, "sqlCleanBrigHosp",
          lines({"DELETE FROM BrigHsp", "WHERE BrgGID = :BRGGID"}));
    integerParam(sqlCleanBrigHosp, "BRGGID");

    itRegion.AfterOpen = [this](TDataSet &) { itRegionAfterOpen(); };
    itRegion.AfterScroll = [this](TDataSet &) { itRegionAfterScroll(); };
    itCity.AfterOpen = [this](TDataSet &) { itCityAfterOpen(); };
    itCity.AfterScroll = [this](TDataSet &) { itCityAfterScroll(); };
    for (TQuery *q : {&itHospital, &itBrigade, &itWorkstation, &itOperator})
        q->AfterScroll = [this](TDataSet &) { itAfterScroll(); };

    DataModuleCreate();
}

TWWDM::~TWWDM()
{
    // No handler may reach a half-destroyed module.
    for (TDataSet *ds : std::initializer_list<TDataSet *>{
             &itRegion, &itCity, &itHospital, &itBrigade, &itWorkstation, &itOperator}) {
        ds->AfterOpen = nullptr;
        ds->AfterScroll = nullptr;
    }
}

void TWWDM::DataModuleCreate()
{
    RegionGuard = false;
    CityGuard = false;
}

void TWWDM::rebuild(TMemoryTable &list, TQuery &source, bool &guard)
{
    if (guard)
        return;
    const QScopedValueRollback<bool> guarded(guard, true);
    list.LoadFromDataSet(source);
    list.AppendRecord(QVariantList{QVariant(), kOtherRow, QVariant()});
    list.First();
}

void TWWDM::itRegionAfterOpen()
{
    if (RegionGuard)
        return;
    rebuild(itRegion, itRegionNotNull, RegionGuard);
    m_regionRebuilt = true;
}

void TWWDM::itCityAfterOpen()
{
    rebuild(itCity, itCityNotNull, CityGuard);
}

void TWWDM::itRegionAfterScroll()
{
    if (RegionGuard || !itRegion.Active())
        return;
    const QVariant regGID = itRegion.FieldByName(QStringLiteral("REGGID"))->AsVariant();
    // A keystroke in the region filter that keeps the first region keeps what hangs on it.
    const bool hospitals = m_workstationType != 2;
    if (std::exchange(m_regionRebuilt, false) && m_regionShown &&
        engine::ValuesEqual(regGID, m_shownRegion, false) && (itHospital.Active() || !hospitals) &&
        itCity.Active()) {
        Q_EMIT UpdatePages();
        return;
    }
    TSimpleFilter filter(itCityNotNull.Filter());
    if (engine::IsNullValue(regGID)) {
        itHospital.SetSQLLine(2, kIsNull);
        filter.SetCondition(QStringLiteral("REGGID"), QStringLiteral(" IS NULL"));
        itCityNotNull.SetSQLLine(kCityRegionLine, QStringLiteral("AND REGGID IS NULL"));
    } else {
        itHospital.SetSQLLine(2, QStringLiteral("=:RegGID"));
        TParam &hospitalRegion = itHospital.ParamByName(QStringLiteral("RegGID"));
        hospitalRegion.DataType = TFieldType::ftInteger;
        hospitalRegion.SetAsInteger(regGID.toLongLong());
        filter.SetCondition(QStringLiteral("REGGID"),
                            QLatin1Char('=') + QString::number(regGID.toLongLong()));
        itCityNotNull.SetSQLLine(kCityRegionLine, QStringLiteral("AND REGGID = :REGGID"));
        TParam &cityRegion = itCityNotNull.ParamByName(QStringLiteral("REGGID"));
        cityRegion.DataType = TFieldType::ftInteger;
        cityRegion.SetAsInteger(regGID.toLongLong());
    }
    itCityNotNull.SetFilter(filter.GetText());
    itCityNotNull.SetFiltered(true);
    if (hospitals)
        itHospital.Open();
    itCity.Close();
    itCity.Open();
    m_shownRegion = regGID;
    m_regionShown = true;
    Q_EMIT UpdatePages();
}

void TWWDM::itCityAfterScroll()
{
    if (CityGuard || !itCity.Active())
        return;
    const QVariant cityGID = itCity.FieldByName(QStringLiteral("CITYGID"))->AsVariant();
    if (engine::IsNullValue(cityGID)) {
        itBrigade.SetSQLLine(2, kIsNull);
    } else {
        itBrigade.SetSQLLine(2, QStringLiteral("=:CityGID"));
        itBrigade.ParamByName(QStringLiteral("CityGID")).DataType = TFieldType::ftInteger;
    }
    itBrigade.Open();
    itWorkstation.Open();
    Q_EMIT UpdatePages();
}

void TWWDM::itAfterScroll()
{
    Q_EMIT UpdatePages();
}

void TWWDM::SetWorkstationMaster(int workstationType)
{
    m_workstationType = workstationType;
    itWorkstation.Close();
    if (workstationType == 1) {
        itWorkstation.SetSQLLine(2, QStringLiteral("HspGID=:HSPGID"));
        itWorkstation.ParamByName(QStringLiteral("HSPGID")).DataType = TFieldType::ftInteger;
        itWorkstation.SetDataSource(&dsHospital);
    } else if (workstationType == 2) {
        itWorkstation.SetSQLLine(2, QStringLiteral("BrgGID=:BRGGID"));
        itWorkstation.ParamByName(QStringLiteral("BRGGID")).DataType = TFieldType::ftInteger;
        itWorkstation.SetDataSource(&dsBrigade);
    } else {
        itWorkstation.SetDataSource(nullptr);
    }
}

void TWWDM::setPattern(TQuery &query, int line, const QString &column, const QString &pattern)
{
    const QString prefix = query.SQL().at(line - 1).section(QLatin1Char(' '), 0, 0);
    if (pattern.isEmpty()) {
        query.SetSQLLine(line - 1, prefix + QLatin1Char(' ') + column + QStringLiteral(" LIKE"));
        query.SetSQLLine(line, kAnyPattern);
        return;
    }
    // Both sides upper-cased: the filter boxes upper-case what is typed, the names are mixed.
    query.SetSQLLine(line - 1,
                     prefix + QStringLiteral(" UPPER(") + column + QStringLiteral(") LIKE"));
    query.SetSQLLine(line, QStringLiteral("UPPER(:") + kPatternParam + QLatin1Char(')'));
    TParam &p = query.ParamByName(kPatternParam);
    p.DataType = TFieldType::ftString;
    p.SetAsString(pattern);
}

void TWWDM::SetRegionPattern(const QString &pattern)
{
    setPattern(itRegionNotNull, 2, QStringLiteral("REGNAME"), pattern);
}

void TWWDM::SetCityPattern(const QString &pattern)
{
    setPattern(itCityNotNull, 2, QStringLiteral("CITYNAME"), pattern);
}

void TWWDM::SetHospitalPattern(const QString &pattern)
{
    setPattern(itHospital, 4, QStringLiteral("MU"), pattern);
}

bool TWWDM::RegionPatternCleared() const
{
    return itRegionNotNull.SQL().at(2) == kAnyPattern;
}

bool TWWDM::CityPatternCleared() const
{
    return itCityNotNull.SQL().at(2) == kAnyPattern;
}

bool TWWDM::HospitalPatternCleared() const
{
    return itHospital.SQL().at(4) == kAnyPattern;
}
