#pragma once

#include "data/srvrplthread.h"

#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>

class QLockFile;
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
    int ImportLocalTable(TTable &wst, TTable &central, const QString &suffix,
                         const QStringList &columns, const QString &prefix);
    int ImportDiagTable(TTable &wst, TTable &central);

    // Registers operator u of workstation w (u = -1: any operator of w) with the workstation and,
    // when missing centrally, its hospital, region, hospital type and brigade, copied from the
    // package. One transaction; a failure is rolled back and reported to nobody.
    void RegisterOperator(int w, int u);

    // The import lock's name in messages and the text of a refused second import.
    static const QString &LockedMessage();

protected:
    void PrepareWindow() override;
    void Execute() override;
    void ThreadCleanup() override;

    // The package chosen in the open dialog (empty when cancelled); runs on the worker thread.
    virtual QString ChoosePackage();

private:
    void importPackage();
    // Walks the package table in windows; row() merges the current row and says whether it
    // counts. Returns the committed count.
    int walk(TTable &wst, const std::function<bool()> &row, bool progressLines);
    void commitWindow();
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
    } m_walk;

    // Operators known centrally, and those whose registration failed since the last one that
    // committed (a later registration may bring what they lacked).
    QSet<std::pair<int, int>> m_knownOperators;
    QSet<std::pair<int, int>> m_failedOperators;
    bool m_locked = false;
    std::unique_ptr<QLockFile> m_lockFile; // the lock of an SQLite central database
};

// The work folder of a package: the import folder (ending with a separator) and the package's
// file name cut to 36 characters, without its last extension.
QString ImportWorkFolder(const QString &importPath, const QString &packagePath);

// The files of the volume set that starts with firstVolume, in order: the first volume, then
// "base.partN.ext" numbering or "base.L00", "base.L01", ... (L: first letter of the extension),
// as the archiver names them. Only files that exist.
QStringList PackageVolumes(const QString &firstVolume);

// Runs the import in the progress window; true only when it succeeded.
bool ImportWorkstationPackage();
