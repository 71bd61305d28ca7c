#include "import/packagemerge.h"

#include "core/aliases.h"
#include "core/errors.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/transaction.h"
#include "jobs/jobreport.h"
#include "package/packagetables.h"

#include <optional>

namespace {

const QString kTempAlias = QStringLiteral("AIS_RODE_SRV_IMPOR_TEMP");
// The package folder as the run-only alias of the package database, replacing one left over.
void addPackageAlias(TAliasStore &aliases, const QString &folder)
{
    if (aliases.IsAlias(kTempAlias))
        aliases.DeleteAlias(kTempAlias);
    const TAliasStore::ConfigMode mode = aliases.Mode();
    aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    try {
        aliases.AddStandardAlias(kTempAlias, paths::includeTrailing(folder),
                                 QStringLiteral("PARADOX"));
    } catch (...) {
        aliases.SetConfigMode(mode);
        throw;
    }
    aliases.SetConfigMode(mode);
}

// Disconnects the package and removes the alias, whatever happened to the merge (its datasets
// are closed first).
struct DetachPackage
{
    TSIEDM &dm;
    TDatabase &wst;
    TAliasStore &aliases;
    ~DetachPackage()
    {
        dm.SetWstDatabase(nullptr);
        try {
            wst.Close();
        } catch (...) {
        }
        try {
            if (aliases.IsAlias(kTempAlias))
                aliases.DeleteAlias(kTempAlias);
        } catch (...) {
        }
    }
};

// The central tables that package rows are looked up or located in change only through this
// merge's datasets while it runs (the import lock keeps other imports out), so their answers
// are kept; the datasets keep them true on their own changes and forget them on rollbacks.
class KeepLookups
{
public:
    explicit KeepLookups(TSIEDM &dm)
    {
        std::vector<TDataSet *> sets{&dm.itPrimDiag, &dm.itMapDiag};
        for (TTable *t : dm.PackageTables())
            for (const TLookupFieldDef &def : t->LookupFields())
                sets.push_back(def.LookupDataSet);
        for (TDataSet *ds : sets)
            if (ds && !ds->CacheLookups) {
                ds->CacheLookups = true;
                m_targets.push_back(ds);
            }
    }
    ~KeepLookups()
    {
        for (TDataSet *t : m_targets)
            t->CacheLookups = false;
    }
    KeepLookups(const KeepLookups &) = delete;
    KeepLookups &operator=(const KeepLookups &) = delete;

private:
    std::vector<TDataSet *> m_targets;
};

// The merge's steps in import order: parents before children.
struct Step
{
    const char *label;
    TTable TSIEDM::*wst;
    TTable TSIEDM::*central;
    char kind; // 'a' dictionary, 'l' owned rows, 'd' diagnoses
    const char *prefix;
    TTable TSIEDM::*mapping;
    QStringList TSIEDM::*columns;
};
const Step kSteps[] = {
    {"City", &TSIEDM::wstCity, &TSIEDM::itCity, 'a', "City", &TSIEDM::itAuxCity, &TSIEDM::colCity},
    {"Street", &TSIEDM::wstStreet, &TSIEDM::itStreet, 'a', "Str", &TSIEDM::itAuxStreet,
     &TSIEDM::colStreet},
    {"Post", &TSIEDM::wstPost, &TSIEDM::itPost, 'a', "Pos", &TSIEDM::itAuxPost, &TSIEDM::colPost},
    {"RegistrationArea", &TSIEDM::wstRegistrationArea, &TSIEDM::itRegistrationArea, 'a', "Area",
     &TSIEDM::itAuxRegistrationArea, &TSIEDM::colRegistrationArea},
    {"Address", &TSIEDM::wstAddress, &TSIEDM::itAddress, 'l', "Adr", nullptr, &TSIEDM::colAddress},
    {"Person", &TSIEDM::wstPerson, &TSIEDM::itPerson, 'l', "Prn", nullptr, &TSIEDM::colPerson},
    {"Document", &TSIEDM::wstDocument, &TSIEDM::itDocument, 'l', "Doc", nullptr,
     &TSIEDM::colDocument},
    {"PrimaryInspection", &TSIEDM::wstPrimaryInspection, &TSIEDM::itPrimaryInspection, 'l', "Doc",
     nullptr, &TSIEDM::colPrimaryInspection},
    {"PrimDiag", &TSIEDM::wstPrimDiag, &TSIEDM::itPrimDiag, 'd', "", nullptr, &TSIEDM::colDocDiag},
    {"ScriningCard", &TSIEDM::wstMapScrining, &TSIEDM::itMapScrining, 'l', "Doc", nullptr,
     &TSIEDM::colMapScrining},
    {"MapDiag", &TSIEDM::wstMapDiag, &TSIEDM::itMapDiag, 'd', "", nullptr, &TSIEDM::colDocDiag},
};

} // namespace

