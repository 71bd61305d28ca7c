// The merge of the package tables into the central tables.

#include "core/strconst.h"
#include "engine/database.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "import/imwst.h"

#include <vector>

namespace {

const QString kProcessed = QStringLiteral(" записей обработано");

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

// Moves what `from` counted into `to`.
void addTally(TImportTableCounts &to, TImportTableCounts &from)
{
    to.NewRows += from.NewRows;
    to.EditedRows += from.EditedRows;
    to.UnchangedRows += from.UnchangedRows;
    to.NewMappings += from.NewMappings;
    from = TImportTableCounts{};
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

void TImWorkstationToServer::commitWindow()
{
    TDatabase &db = Center();
    // A dry run keeps everything in its one transaction.
    if (db.InTransaction() && !m_dryRun)
        db.Commit();
    const int before = m_walk.committed;
    m_walk.committed += m_walk.pendingCount;
    m_walk.pendingCount = 0;
    addTally(m_walk.committedTally, m_walk.pendingTally);
    m_walk.pendingRows = 0;
    m_walk.windowStart = m_walk.index;
    if (m_walk.progressLines) {
        for (int n = (before / 10 + 1) * 10; n <= m_walk.committed; n += 10)
            Log(QString::number(n) + kProcessed);
    }
}

bool TImWorkstationToServer::dryRunRow(TTable &wst, const std::function<bool()> &row)
{
    const TImportTableCounts before = m_walk.pendingTally;
    // Inside the dry run's transaction: a savepoint.
    TTransaction savepoint(Center());
    try {
        const bool counted = row();
        savepoint.Commit();
        return counted;
    } catch (const std::exception &e) {
        savepoint.Rollback();
        m_walk.pendingTally = before;
        const Exception *own = dynamic_cast<const Exception *>(&e);
        addProblem(wst, own ? own->Message() : QString::fromLocal8Bit(e.what()));
        return false;
    }
}

void TImWorkstationToServer::addProblem(TTable &wst, const QString &message)
{
    ++m_problemCount;
    if (m_problems.size() >= MaxProblems)
        return;
    QVariant id;
    try {
        if (TField *key = wst.FindField(m_rowKey))
            id = key->AsVariant();
    } catch (...) {
    }
    m_problems << TProblem{m_stepLabel, id, message};
}

int TImWorkstationToServer::walk(TTable &wst, const std::function<bool()> &row, bool progressLines)
{
    TDatabase &db = Center();
    m_walk = Walk{};
    m_walk.active = true;
    m_walk.progressLines = progressLines;
    struct EndWalk
    {
        TImWorkstationToServer &job;
        TDatabase &db;
        ~EndWalk()
        {
            job.m_walk.active = false;
            if (db.InTransaction() && !job.m_dryRun) {
                try {
                    db.Rollback();
                } catch (...) {
                }
            }
        }
    } endWalk{*this, db};

    // Rows up to this index go one window each, after a window failed.
    int replayThrough = -1;
    wst.First();
    while (!wst.Eof()) {
        if (m_dryRun) {
            if (dryRunRow(wst, row))
                ++m_walk.pendingCount;
            ++m_walk.pendingRows;
            ++m_walk.index;
            if (m_walk.pendingRows >= m_windowRows)
                commitWindow();
            try {
                wst.Next();
            } catch (const Exception &e) {
                // A damaged package row ends the table; the dry run goes on with the next one.
                addProblem(wst, e.Message());
                break;
            }
            ++Position;
            UpdateGauge();
            if (Terminated()) {
                commitWindow();
                CheckTerminated();
            }
            continue;
        }
        if (!db.InTransaction())
            db.StartTransaction();
        bool counted = false;
        try {
            counted = row();
        } catch (const std::exception &) {
            if (db.InTransaction())
                db.Rollback();
            if (m_walk.pendingRows == 0)
                throw; // this row alone: its error is the import's
            // Write the window again up to the failing row, which then runs alone.
            replayThrough = m_walk.index;
            m_walk.index = m_walk.windowStart;
            m_walk.pendingRows = 0;
            m_walk.pendingCount = 0;
            m_walk.pendingTally = TImportTableCounts{};
            wst.First();
            for (int i = 0; i < m_walk.index && !wst.Eof(); ++i)
                wst.Next();
            Position = m_walk.index;
            UpdateGauge();
            continue;
        }
        ++m_walk.pendingRows;
        if (counted)
            ++m_walk.pendingCount;
        ++m_walk.index;
        if (m_walk.pendingRows >= m_windowRows || m_walk.index == replayThrough)
            commitWindow();
        try {
            wst.Next();
        } catch (...) {
            // A damaged package row: the rows before it are whole and stay.
            commitWindow();
            throw;
        }
        ++Position;
        UpdateGauge();
        if (Terminated()) {
            commitWindow();
            CheckTerminated();
        }
    }
    commitWindow();
    return m_walk.committed;
}

int TImWorkstationToServer::mergeTable(TTable &wst, std::initializer_list<TTable *> targets,
                                       bool progressLines,
                                       const std::function<std::function<bool()>()> &prepare)
{
    m_walk = Walk{};
    Position = 0;
    UpdateGauge();
    std::vector<TDataSet *> sets{&wst};
    sets.insert(sets.end(), targets.begin(), targets.end());
    TCloseOnExit close(std::move(sets));
    try {
        for (TTable *target : targets)
            target->Open();
        wst.Open();
        wst.First();
        Total = wst.RecordCount();
        const std::function<bool()> row = prepare();
        walk(
            wst,
            [&] {
                try {
                    return row();
                } catch (...) {
                    cancelEdits(targets);
                    throw;
                }
            },
            progressLines);
    } catch (...) {
        LogRecordCount(m_walk.committed);
        throw;
    }
    LogRecordCount(m_walk.committed);
    return m_walk.committed;
}

int TImWorkstationToServer::ImportAuxTable(TTable &wst, TTable &central, const QStringList &columns,
                                           const QString &prefix, TTable &mapping)
{
    return mergeTable(wst, {&central, &mapping}, false, [&]() -> std::function<bool()> {
        const std::vector<Copy> copies = resolveCopies(wst, central, columns);
        const QString gid = prefix + QStringLiteral("GID");
        const QString lid = prefix + QStringLiteral("LID");
        m_rowKey = lid;
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
            RegisterOperator(packageInteger(*wstField),
                             userField ? packageInteger(*userField) : -1);
            if (!auxField->IsNull()) {
                ++m_walk.pendingTally.UnchangedRows;
                return false;
            }
            QVariant id = naturalField->AsVariant();
            if (engine::IsNullValue(id)) {
                writeRow(central, false, copies);
                ++m_walk.pendingTally.NewRows;
                id = centralGid->AsVariant();
            }
            mapping.Append();
            mapGid->SetAsVariant(id);
            mapWst->SetAsVariant(wstField->AsVariant());
            mapLid->SetAsVariant(lidField->AsVariant());
            mapping.Post();
            ++m_walk.pendingTally.NewMappings;
            return true;
        };
    });
}

int TImWorkstationToServer::ImportLocalTable(TTable &wst, TTable &central, const QString &suffix,
                                             const QStringList &columns, const QString &prefix)
{
    return mergeTable(wst, {&central}, true, [&]() -> std::function<bool()> {
        const std::vector<Copy> copies = resolveCopies(wst, central, columns);
        const QString lid = prefix + QStringLiteral("LID");
        m_rowKey = lid;
        const QString keys = lid + QStringLiteral(";WstGID");
        TField *ownField = wst.FieldByName(prefix + QStringLiteral("GID") + suffix);
        TField *lidField = wst.FieldByName(lid);
        TField *wstField = wst.FieldByName(QStringLiteral("WstGID"));

        return [=, this, &central] {
            const bool found =
                !ownField->IsNull() &&
                central.Locate(keys, QVariantList{lidField->AsVariant(), wstField->AsVariant()});
            ++(writeRow(central, found, copies) ? m_walk.pendingTally.EditedRows
                                                : m_walk.pendingTally.NewRows);
            return true;
        };
    });
}

int TImWorkstationToServer::ImportDiagTable(TTable &wst, TTable &central)
{
    return mergeTable(wst, {&central}, false, [&]() -> std::function<bool()> {
        const std::vector<Copy> copies = resolveCopies(wst, central, SIEDM().colDocDiag);
        const QString keys = QStringLiteral("DocGID;DiagGID;DiagType");
        m_rowKey = QStringLiteral("DocLID");
        TField *docField = wst.FieldByName(QStringLiteral("DocGID"));
        TField *diagField = wst.FieldByName(QStringLiteral("DiagGID"));
        TField *typeField = wst.FieldByName(QStringLiteral("DiagType"));
        TField *wstField = wst.FieldByName(QStringLiteral("WstGID"));
        TField *userField = wst.FieldByName(QStringLiteral("UserGID"));

        return [=, this, &central] {
            RegisterOperator(packageInteger(*wstField), packageInteger(*userField));
            const bool found =
                central.Locate(keys, QVariantList{docField->AsVariant(), diagField->AsVariant(),
                                                  typeField->AsVariant()});
            ++(writeRow(central, found, copies) ? m_walk.pendingTally.EditedRows
                                                : m_walk.pendingTally.NewRows);
            return true;
        };
    });
}
