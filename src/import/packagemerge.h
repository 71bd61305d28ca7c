#pragma once

#include "import/importjournal.h"
#include "import/mergewalk.h"
#include "import/registration.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>

class TDatabase;
class TJobReport;
class TSIEDM;
class TTable;

// The merge of an unpacked package folder into the central database: the package is connected
// as the package database through the run-only alias "AIS_RODE_SRV_IMPOR_TEMP", and its eleven
// tables are merged in parent-before-child order, dictionary rows through their mapping tables,
// owned rows by (local identifier, workstation), diagnoses by (document, diagnosis, type);
// operators and workstations new to the centre are registered on the way. One merge at a time
// per central database (the import lock).
class TPackageMerge
{
public:
    // dm: the job's data module over center; report: where the steps log; windowRows: package
    // rows per central transaction; dryRun: everything in one transaction that is rolled back,
    // a refused row recorded in problems and the walk going on.
    TPackageMerge(TDatabase &center, TSIEDM &dm, TJobReport &report, int windowRows, bool dryRun,
                  TImportProblems &problems);

    // Merges the package folder; disconnects the package and removes the alias whatever
    // happened. Raises the first error, and ERplException LockedMessage() when another merge
    // holds the lock.
    void Run(const QString &folder);

    // What each step did (committed rows), in import order; also after a failure, up to it.
    const QList<TImportTableCounts> &Counts() const { return m_counts; }

    // The merge procedures; each returns its count (new mappings, rows written).
    int ImportAuxTable(TTable &wst, TTable &central, const QStringList &columns,
                       const QString &prefix, TTable &mapping);
    int ImportLocalTable(TTable &wst, TTable &central, const QStringList &columns,
                         const QString &prefix);
    int ImportDiagTable(TTable &wst, TTable &central);

    // The text of a merge refused because another one runs.
    static const QString &LockedMessage();

private:
    void runSteps();
    // The frame of a merge procedure: opens the central tables, then the package table, and
    // walks it with the row merge that prepare() makes once they are open; a row that fails
    // leaves no edit open in the targets. Logs the committed count however it ends and returns
    // it; every table is closed. On a server the rows of each window are read ahead, and the
    // first target keeps the rows they look up, and locate by locateKeys.
    int mergeTable(TTable &wst, std::initializer_list<TTable *> targets, bool progressLines,
                   const std::function<std::function<bool()>()> &prepare,
                   const QString &locateKeys = {});

    TDatabase &m_center;
    TSIEDM &m_dm;
    TJobReport &m_report;
    TMergeWalk m_walk;
    TOperatorRegistration m_registration;
    QList<TImportTableCounts> m_counts;
};
