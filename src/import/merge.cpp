// The merge of the package tables into the central tables.

#include "core/strconst.h"
#include "engine/database.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "import/imwst.h"

#include <algorithm>
#include <optional>
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

// Reads the package table ahead of the walk, a window at a time, and has the central tables
// keep the rows that the window's rows will look up, and locate by locateKeys in locateIn: a
// window then costs a few statements instead of a few for every row. Rows the window writes
// keep what is kept true. A package row that cannot be read ends the reading ahead; the walk
// meets it in its turn.
class ReadAhead
{
public:
    ReadAhead(TTable &wst, TTable *locateIn, const QString &locateKeys) : m_wst(wst)
    {
        m_reader = m_wst.OpenReader();
        const QList<TColumn> &columns = m_reader->Columns();
        auto stored = [&](const QString &names, QList<int> &positions) {
            positions.clear();
            for (const QString &name : names.split(QLatin1Char(';'))) {
                const int found = engine::ColumnIndex(columns, name.trimmed());
                if (found < 0)
                    return false;
                positions << found;
            }
            return true;
        };
        for (const TLookupFieldDef &def : m_wst.LookupFields()) {
            Lookup l{&def, {}};
            if (def.LookupDataSet && def.LookupDataSet->CacheLookups &&
                stored(def.KeyFields, l.keys))
                m_lookups.push_back(l);
        }
        if (!locateIn || !locateIn->CacheLookups || locateKeys.isEmpty())
            return;
        // A look-up by the locate's own key into the located table (the own-row column) is
        // answered by the rows the locate keeps.
        const auto names = [](const QString &list) {
            QStringList out;
            for (const QString &name : list.split(QLatin1Char(';')))
                out << name.trimmed().toUpper();
            return out;
        };
        const QStringList located = names(locateKeys);
        m_lookups.erase(std::remove_if(m_lookups.begin(), m_lookups.end(),
                                       [&](const Lookup &l) {
                                           return l.def->LookupDataSet == locateIn &&
                                                  names(l.def->KeyFields) == located &&
                                                  names(l.def->LookupKeyFields) == located;
                                       }),
                        m_lookups.end());
        // A part of the locate key is a stored column, or a look-up on stored columns.
        for (const QString &name : locateKeys.split(QLatin1Char(';'))) {
            Part part;
            QList<int> one;
            if (stored(name, one)) {
                part.column = one.first();
            } else {
                for (const Lookup &l : m_lookups)
                    if (l.def->FieldName.compare(name, Qt::CaseInsensitive) == 0)
                        part.lookup = &l - m_lookups.data();
                if (part.lookup < 0)
                    return;
            }
            m_locateParts.push_back(part);
        }
        m_locateIn = locateIn;
        m_locateKeys = locateKeys;
    }

    // Prepares the rows from..from+rows-1 (0-based, in the walk's order).
    void Window(int from, int rows)
    {
        if (m_broken)
            return;
        std::vector<engine::TRow> window;
        try {
            if (from < m_next) {
                m_reader = m_wst.OpenReader();
                m_next = 0;
                m_started = false;
            }
            engine::TRow row;
            while (m_next < from + rows) {
                const bool more = m_started ? m_reader->Next(row) : m_reader->First(row);
                m_started = true;
                if (!more)
                    break;
                if (m_next++ >= from)
                    window.push_back(std::move(row));
            }
        } catch (...) {
            m_broken = true; // the walk reports it at that row
        }
        for (const Lookup &l : m_lookups)
            l.def->LookupDataSet->ForgetKeptRows();
        if (m_locateIn)
            m_locateIn->ForgetKeptRows();
        // Whole rows first where their keys are stored: they answer the look-ups by the same
        // keys as well.
        const bool locateFirst = std::all_of(m_locateParts.begin(), m_locateParts.end(),
                                             [](const Part &p) { return p.column >= 0; });
        if (locateFirst)
            keepLocated(window);
        for (const Lookup &l : m_lookups) {
            QList<QVariantList> keys;
            keys.reserve(qsizetype(window.size()));
            for (const engine::TRow &row : window)
                keys << pick(row, l.keys);
            l.def->LookupDataSet->KeepRows(l.def->LookupKeyFields, keys, l.def->LookupResultField);
        }
        if (!locateFirst)
            keepLocated(window);
    }

private:
    static QVariantList pick(const engine::TRow &row, const QList<int> &positions)
    {
        QVariantList values;
        for (int p : positions)
            values << row.value(p);
        return values;
    }

