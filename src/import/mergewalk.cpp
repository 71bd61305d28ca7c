#include "import/mergewalk.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "jobs/jobreport.h"

namespace {

const QString kProcessed = QStringLiteral(" записей обработано");

// Moves what `from` counted into `to`.
void addTally(TImportTableCounts &to, TImportTableCounts &from)
{
    to.NewRows += from.NewRows;
    to.EditedRows += from.EditedRows;
    to.UnchangedRows += from.UnchangedRows;
    to.NewMappings += from.NewMappings;
    from = TImportTableCounts{};
}

// A key part as a whole number; false when it is none.
bool wholeNumber(const QVariant &value, qint64 &out)
{
    if (!value.isValid() || value.isNull())
        return false;
    bool ok = false;
    out = value.toLongLong(&ok);
    return ok;
}

} // namespace

void TImportProblems::Add(const TImportProblem &problem, int rowsBefore)
{
    if (m_rows.isEmpty())
        m_rowsBeforeFirst = rowsBefore;
    m_rows << problem;
    qint64 id = 0;
    qint64 wst = 0;
    if (wholeNumber(problem.LocalId, id) && wholeNumber(problem.WstGID, wst))
        m_keys[problem.Table].insert({id, wst});
}

bool TImportProblems::Refused(const QString &table, const QVariant &localId,
                              const QVariant &wstGID) const
{
    const auto keys = m_keys.constFind(table);
    if (keys == m_keys.constEnd())
        return false;
    qint64 id = 0;
    qint64 wst = 0;
    return wholeNumber(localId, id) && wholeNumber(wstGID, wst) && keys->contains({id, wst});
}

TMergeWalk::TMergeWalk(TDatabase &center, TJobReport &report, int windowRows, bool dryRun,
                       TImportProblems &problems)
    : m_center(center), m_report(report), m_windowRows(windowRows > 0 ? windowRows : 1),
      m_dryRun(dryRun), m_problems(problems)
{
}

void TMergeWalk::BeginStep(const QString &label)
{
    m_walk = Walk{};
    m_stepLabel = label;
}

void TMergeWalk::CommitWindow()
{
    // A dry run keeps everything in its one transaction.
    if (m_center.InTransaction() && !m_dryRun)
        m_center.Commit();
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
        m_report.LogProgress(lines);
    }
}

bool TMergeWalk::dryRunRow(TTable &wst, const std::function<bool()> &row)
{
    const TImportTableCounts before = m_walk.pendingTally;
    // Inside the dry run's transaction: a savepoint.
    TTransaction savepoint(m_center);
    try {
        const bool counted = row();
        savepoint.Commit();
        return counted;
    } catch (const std::exception &e) {
        // Only what the database refused is a problem of the package.
        if (!m_center.IsRefusal(ErrorMessage(e)) || m_report.Terminated())
            throw;
        savepoint.Rollback();
        m_walk.pendingTally = before;
        addProblem(wst, ErrorMessage(e));
        return false;
    }
}

TImportProblem TMergeWalk::problemOf(TTable &wst, const QString &message) const
{
    TImportProblem problem{m_stepLabel, m_rowKey, {}, {}, message};
    // A row whose own columns cannot be read is recorded without them.
    try {
        if (TField *key = wst.FindField(m_rowKey))
            problem.LocalId = key->AsVariant();
    } catch (...) {
    }
    try {
        if (TField *station = wst.FindField(QStringLiteral("WstGID")))
            problem.WstGID = station->AsVariant();
    } catch (...) {
    }
    return problem;
}

void TMergeWalk::addProblem(TTable &wst, const QString &message)
{
    m_problems.Add(problemOf(wst, message), m_walk.committed + m_walk.pendingCount);
}

QString TMergeWalk::RowName(TTable &wst) const
{
    return RowKeyText(problemOf(wst, {}));
}

QString RowKeyText(const TImportProblem &problem)
{
    const auto text = [](const QVariant &v) {
        return v.isValid() && !v.isNull() ? v.toString() : QStringLiteral("?");
    };
    return problem.Key + QLatin1Char('=') + text(problem.LocalId) + QStringLiteral(", WstGID=") +
           text(problem.WstGID);
}

bool TMergeWalk::skipRefused(TTable &wst, const QString &message)
{
    // A database that is gone refuses every row, and one that stayed busy refused none: either
    // ends the import whatever was chosen, and so does a stop.
    if (!m_center.IsRefusal(message) || m_report.Terminated())
        return false;
    if (!m_keepGoing) {
        if (!m_askKeepGoing)
            return false;
        const TImportProblem problem = problemOf(wst, message);
        bool yes = false;
        m_report.Synchronize([&] { yes = m_askKeepGoing(problem); });
        if (!yes)
            return false;
        m_keepGoing = true;
    }
    addProblem(wst, message);
    m_report.Log(QStringLiteral("Запись пропущена: ") + message +
                 QStringLiteral(" (запись: %1)").arg(RowName(wst)));
    return true;
}

