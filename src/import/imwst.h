#pragma once

#include "data/srvrplthread.h"
#include "import/importjournal.h"
#include "import/packageinfo.h"

#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>

class TDatabaseLock;
class TTable;

// The import of one workstation-to-server package (".w2s"): the package is chosen (open dialog
// on the user-interface thread, or given to the constructor), unpacked into a work folder under
// the import folder, opened as the package database and merged into the central database table
// by table, dictionary rows through their mapping tables, owned rows by (local identifier,
// workstation); operators and workstations new to the centre are registered on the way.
//
// Central writes go in windows of WindowRows package rows, each one transaction, committed at
// its end, before a registration, at the end of a table and on cancellation. A window that fails
// is rolled back and its rows are written again one by one, so that the rows before the failing
// one are kept and that row's error is reported. Counts and progress lines count committed rows.
class TImWorkstationToServer : public TSrvRplThread
{
    Q_OBJECT
public:
    // packagePath: the first volume of the package to import; empty: ask with the open dialog.
    explicit TImWorkstationToServer(TJobWindow &window, QString packagePath = {});
    ~TImWorkstationToServer() override;

    // Package rows per central transaction.
    static constexpr int DefaultWindowRows = 256;
    void SetWindowRows(int rows) { m_windowRows = rows > 0 ? rows : 1; }

    // Merges an unpacked package folder into the central database: connects it as the package
    // database through the run-only alias, runs the eleven table steps, disconnects and removes
    // the alias whatever happened. Raises the first error. Used by the job's body; callable on
    // the thread that created the job for tools and tests (the job is then not launched).
    void ImportFolder(const QString &folder);

    // The merge procedures; each returns its count (new mappings, rows written).
    int ImportAuxTable(TTable &wst, TTable &central, const QStringList &columns,
                       const QString &prefix, TTable &mapping);
    int ImportLocalTable(TTable &wst, TTable &central, const QStringList &columns,
                         const QString &prefix);
    int ImportDiagTable(TTable &wst, TTable &central);

    // Registers operator u of workstation w (u = -1: any operator of w) with the workstation and,
    // when missing centrally, its hospital, region, hospital type and brigade, copied from the
    // package. One transaction; a failure is rolled back and reported to nobody.
    void RegisterOperator(int w, int u);

    // The import lock's name in messages and the text of a refused second import.
    static const QString &LockedMessage();

    // A package whose checksum the import journal knows from a successful run: asked about
    // (ConfirmRepeat), refused, or imported again without asking.
    enum class TRepeatPolicy
    {
        Ask,
        Refuse,
        Force
    };
    void SetRepeatPolicy(TRepeatPolicy policy) { m_repeatPolicy = policy; }
    // The run was not started because the package had been imported before.
    bool RefusedAsRepeated() const { return m_refusedRepeat; }
    // The run is recorded in the import journal (on by default).
    void SetJournal(bool on) { m_journal = on; }
    // Told about each table as its step ends; not owned; called on the job's thread.
    void SetObserver(TImportObserver *observer) { m_observer = observer; }
    // What each step of the last run did (committed rows), in import order; read once the job
    // has ended.
    const QList<TImportTableCounts> &Counts() const { return m_counts; }
    // The package of the last run as the journal records it.
    const TImportPackageInfo &Package() const { return m_package; }

    // Dry run: the whole merge in one central transaction that is rolled back at the end; a row
    // that fails is reported (up to MaxProblems) and the walk goes on; no journal, and the
    // package stays. The log closes with what each table would get and the problems.
    void SetDryRun(bool on) { m_dryRun = on; }
    bool DryRun() const { return m_dryRun; }
    struct TProblem
    {
        QString Table;
        QVariant LocalId;
        QString Message;
    };
    static constexpr int MaxProblems = 100;
    // The problems of the last dry run (at most MaxProblems) and how many there were in all.
    const QList<TProblem> &Problems() const { return m_problems; }
    int ProblemCount() const { return m_problemCount; }

protected:
    void PrepareWindow() override;
    void Execute() override;
    void ThreadCleanup() override;

    // The package chosen in the open dialog (empty when cancelled); runs on the worker thread.
    virtual QString ChoosePackage();
    // Whether to import again a package imported successfully at `imported`; the window's
    // question, No by default. Runs on the worker thread.
    virtual bool ConfirmRepeat(const QDateTime &imported);

private:
    void importPackage();
    // Unpacks and merges the package and deletes it after success.
    void mergePackage(const QString &package);
    // Walks the package table in windows; row() merges the current row and says whether it
    // counts. Returns the committed count.
    // window(from, careful) is called before the rows of a window are merged, from the first
    // of them; careful after a window failed, when rows are to be written one by one.
    int walk(TTable &wst, const std::function<bool()> &row, bool progressLines,
             const std::function<void(int from, bool careful)> &window);
    // The frame of a merge procedure: opens the central tables, then the package table, and
    // walks it with the row merge that prepare() makes once they are open; a row that fails
    // leaves no edit open in the targets. Logs the committed count however it ends and returns
    // it; every table is closed. The rows of each window are read ahead, and the first target
    // keeps the rows they look up, and locate by locateKeys.
    int mergeTable(TTable &wst, std::initializer_list<TTable *> targets, bool progressLines,
                   const std::function<std::function<bool()>()> &prepare,
                   const QString &locateKeys = {});
    void commitWindow();
    // Runs one package row inside a savepoint of the dry run's transaction; a failure is rolled
    // back to it and reported. True when the row counts.
    bool dryRunRow(TTable &wst, const std::function<bool()> &row);
    void addProblem(TTable &wst, const QString &message);
    void logDryRunReport();
    void registerInTransaction(int w, int u);
    void acquireImportLock();
    void releaseImportLock();

    QString m_packagePath;
    int m_windowRows = DefaultWindowRows;

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
    int m_stepRegistrations = 0; // operators registered during the step that runs

    // Operators known centrally, and those whose registration failed since the last one that
    // committed (a later registration may bring what they lacked).
    QSet<std::pair<int, int>> m_knownOperators;
    QSet<std::pair<int, int>> m_failedOperators;
    TRepeatPolicy m_repeatPolicy = TRepeatPolicy::Ask;
    bool m_refusedRepeat = false;
    bool m_journal = true;
    bool m_dryRun = false;
    QList<TProblem> m_problems;
    int m_problemCount = 0;
    QString m_stepLabel; // the step that runs
    QString m_rowKey;    // the package column that identifies a row of that step
    TImportObserver *m_observer = nullptr;
    QList<TImportTableCounts> m_counts;
    TImportPackageInfo m_package;
    std::unique_ptr<TDatabaseLock> m_lock; // while a package is merged
};

// The work folder of a package: the import folder (ending with a separator) and the package's
// file name cut to 36 characters, without its last extension.
QString ImportWorkFolder(const QString &importPath, const QString &packagePath);

// The window's question about a package imported before, and the message of a run refused for
// that reason ("Пакет уже импортирован " and the date of the latest successful run).
QString RepeatQuestion(const QDateTime &imported);
QString RepeatRefusal(const QDateTime &imported);

// Runs a dry run of the import in the progress window ("Проверить пакет..."): the package is
// chosen, merged and rolled back, and the log tells what the import would do.
bool CheckWorkstationPackage();

// Runs the import in the progress window; true only when it succeeded.
bool ImportWorkstationPackage();