    void keepLocated(const std::vector<engine::TRow> &window)
    {
        if (!m_locateIn)
            return;
        QList<QVariantList> keys;
        for (const engine::TRow &row : window) {
            QVariantList key;
            for (const Part &part : m_locateParts) {
                if (part.column >= 0) {
                    key << row.value(part.column);
                    continue;
                }
                // Answered by the rows just kept.
                const Lookup &l = m_lookups.at(size_t(part.lookup));
                key << l.def->LookupDataSet->Lookup(l.def->LookupKeyFields, pick(row, l.keys),
                                                    l.def->LookupResultField);
            }
            keys << key;
        }
        m_locateIn->KeepRows(m_locateKeys, keys);
    }

    struct Lookup
    {
        const TLookupFieldDef *def;
        QList<int> keys; // stored columns of the package table
    };
    struct Part
    {
        int column = -1;
        qsizetype lookup = -1;
    };
    TTable &m_wst;
    std::unique_ptr<engine::TCursor> m_reader;
    int m_next = 0; // the row the reader gives next
    bool m_started = false;
    bool m_broken = false;
    std::vector<Lookup> m_lookups;
    TTable *m_locateIn = nullptr;
    QString m_locateKeys;
    std::vector<Part> m_locateParts;
};

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
        QStringList lines;
        for (int n = (before / 10 + 1) * 10; n <= m_walk.committed; n += 10)
            lines << QString::number(n) + kProcessed;
        LogProgress(lines);
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

int TImWorkstationToServer::walk(TTable &wst, const std::function<bool()> &row, bool progressLines,
                                 const std::function<void(int from, bool careful)> &window)
{
    TDatabase &db = Center();
    m_walk = Walk{};
    m_walk.active = true;
    m_walk.progressLines = progressLines;
    struct EndWalk
    {
        TImWorkstationToServer &job;
        TDatabase &db;
        bool deferred = false;
        bool durable = false; // the walk ended and waited for its windows
        ~EndWalk()
        {
            job.m_walk.active = false;
            if (db.InTransaction() && !job.m_dryRun) {
                try {
                    db.Rollback();
                } catch (...) {
                }
            }
            if (!deferred)
                return;
            try {
                // Windows committed before a failure stay, and reach the disk.
                if (!durable)
                    db.MakeDurable();
                db.DeferDurability(false);
            } catch (...) {
            }
        }
    } endWalk{*this, db};
    // A window's commit does not wait for the disk; the walk's end waits once for them all.
    if (!m_dryRun && !db.InTransaction()) {
        db.DeferDurability(true);
        endWalk.deferred = true;
    }

    // Rows up to this index go one window each, after a window failed.
    int replayThrough = -1;
    int preparedFrom = -1; // the window prepared last, while nothing was rolled back since
    bool careful = false;  // a window failed: rows are written one by one from then on
    auto prepare = [&] {
        if (m_walk.pendingRows != 0 || (preparedFrom >= 0 && m_walk.index >= preparedFrom &&
                                        m_walk.index < preparedFrom + m_windowRows))
            return;
        preparedFrom = m_walk.index;
        window(m_walk.index, careful);
    };
    // Takes the open window back and writes it again, carefully, up to the row `through`.
    auto rewind = [&](int through) {
        if (db.InTransaction())
            db.Rollback();
        preparedFrom = -1;
        careful = true;
        replayThrough = through;
        m_walk.index = m_walk.windowStart;
        m_walk.pendingRows = 0;
        m_walk.pendingCount = 0;
        m_walk.pendingTally = TImportTableCounts{};
        wst.First();
        for (int i = 0; i < m_walk.index && !wst.Eof(); ++i)
            wst.Next();
        Position = m_walk.index;
        UpdateGauge();
    };
    wst.First();
    while (!wst.Eof()) {
        prepare();
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
            // Rows held back go out before the window ends, so that their errors take the
            // way of a row's.
            if (m_walk.pendingRows + 1 >= m_windowRows || m_walk.index + 1 == replayThrough)
                db.SendHeldWrites();
        } catch (const std::exception &) {
            if (m_walk.pendingRows == 0) {
                if (db.InTransaction())
                    db.Rollback();
                throw; // this row alone: its error is the import's
            }
            // Write the window again up to the failing row, which then runs alone.
            rewind(m_walk.index);
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
        if (wst.Eof() && m_walk.pendingRows > 0) {
            try {
                db.SendHeldWrites();
            } catch (const std::exception &) {
                rewind(-1);
                continue;
            }
        }
        ++Position;
        UpdateGauge();
        if (Terminated()) {
            commitWindow();
            CheckTerminated();
        }
    }
    commitWindow();
    if (endWalk.deferred) {
        db.MakeDurable();
        endWalk.durable = true;
    }
    return m_walk.committed;
}

