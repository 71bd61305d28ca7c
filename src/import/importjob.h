#pragma once

#include "import/importjournal.h"
#include "import/mergewalk.h"
#include "jobs/serverjob.h"
#include "schema/importlock.h"

#include <QDateTime>
#include <QStringList>
#include <functional>

// The import of one workstation-to-server package (".w2s"): the package is chosen (asked of the
// user, or given when made), unpacked into a work folder under the import folder, and merged
// into the central database (TPackageMerge); the run is recorded in the import journal, and the
// package files are deleted after success.
//
// Central writes go in windows of WindowRows package rows, each one transaction (TMergeWalk).
class TImWorkstationToServer : public TSrvRplThread
{
public:
    // packagePath: the first volume of the package to import; empty: ask (SetPackageChooser).
    // info and center as for TSrvRplThread.
    TImWorkstationToServer(const TJobContext &context, const TAppInfo &info,
                           const TDatabase &center, QString packagePath = {});
    ~TImWorkstationToServer() override;

    // Package rows per central transaction.
    static constexpr int DefaultWindowRows = 256;
    void SetWindowRows(int rows) { m_windowRows = rows > 0 ? rows : 1; }

    // Merges an unpacked package folder into the central database (TPackageMerge::Run) and
    // keeps what it counted. Used by the job's body; callable on the job's thread by tools and
    // tests that do not run the job.
    void ImportFolder(const QString &folder);

    // The text of a second import refused while one runs, when its holder is not known.
    static const QString &LockedMessage();

    // One import at a time per central database (the import lock, taken before anything else:
    // the journal, the work folder). Meeting another import, the job leaves at once (the
    // default), or waits up to the central connection's busy limit (TBusyWait) with a line in
    // the log, Cancel stopping it; the question, when given, is asked first where the watcher
    // lives ("Импорт выполняет ..."), and No ends the job as cancelled.
    enum class TLockWait
    {
        Leave,
        Wait
    };
    void SetLockWait(TLockWait wait) { m_lockWait = wait; }
    void SetLockQuestion(std::function<bool(const TImportLockHolder &)> ask)
    {
        m_askLockWait = std::move(ask);
    }
    // Who the job says it is to whoever meets its lock ("окно", "командная строка").
    void SetProgram(QString program) { m_program = std::move(program); }
    // The caller holds the import lock (a batch, which takes it once for all its packages).
    void SetLockHeldByCaller(bool held) { m_lockHeldByCaller = held; }
    // A run that meets another import and does not start (or gives up waiting for it) is
    // LockedOut. One that finds its package gone when it gets the lock (another run imported it
    // meanwhile) completes with PassedOverMessage, Repeated and PassedOver.

    // Questions to the user, asked where the watcher lives (TJobProgress::Synchronize): the
    // package to import when none was given (empty: none, and the job ends as cancelled), and
    // whether to import again a package imported successfully at `imported` (policy Ask).
    // Without them nobody is asked: no package, no repeat.
    void SetPackageChooser(std::function<QString()> choose) { m_choose = std::move(choose); }
    void SetRepeatQuestion(std::function<bool(const QDateTime &)> ask)
    {
        m_askRepeat = std::move(ask);
    }

    // Past a refused row: the row is skipped, logged and recorded in the journal, the rows that
    // depend on it are refused in turn, and the run ends "с пропусками" with the package kept
    // (importing it again after the cause is mended brings the missing rows). Off, the import
    // stops at a refused row as it always has, unless the question below says go on.
    void SetKeepGoing(bool on) { m_keepGoing = on; }
    // Asked where the watcher lives when the import stops at a refused row ("Импорт остановлен
    // на записи ..."): true goes on past it and past every later refused row.
    void SetKeepGoingQuestion(std::function<bool(const TImportProblem &)> ask)
    {
        m_askKeepGoing = std::move(ask);
    }

