#pragma once

#include "import/importjournal.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>

class TDatabase;
class TJobReport;
class TTable;

// A package row the dry run found the centre would refuse.
struct TImportProblem
{
    QString Table;
    QVariant LocalId;
    QString Message;
};

// The problems of a dry run: the first MaxShown of them, and how many there were in all.
struct TImportProblems
{
    static constexpr int MaxShown = 100;
    QList<TImportProblem> Shown;
    int Count = 0;
    void Add(const QString &table, const QVariant &localId, const QString &message);
};

// The walk of one package table into the central tables, in windows of package rows: each
// window is one central transaction, committed when full, at the end of the table, before a
// registration and on cancellation. A window that fails is rolled back and its rows are written
// again one by one, so that the rows before the failing one are kept and that row's error is
// the import's. Counts and progress lines count committed rows.
//
// A dry run keeps everything in the one transaction its caller holds: each row runs under a
// savepoint, a row that fails is rolled back to it and recorded as a problem, and the walk goes
// on.
class TMergeWalk
{
public:
    TMergeWalk(TDatabase &center, TJobReport &report, int windowRows, bool dryRun,
               TImportProblems &problems);

    // A step begins: its label and the package column that names a row in problems; the tally
    // starts again.
    void BeginStep(const QString &label);
    void SetRowKey(const QString &column) { m_rowKey = column; }
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

private:
    // Runs one package row of a dry run inside a savepoint; true when it counts.
    bool dryRunRow(TTable &wst, const std::function<bool()> &row);
    void addProblem(TTable &wst, const QString &message);
    // One row of a dry run; false when a damaged package row ends the table.
    bool dryRunStep(TTable &wst, const std::function<bool()> &row);
    // The row is done: the gauge moves, and a stop request ends the walk here.
    void advance();

    TDatabase &m_center;
    TJobReport &m_report;
    int m_windowRows;
    bool m_dryRun;
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