int TImWorkstationToServer::mergeTable(TTable &wst, std::initializer_list<TTable *> targets,
                                       bool progressLines,
                                       const std::function<std::function<bool()>()> &prepare,
                                       const QString &locateKeys)
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
        // On a server, round trips are what an import waits for: the rows a window looks up
        // are read at once and new rows are sent in groups. On an embedded database a
        // statement costs less than reading the package twice.
        const bool server = Center().IsServer();
        std::optional<ReadAhead> ahead;
        if (server) {
            ahead.emplace(wst, *targets.begin(), locateKeys);
            for (TTable *target : targets)
                target->SetGroupInserts(true);
        }
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
            progressLines,
            [&](int from, bool careful) {
                if (careful)
                    for (TTable *target : targets)
                        target->SetGroupInserts(false);
                if (ahead)
                    ahead->Window(from, m_windowRows);
            });
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

int TImWorkstationToServer::ImportLocalTable(TTable &wst, TTable &central,
                                             const QStringList &columns, const QString &prefix)
{
    const QString lid = prefix + QStringLiteral("LID");
    const QString keys = lid + QStringLiteral(";WstGID");
    return mergeTable(
        wst, {&central}, true,
        [&]() -> std::function<bool()> {
            const std::vector<Copy> copies = resolveCopies(wst, central, columns);
            m_rowKey = lid;
            // The own-row column looks up the central identifier by this same key, and the
            // identifier is never empty in a central row: the column is empty exactly when the
            // locate finds nothing, so the locate alone answers (one statement, not two).
            TField *lidField = wst.FieldByName(lid);
            TField *wstField = wst.FieldByName(QStringLiteral("WstGID"));

            return [=, this, &central] {
                const bool found = central.Locate(
                    keys, QVariantList{lidField->AsVariant(), wstField->AsVariant()});
                ++(writeRow(central, found, copies) ? m_walk.pendingTally.EditedRows
                                                    : m_walk.pendingTally.NewRows);
                return true;
            };
        },
        keys);
}

int TImWorkstationToServer::ImportDiagTable(TTable &wst, TTable &central)
{
    const QString keys = QStringLiteral("DocGID;DiagGID;DiagType");
    return mergeTable(
        wst, {&central}, false,
        [&]() -> std::function<bool()> {
            const std::vector<Copy> copies = resolveCopies(wst, central, SIEDM().colDocDiag);
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
        },
        keys);
}