TPackageMerge::TPackageMerge(TDatabase &center, TSIEDM &dm, TJobReport &report, int windowRows,
                             bool dryRun, TImportProblems &problems)
    : m_center(center), m_dm(dm), m_report(report), m_problems(problems),
      m_walk(center, report, windowRows, dryRun, problems),
      m_registration(center, dm.qrSRV, dm.qrWST, m_walk)
{
    for (const Step &s : kSteps) {
        m_stepOf.insert(&(dm.*s.central), QString::fromLatin1(s.label));
        if (s.mapping)
            m_stepOf.insert(&(dm.*s.mapping), QString::fromLatin1(s.label));
    }
}

void TPackageMerge::Run(const QString &folder)
{
    // A dry run: one transaction over the whole merge, never committed.
    std::optional<TTransaction> dryRun;
    if (m_walk.DryRun())
        dryRun.emplace(m_center);

    TAliasStore &aliases = m_center.Aliases();
    addPackageAlias(aliases, folder);
    TDatabase wst(StrConst::ImportDatabaseName, &aliases);
    const DetachPackage detach{m_dm, wst, aliases};
    std::vector<TDataSet *> packageSets;
    for (TTable *t : m_dm.PackageTables())
        packageSets.push_back(t);
    packageSets.push_back(&m_dm.qrWST);
    const TCloseOnExit closePackage(packageSets);
    const KeepLookups keepLookups(m_dm);
    wst.AliasName = kTempAlias;
    wst.LoginPrompt = false;
    wst.ReadOnly = true;
    wst.Open();
    m_dm.SetWstDatabase(&wst);

    m_registration.Clear();
    m_counts.clear();
    runSteps();
}

void TPackageMerge::runSteps()
{
    for (const Step &s : kSteps) {
        const QString label = QString::fromLatin1(s.label);
        m_report.Log(StrConst::ImportTable + label);
        m_walk.BeginStep(label);
        m_registration.TakeRegistrations();
        // What the step did, also when it failed: the rows committed before the failure stay.
        struct Count
        {
            TPackageMerge &merge;
            const QString &label;
            ~Count()
            {
                try {
                    TImportTableCounts counts = merge.m_walk.Committed();
                    counts.Table = label;
                    counts.Registrations = merge.m_registration.TakeRegistrations();
                    merge.m_counts << counts;
                } catch (...) {
                    // Counting never fails the import.
                }
            }
        } count{*this, label};
        switch (s.kind) {
        case 'a':
            ImportAuxTable(m_dm.*s.wst, m_dm.*s.central, m_dm.*s.columns,
                           QString::fromLatin1(s.prefix), m_dm.*s.mapping);
            break;
        case 'l':
            ImportLocalTable(m_dm.*s.wst, m_dm.*s.central, m_dm.*s.columns,
                             QString::fromLatin1(s.prefix));
            break;
        default:
            ImportDiagTable(m_dm.*s.wst, m_dm.*s.central);
            break;
        }
    }
}
