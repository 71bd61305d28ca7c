#pragma once

#include "import/importjournal.h"
#include "import/mergewalk.h"
#include "import/registration.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <vector>

class TDataSet;
class TDatabase;
class TField;
class TJobReport;
class TSIEDM;
class TTable;

// The merge of an unpacked package folder into the central database: the package is connected
// as the package database through the run-only alias "AIS_RODE_SRV_IMPOR_TEMP", and its eleven
// tables are merged in parent-before-child order, dictionary rows through their mapping tables,
// owned rows by (local identifier, workstation), diagnoses by (document, diagnosis, type);
// operators and workstations new to the centre are registered on the way. Whoever runs it holds
// the import lock (schema/importlock.h): one merge at a time per central database.
class TPackageMerge
{
public:
    // dm: the job's data module over center; report: where the steps log; windowRows: package
    // rows per central transaction; dryRun: everything in one transaction that is rolled back,
    // a refused row recorded in problems and the walk going on.
    TPackageMerge(TDatabase &center, TSIEDM &dm, TJobReport &report, int windowRows, bool dryRun,
                  TImportProblems &problems);

    // A refused row is skipped, and the rows that depend on it are refused in turn (see
    // TMergeWalk); a dry run does so always, to show what such an import brings.
    void SetKeepGoing(bool on) { m_walk.SetKeepGoing(on); }
    void SetKeepGoingQuestion(std::function<bool(const TImportProblem &)> ask)
    {
        m_walk.SetKeepGoingQuestion(std::move(ask));
    }

    // Merges the package folder; disconnects the package and removes the alias whatever
    // happened. Raises the first error.
    void Run(const QString &folder);

    // What each step did (committed rows), in import order; also after a failure, up to it.
    const QList<TImportTableCounts> &Counts() const { return m_counts; }

    // The merge procedures; each returns its count (new mappings, rows written).
    int ImportAuxTable(TTable &wst, TTable &central, const QStringList &columns,
                       const QString &prefix, TTable &mapping);
    int ImportLocalTable(TTable &wst, TTable &central, const QStringList &columns,
                         const QString &prefix);
    int ImportDiagTable(TTable &wst, TTable &central);

private:
    // A row's link to a row of an earlier step (or its own step) by local identifier.
    struct TParentLink
    {
        QString table; // the parent's step
        TField *lid;   // the package column naming the parent
        TField *wst;
        TField *central; // the derived column of the parent's central identifier
    };
    std::vector<TParentLink> parentLinks(TTable &wst) const;
    // Refuses the current row when a row it depends on was refused and is not in the centre
    // ("Запись зависит от отвергнутой записи ..."), so that nothing is stored half-linked.
    void refuseOrphan(const std::vector<TParentLink> &parents) const;
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
    TImportProblems &m_problems;
    // The step of each central and mapping table.
    QHash<const TDataSet *, QString> m_stepOf;
    TMergeWalk m_walk;
    TOperatorRegistration m_registration;
    QList<TImportTableCounts> m_counts;
};
