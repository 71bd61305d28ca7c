#pragma once

#include "import/importjournal.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>
#include <functional>
#include <utility>

class TDatabase;
class TField;
class TJobReport;
class TTable;

// A refused row's key as messages name it: "PrnLID=17, WstGID=3".
QString RowKeyText(const TImportProblem &problem);

// The refused rows of a run, in the order met, and their keys by step, so that the rows that
// depend on them are refused in turn.
class TImportProblems
{
public:
    // Shown at most in a dry run's report.
    static constexpr int MaxShown = 100;

    // rowsBefore: the rows of its table merged before it (what an import that stops at the
    // first refused row keeps of that table).
    void Add(const TImportProblem &problem, int rowsBefore);
    const QList<TImportProblem> &Rows() const { return m_rows; }
    int Count() const { return static_cast<int>(m_rows.size()); }
    bool IsEmpty() const { return m_rows.isEmpty(); }
    // Whether the row of step `table` with this local identifier and workstation was refused.
    bool Refused(const QString &table, const QVariant &localId, const QVariant &wstGID) const;
    // The rows of its table before the first refused row.
    int RowsBeforeFirst() const { return m_rowsBeforeFirst; }

private:
    QList<TImportProblem> m_rows;
    QHash<QString, QSet<std::pair<qint64, qint64>>> m_keys;
    int m_rowsBeforeFirst = 0;
};

// The walk of one package table into the central tables, in windows of package rows: each
// window is one central transaction, committed when full, at the end of the table, before a
// registration and on cancellation. A window that fails is rolled back and its rows are written
// again one by one, so that the rows before the failing one are kept and that row stands alone.
// A row refused alone ends the import, its message naming the row (" (запись: PrnLID=17,
// WstGID=3)"), unless the import goes on past refused rows (SetKeepGoing, or the question's
// answer): the row is then skipped, logged and recorded. Counts and progress lines count
// committed rows.
//
// A dry run keeps everything in the one transaction its caller holds: each row runs under a
// savepoint, a row that fails is rolled back to it and recorded, and the walk goes on.
class TMergeWalk
{
public:
    TMergeWalk(TDatabase &center, TJobReport &report, int windowRows, bool dryRun,
               TImportProblems &problems);

    // Refused rows are skipped from the start.
    void SetKeepGoing(bool on) { m_keepGoing = on; }
    bool KeepGoing() const { return m_keepGoing; }
    // Asked, where the watcher lives, when a row is refused and the import would stop: true
    // goes on past this row and every later refused row.
    void SetKeepGoingQuestion(std::function<bool(const TImportProblem &)> ask)
    {
        m_askKeepGoing = std::move(ask);
    }

    // A step begins: its label; the tally starts again.
    void BeginStep(const QString &label);
    // The package column that names a row of the step (its own local identifier).
    void SetRowKey(const QString &column) { m_rowKey = column; }
    const QString &StepLabel() const { return m_stepLabel; }
    const QString &RowKey() const { return m_rowKey; }
    // The tally starts again (a merge procedure begins).
    void Reset() { m_walk = Walk{}; }

    // Walks the package table from its first row; row() merges the current row and says whether
    // it counts (raising what refuses it). window(from, careful) is called before the rows of a
    // window are merged, from the first of them; careful after a window failed, when rows are
    // written one by one. progressLines: " записей обработано" every ten committed rows. Returns
    // the committed count.
    int Run(TTable &wst, const std::function<bool()> &row, bool progressLines,
            const std::function<void(int from, bool careful)> &window);

    // Commits the open window (a dry run keeps it in its transaction) and counts its rows.
    void CommitWindow();
    // A walk is running (a registration then commits the window first and opens a new one).
    bool Active() const { return m_walk.active; }
    bool DryRun() const { return m_dryRun; }
    int WindowRows() const { return m_windowRows; }

    // What the rows of the open window did, for the row merge to count into.
    TImportTableCounts &Pending() { return m_walk.pendingTally; }
    // What the committed rows did, and how many counted.
    const TImportTableCounts &Committed() const { return m_walk.committedTally; }
    int CommittedRows() const { return m_walk.committed; }

    // The current package row as its messages name it: "PrnLID=17, WstGID=3".
    QString RowName(TTable &wst) const;

private:
    // Runs one package row of a dry run inside a savepoint; true when it counts.
    bool dryRunRow(TTable &wst, const std::function<bool()> &row);
    TImportProblem problemOf(TTable &wst, const QString &message) const;
    void addProblem(TTable &wst, const QString &message);
    // One row of a dry run; false when a damaged package row ends the table.
    bool dryRunStep(TTable &wst, const std::function<bool()> &row);
    // A row refused alone, its window rolled back: true when it is skipped (recorded, logged),
    // false when the import ends with it.
    bool skipRefused(TTable &wst, const QString &message);
    // The row is done: the gauge moves, and a stop request ends the walk here.
    void advance();

    TDatabase &m_center;
    TJobReport &m_report;
    int m_windowRows;
    bool m_dryRun;
    bool m_keepGoing = false;
    std::function<bool(const TImportProblem &)> m_askKeepGoing;
    TImportProblems &m_problems;
    QString m_stepLabel;
    QString m_rowKey;

    // The window of the walk that runs now.
    struct Walk
    {
        bool active = false;
        bool progressLines = false;
        int index = 0;        // package row being merged (0-based)
        int windowStart = 0;  // first row of the open window
        int pendingRows = 0;  // rows merged in the open window
        int pendingCount = 0; // of which counted
        int committed = 0;    // counted rows committed
        // What the rows did: those of the open window, and those committed.
        TImportTableCounts pendingTally;
        TImportTableCounts committedTally;
    } m_walk;
};
