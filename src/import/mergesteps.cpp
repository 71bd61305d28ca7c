// The merge procedures of the package tables: dictionary rows through their mapping tables,
// owned rows by (local identifier, workstation), diagnoses by (document, diagnosis, type).

#include "core/errors.h"
#include "engine/database.h"
#include "engine/table.h"
#include "import/packagemerge.h"
#include "import/readahead.h"
#include "jobs/jobreport.h"
#include "package/packagetables.h"

#include <optional>
#include <vector>

namespace {

// Package column -> central column, resolved once per table.
struct Copy
{
    TField *from;
    TField *to;
};

std::vector<Copy> resolveCopies(TDataSet &wst, TDataSet &central, const QStringList &columns)
{
    std::vector<Copy> copies;
    copies.reserve(size_t(columns.size()));
    for (const QString &name : columns)
        copies.push_back({wst.FieldByName(name), central.FieldByName(name)});
    return copies;
}

// Writes the package row over the central row that was found, or as a new one; true when it
// edited.
bool writeRow(TTable &central, bool found, const std::vector<Copy> &copies)
{
    if (found)
        central.Edit();
    else
        central.Append();
    for (const Copy &c : copies)
        c.to->SetAsVariant(c.from->AsVariant());
    central.Post();
    return found;
}

// An identifier of the package as an integer (Null: 0); text that is no number is refused.
int packageInteger(const TField &field)
{
    const QVariant v =
        engine::ConvertValue(field.AsVariant(), TFieldType::ftInteger, 0, field.FieldName());
    return v.isValid() ? v.toInt() : 0;
}

void cancelEdits(std::initializer_list<TTable *> sets)
{
    for (TTable *ds : sets) {
        try {
            if (ds->Active() && ds->State() != TDataSetState::dsBrowse)
                ds->Cancel();
        } catch (...) {
        }
    }
}

} // namespace

std::vector<TPackageMerge::TParentLink> TPackageMerge::parentLinks(TTable &wst) const
{
    // A row names its parent rows by a local identifier and the workstation, as the derived
    // columns that look them up centrally do (and give the parent's central identifier); its
    // own identifier is no parent.
    std::vector<TParentLink> links;
    TField *station = wst.FindField(QStringLiteral("WstGID"));
    if (!station)
        return links;
    for (const TLookupFieldDef &def : wst.LookupFields()) {
        const QString parent = m_stepOf.value(def.LookupDataSet);
        const QStringList keys = def.KeyFields.split(QLatin1Char(';'));
        if (parent.isEmpty() || keys.size() != 2 ||
            keys[1].compare(QLatin1String("WstGID"), Qt::CaseInsensitive) != 0 ||
            !keys[0].endsWith(QLatin1String("LID"), Qt::CaseInsensitive))
            continue;
        if (parent == m_walk.StepLabel() &&
            keys[0].compare(m_walk.RowKey(), Qt::CaseInsensitive) == 0)
            continue;
        TField *lid = wst.FindField(keys[0]);
        TField *central = wst.FindField(def.FieldName);
        if (lid && !lid->IsLookup() && central)
            links.push_back({parent, lid, station, central});
    }
    return links;
}

void TPackageMerge::refuseOrphan(const std::vector<TParentLink> &parents) const
{
    if (m_problems.IsEmpty())
        return;
    for (const TParentLink &link : parents) {
        const QVariant lid = link.lid->AsVariant();
        // A parent whose change was refused is still there centrally: only one that never
        // arrived leaves its children without a link.
        if (m_problems.Refused(link.table, lid, link.wst->AsVariant()) && link.central->IsNull())
            throw ERplException(QStringLiteral("Запись зависит от отвергнутой записи %1 (%2=%3)")
                                    .arg(link.table, link.lid->FieldName(), lid.toString()));
    }
}

int TPackageMerge::mergeTable(TTable &wst, std::initializer_list<TTable *> targets,
                              bool progressLines,
                              const std::function<std::function<bool()>()> &prepare,
                              const QString &locateKeys)
{
    m_walk.Reset();
    m_report.Position = 0;
    m_report.UpdateGauge();
    std::vector<TDataSet *> sets{&wst};
    sets.insert(sets.end(), targets.begin(), targets.end());
    TCloseOnExit close(std::move(sets));
    try {
        for (TTable *target : targets)
            target->Open();
        wst.Open();
        wst.First();
        m_report.Total = wst.RecordCount();
        const std::function<bool()> row = prepare();
        const std::vector<TParentLink> parents = parentLinks(wst);
        // On a server, round trips are what an import waits for: the rows a window looks up
        // are read at once and new rows are sent in groups. On an embedded database a
        // statement costs less than reading the package twice.
        const bool server = m_center.IsServer();
        std::optional<TReadAhead> ahead;
        if (server) {
            ahead.emplace(wst, *targets.begin(), locateKeys);
            // A dry run tries every row on its own, behind its savepoint.
            if (!m_walk.DryRun())
                for (TTable *target : targets)
                    target->SetGroupInserts(true);
        }
        m_walk.Run(
            wst,
            [&] {
                try {
                    refuseOrphan(parents);
                    return row();
                } catch (...) {
                    cancelEdits(targets);
                    throw;
                }
            },
            progressLines,
            [&](int from, bool careful) {
                if (careful)
                    for (TTable *target : targets)
                        target->SetGroupInserts(false);
                if (ahead)
                    ahead->Window(from, m_walk.WindowRows());
            });
    } catch (...) {
        m_report.LogRecordCount(m_walk.CommittedRows());
        throw;
    }
    m_report.LogRecordCount(m_walk.CommittedRows());
    return m_walk.CommittedRows();
}

