#pragma once

// The data module behind the administration wizard: a chain of master-detail datasets over the
// central database that follows the selection from region to hospital or settlement and
// brigade, to workstation and operators, plus the statements of the brigade dialog. Regions and
// settlements are shown from in-memory copies that carry one more row, "ПРОЧИЕ...", standing for
// the records without a region (settlement). The region refresh asks the database once for the
// hospitals (of a hospital's wizard) and the settlements of the region chosen, by the region's
// number, and not again while a filter keeps that region first.

#include "engine/memtable.h"
#include "engine/query.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TDatabase;

// The text of the extra row of the region and settlement lists.
inline const QString kOtherRow = QStringLiteral("ПРОЧИЕ...");

// Conditions of a dataset filter kept as ordered (name, condition) pairs, so that several parties
// can keep their own conditions in one filter text: "REGGID=12 AND CITYNAME='МОС*'".
// Quoted values are honoured: " AND ", "=" or a doubled quote inside '...' stay in the value.
class TSimpleFilter
{
public:
    TSimpleFilter() = default;
    explicit TSimpleFilter(const QString &text);

    // Replaces the condition of the first pair named exactly so; appends a pair when none is.
    void SetCondition(const QString &name, const QString &condition);
    // Removes the first pair named exactly so.
    void RemoveCondition(const QString &name);
    // Pairs joined by " AND ", each name followed by its condition; "" without pairs.
    QString GetText() const;

    struct TPair
    {
        QString Name;
        QString Condition;
    };
    const std::vector<TPair> &Pairs() const { return m_pairs; }

    // A value as a quoted filter literal: 'a''b' for a'b.
    static QString Quoted(const QString &value);

private:
    void parseClause(const QString &clause);
    std::vector<TPair> m_pairs;
};

// TWWDM: the data module of the administration wizard: its datasets over the central connection.
class TWWDM : public QObject
{
    Q_OBJECT
public:
    // Datasets on center (the KZCenter connection); nothing is opened here.
    explicit TWWDM(TDatabase *center, QObject *parent = nullptr);
    ~TWWDM() override;

    TQuery itRegionNotNull;
    TMemoryTable itRegion;
    TQuery itHospital;
    TQuery itCityNotNull;
    TMemoryTable itCity;
    TQuery itBrigade;
    TQuery itWorkstation;
    TQuery itOperator;

    TDataSource dsRegion;
    TDataSource dsHospital;
    TDataSource dsCity;
    TDataSource dsBrigade;
    TDataSource dsWorkStation;
    TDataSource dsOperator;

    TQuery sqlLinkedLPU;
    TQuery sqlAvailLPU;
    TQuery sqlCleanBrigHosp;

    // While set, the rebuild and refresh of the region (settlement) list do nothing.
    bool RegionGuard = false;
    bool CityGuard = false;

    // Handlers (installed on the datasets by the constructor; the wizard also calls
    // itRegionAfterScroll after opening its datasets and after a change of workstation type).
    void DataModuleCreate();
    void itRegionAfterOpen();
    void itRegionAfterScroll();
    void itCityAfterOpen();
    void itCityAfterScroll();
    void itAfterScroll();

    // The workstation query follows the hospital (type 1) or the brigade (type 2): line 2 and
    // the master are set; the query is left closed.
    void SetWorkstationMaster(int workstationType);

    // The LIKE pattern of the "Полный" filters, bound as the parameter PATTERN (upper-case on
    // both sides, so that the match ignores case): the pattern line of the region, settlement or
    // hospital query becomes a condition on that parameter ("'%'" when pattern is empty restores
    // the full list). The query is left closed.
    void SetRegionPattern(const QString &pattern);
    void SetCityPattern(const QString &pattern);
    void SetHospitalPattern(const QString &pattern);
    // Whether the pattern line still reads "'%'" (no pattern in force).
    bool RegionPatternCleared() const;
    bool CityPatternCleared() const;
    bool HospitalPatternCleared() const;

Q_SIGNALS:
    // After every list refresh and every scroll of the hospital, brigade, workstation and
    // operator queries: the wizard recomputes its pages.
    void UpdatePages();

private:
    void rebuild(TMemoryTable &list, TQuery &source, bool &guard);
    // The region whose hospitals and settlements are open, and whether the list was rebuilt (a
    // filter typed) since: a rebuilt list that still starts with that region leaves them be.
    QVariant m_shownRegion;
    bool m_regionShown = false;
    bool m_regionRebuilt = false;
    // The workstation type of SetWorkstationMaster: a brigade's wizard shows no hospitals, so
    // its region refresh does not ask for them.
    int m_workstationType = 0;
    static void setPattern(TQuery &query, int line, const QString &column, const QString &pattern);
};