bool TMergeWalk::dryRunStep(TTable &wst, const std::function<bool()> &row)
{
    if (dryRunRow(wst, row))
        ++m_walk.pendingCount;
    ++m_walk.pendingRows;
    ++m_walk.index;
    if (m_walk.pendingRows >= m_windowRows)
        CommitWindow();
    try {
        wst.Next();
    } catch (const Exception &e) {
        // A damaged package row ends the table; the dry run goes on with the next one.
        addProblem(wst, e.Message());
        return false;
    }
    advance();
    return true;
}

void TMergeWalk::advance()
{
    ++m_report.Position;
    m_report.UpdateGauge();
    if (m_report.Terminated()) {
        CommitWindow();
        m_report.CheckTerminated();
    }
}

namespace {

// Ends a walk whatever happened: an open window of a failed walk is rolled back (a dry run's
// transaction belongs to its caller), and the windows committed before reach the disk.
struct EndOfWalk
{
    TDatabase &db;
    bool dryRun;
    bool &active;
    bool deferred = false;
    bool durable = false; // the walk ended and waited for its windows
    ~EndOfWalk()
    {
        active = false;
        if (db.InTransaction() && !dryRun) {
            try {
                db.Rollback();
            } catch (...) {
            }
        }
        if (!deferred)
            return;
        try {
            if (!durable)
                db.MakeDurable();
            db.DeferDurability(false);
        } catch (...) {
        }
    }
};

// Where a walk stands with its windows.
struct Windows
{
    int replayThrough = -1; // rows up to this index go one window each, after a window failed
    int preparedFrom = -1;  // the window prepared last, while nothing was rolled back since
    bool careful = false;   // a window failed: rows are written one by one from then on
};

} // namespace

int TMergeWalk::Run(TTable &wst, const std::function<bool()> &row, bool progressLines,
                    const std::function<void(int from, bool careful)> &window)
{
    m_walk = Walk{};
    m_walk.active = true;
    m_walk.progressLines = progressLines;
    EndOfWalk end{m_center, m_dryRun, m_walk.active};
    // A window's commit does not wait for the disk; the walk's end waits once for them all.
    if (!m_dryRun && !m_center.InTransaction()) {
        m_center.DeferDurability(true);
        end.deferred = true;
    }

    Windows windows;
    const auto prepare = [&] {
        if (m_walk.pendingRows != 0 ||
            (windows.preparedFrom >= 0 && m_walk.index >= windows.preparedFrom &&
             m_walk.index < windows.preparedFrom + m_windowRows))
            return;
        windows.preparedFrom = m_walk.index;
        window(m_walk.index, windows.careful);
    };
    // Takes the open window back and writes it again, carefully, up to the row `through`.
    const auto rewind = [&](int through) {
        if (m_center.InTransaction())
            m_center.Rollback();
        windows.preparedFrom = -1;
        windows.careful = true;
        windows.replayThrough = through;
        m_walk.index = m_walk.windowStart;
        m_walk.pendingRows = 0;
        m_walk.pendingCount = 0;
        m_walk.pendingTally = TImportTableCounts{};
        wst.First();
        for (int i = 0; i < m_walk.index && !wst.Eof(); ++i)
            wst.Next();
        m_report.Position = m_walk.index;
        m_report.UpdateGauge();
    };
    wst.First();
    while (!wst.Eof()) {
        prepare();
        if (m_dryRun) {
            if (!dryRunStep(wst, row))
                break;
            continue;
        }
        if (!m_center.InTransaction())
            m_center.StartTransaction();
        bool counted = false;
        try {
            counted = row();
            // Rows held back go out before the window ends, so that their errors take the
            // way of a row's.
            if (m_walk.pendingRows + 1 >= m_windowRows || m_walk.index + 1 == windows.replayThrough)
                m_center.SendHeldWrites();
        } catch (const std::exception &e) {
            if (m_walk.pendingRows == 0) {
                // This row alone: the import ends with its error, or it is skipped.
                if (m_center.InTransaction())
                    m_center.Rollback();
                const auto *own = dynamic_cast<const Exception *>(&e);
                if (!own)
                    throw;
                if (!skipRefused(wst, own->Message())) {
                    if (!m_center.IsRefusal(own->Message()))
                        throw;
                    RethrowWithRow(*own, RowName(wst));
                }
                m_walk.pendingTally = TImportTableCounts{};
                ++m_walk.index;
                m_walk.windowStart = m_walk.index;
                wst.Next();
                advance();
                continue;
            }
            // Write the window again up to the failing row, which then runs alone.
            rewind(m_walk.index);
            continue;
        }
        ++m_walk.pendingRows;
        if (counted)
            ++m_walk.pendingCount;
        ++m_walk.index;
        if (m_walk.pendingRows >= m_windowRows || m_walk.index == windows.replayThrough)
            CommitWindow();
        try {
            wst.Next();
        } catch (...) {
            // A damaged package row: the rows before it are whole and stay.
            CommitWindow();
            throw;
        }
        if (wst.Eof() && m_walk.pendingRows > 0) {
            try {
                m_center.SendHeldWrites();
            } catch (const std::exception &) {
                rewind(-1);
                continue;
            }
        }
        advance();
    }
    CommitWindow();
    if (end.deferred) {
        m_center.MakeDurable();
        end.durable = true;
    }
    return m_walk.committed;
}