int TPackageMerge::ImportAuxTable(TTable &wst, TTable &central, const QStringList &columns,
                                  const QString &prefix, TTable &mapping)
{
    return mergeTable(wst, {&central, &mapping}, false, [&]() -> std::function<bool()> {
        const std::vector<Copy> copies = resolveCopies(wst, central, columns);
        const QString gid = prefix + QStringLiteral("GID");
        const QString lid = prefix + QStringLiteral("LID");
        m_walk.SetRowKey(lid);
        TField *auxField = wst.FieldByName(QStringLiteral("Aux") + gid);
        TField *naturalField = wst.FieldByName(gid);
        TField *lidField = wst.FieldByName(lid);
        TField *wstField = wst.FieldByName(QStringLiteral("WstGID"));
        // Only cities name their operator; streets, posts and areas stand for any operator.
        TField *userField = prefix.compare(QLatin1String("City"), Qt::CaseInsensitive) == 0
                                ? wst.FieldByName(QStringLiteral("UserGID"))
                                : nullptr;
        TField *centralGid = central.FieldByName(gid);
        TField *mapGid = mapping.FieldByName(gid);
        TField *mapWst = mapping.FieldByName(QStringLiteral("WstGID"));
        TField *mapLid = mapping.FieldByName(lid);

        return [=, this, &central, &mapping] {
            m_registration.Register(packageInteger(*wstField),
                                    userField ? packageInteger(*userField) : -1);
            if (!auxField->IsNull()) {
                ++m_walk.Pending().UnchangedRows;
                return false;
            }
            QVariant id = naturalField->AsVariant();
            if (engine::IsNullValue(id)) {
                writeRow(central, false, copies);
                ++m_walk.Pending().NewRows;
                id = centralGid->AsVariant();
            }
            mapping.Append();
            mapGid->SetAsVariant(id);
            mapWst->SetAsVariant(wstField->AsVariant());
            mapLid->SetAsVariant(lidField->AsVariant());
            mapping.Post();
            ++m_walk.Pending().NewMappings;
            return true;
        };
    });
}

int TPackageMerge::ImportLocalTable(TTable &wst, TTable &central, const QStringList &columns,
                                    const QString &prefix)
{
    const QString lid = prefix + QStringLiteral("LID");
    const QString keys = lid + QStringLiteral(";WstGID");
    return mergeTable(
        wst, {&central}, true,
        [&]() -> std::function<bool()> {
            const std::vector<Copy> copies = resolveCopies(wst, central, columns);
            m_walk.SetRowKey(lid);
            // The own-row column looks up the central identifier by this same key, and the
            // identifier is never empty in a central row: the column is empty exactly when the
            // locate finds nothing, so the locate alone answers (one statement, not two).
            TField *lidField = wst.FieldByName(lid);
            TField *wstField = wst.FieldByName(QStringLiteral("WstGID"));

            return [=, this, &central] {
                const bool found = central.Locate(
                    keys, QVariantList{lidField->AsVariant(), wstField->AsVariant()});
                ++(writeRow(central, found, copies) ? m_walk.Pending().EditedRows
                                                    : m_walk.Pending().NewRows);
                return true;
            };
        },
        keys);
}

int TPackageMerge::ImportDiagTable(TTable &wst, TTable &central)
{
    const QString keys = QStringLiteral("DocGID;DiagGID;DiagType");
    return mergeTable(
        wst, {&central}, false,
        [&]() -> std::function<bool()> {
            const std::vector<Copy> copies = resolveCopies(wst, central, m_dm.colDocDiag);
            m_walk.SetRowKey(QStringLiteral("DocLID"));
            TField *docField = wst.FieldByName(QStringLiteral("DocGID"));
            TField *diagField = wst.FieldByName(QStringLiteral("DiagGID"));
            TField *typeField = wst.FieldByName(QStringLiteral("DiagType"));
            TField *wstField = wst.FieldByName(QStringLiteral("WstGID"));
            TField *userField = wst.FieldByName(QStringLiteral("UserGID"));

            return [=, this, &central] {
                m_registration.Register(packageInteger(*wstField), packageInteger(*userField));
                const bool found =
                    central.Locate(keys, QVariantList{docField->AsVariant(), diagField->AsVariant(),
                                                      typeField->AsVariant()});
                ++(writeRow(central, found, copies) ? m_walk.Pending().EditedRows
                                                    : m_walk.Pending().NewRows);
                return true;
            };
        },
        keys);
}