    // A package whose checksum the import journal knows from a successful run: asked about,
    // refused, or imported again without asking.
    enum class TRepeatPolicy
    {
        Ask,
        Refuse,
        Force
    };
    void SetRepeatPolicy(TRepeatPolicy policy) { m_repeatPolicy = policy; }
    // The run is recorded in the import journal (on by default).
    void SetJournal(bool on) { m_journal = on; }

    // What the last run did; read once the job has ended. Its refused rows are all of them, in
    // the order met: the rows an import skipped, or the problems of a dry run.
    TImportResult Result() const;

    // Dry run: the whole merge in one central transaction that is rolled back at the end; a row
    // that fails is reported (up to MaxProblems) and the walk goes on; no journal, and the
    // package stays. The log closes with what each table would get and the problems.
    void SetDryRun(bool on) { m_dryRun = on; }
    bool DryRun() const { return m_dryRun; }
    // The dry run's report lists at most this many of its problems.
    static constexpr int MaxProblems = TImportProblems::MaxShown;

protected:
    void PrepareWindow() override;
    void Execute() override;

private:
    // The completion message of the run.
    QString importPackage();
    // What the run did, ended with `result` (ImportResult*) and `error`.
    TImportResult resultOf(const QString &result, const QString &error) const;
    // Rows the import skipped (0 for a dry run, whose refused rows are its problems).
    int skippedRows() const { return m_dryRun ? 0 : m_problems.Count(); }
    // The import lock for package, as SetLockWait says; raises ERplException when it is not had.
    std::unique_ptr<TImportLock> takeLock(const QString &package);
    // Unpacks and merges the package and deletes its volumes after success.
    void mergePackage(const QString &package, const QStringList &volumes);
    void logDryRunReport();

    QString m_packagePath;
    int m_windowRows = DefaultWindowRows;
    std::function<QString()> m_choose;
    std::function<bool(const QDateTime &)> m_askRepeat;
    std::function<bool(const TImportProblem &)> m_askKeepGoing;
    bool m_keepGoing = false;
    TRepeatPolicy m_repeatPolicy = TRepeatPolicy::Ask;
    bool m_refusedRepeat = false;
    bool m_journal = true;
    bool m_dryRun = false;
    TLockWait m_lockWait = TLockWait::Leave;
    std::function<bool(const TImportLockHolder &)> m_askLockWait;
    QString m_program;
    bool m_lockHeldByCaller = false;
    std::unique_ptr<TImportLock> m_lock; // while a run holds it
    bool m_lockedOut = false;
    bool m_passedOver = false;
    TImportProblems m_problems;
    QList<TImportTableCounts> m_counts;
    TImportPackageInfo m_package;
};

// The work folder of a package: the import folder (ending with a separator) and the package's
// file name cut to 36 characters, without its last extension.
QString ImportWorkFolder(const QString &importPath, const QString &packagePath);
// The work folder of a run of this process: ImportWorkFolder and ".run<process>", unique to the
// run, since only the holder of the import lock makes one.
QString ImportRunFolder(const QString &importPath, const QString &packagePath);
// Removes the run folders of the import folder that runs killed before they could (called with
// the import lock held, when no other run can be working in one); the folders removed.
QStringList RemoveLeftRunFolders(const QString &importPath);

// The question asked when another import holds the lock.
QString LockWaitQuestion(const TImportLockHolder &holder);

// The line of a package that another run imported while this one waited for the lock.
QString PassedOverMessage(const QString &package);

// The question asked when an import stops at a refused row.
QString KeepGoingQuestion(const TImportProblem &refused);

// A refused row as messages name it: "Person (PrnLID=17, WstGID=3)".
QString ProblemRowName(const TImportProblem &problem);

// The question about a package imported before, and the message of a run refused for that
// reason ("Пакет уже импортирован " and the date of the latest successful run).
QString RepeatQuestion(const QDateTime &imported);
QString RepeatRefusal(const QDateTime &imported);
