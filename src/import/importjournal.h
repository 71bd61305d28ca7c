#pragma once

#include "package/packageinfo.h"
#include "schema/journalconnection.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

class TDatabase;

// Results of an import run as the journal shows them.
inline const QString ImportResultSucceeded = QStringLiteral("успешно");
inline const QString ImportResultFailed = QStringLiteral("ошибка");
inline const QString ImportResultCancelled = QStringLiteral("прервано");
// Completed past refused rows, which it skipped (the journal lists them).
inline const QString ImportResultSkipped = QStringLiteral("с пропусками");
// Written with the start of a run; a run that never wrote its end keeps it.
inline const QString ImportResultUnfinished = QStringLiteral("не завершён");

// What an import did to one central table.
struct TImportTableCounts
{
    QString Table; // the step's label ("City", "Person", ...)
    qint64 NewRows = 0;
    qint64 EditedRows = 0;
    qint64 UnchangedRows = 0;
    qint64 NewMappings = 0;
    qint64 Registrations = 0;
};

// A package row the centre refused: a problem of a dry run, a row an import skipped.
struct TImportProblem
{
    QString Table;    // the step's label ("Person")
    QString Key;      // the package column of its own local identifier ("PrnLID")
    QVariant LocalId; // the row's own local identifier (Null when it has none that reads)
    QVariant WstGID;
    QString Message;
};

// What an import run did, as it ended: the value its journal record, its window's closing
// lines, the line of a batch summary and the command line's exit status are made from.
struct TImportResult
{
    // ImportResult* as the journal records it; empty when the run did not begin.
    QString Result;
    QString Error; // the message the run failed with
    TImportPackageInfo Package;
    QList<TImportTableCounts> Tables; // committed rows per step, in import order
    QList<TImportProblem> Refused;    // every row the run refused, in the order met
    bool DryRun = false;
    // Not imported: the journal knows the package from a successful run, or another run
    // imported it while this one waited for the lock (PassedOver; the run completed).
    bool Repeated = false;
    bool PassedOver = false;
    bool LockedOut = false; // not started: another import held the lock

    // Rows written: new and edited rows, and new mappings of the dictionary steps (whose rows
    // are the centre's own).
    qint64 RowsWritten() const;
};

// The import journal in the central database (tables IMPORTJOURNAL and IMPORTJOURNALTABLE).
// It works on a connection of its own, cloned from the central connection on the calling thread,
// and writes the start and the end of a run in short transactions of their own: a run whose
// import is rolled back keeps its record, and a run that never ends stays "не завершён". The
// tables are created on first use in a database made before them.
class TImportJournal
{
public:
    // `center` names the central database and the credentials; it is not used afterwards.
    explicit TImportJournal(const TDatabase &center);
    ~TImportJournal();
    TImportJournal(const TImportJournal &) = delete;
    TImportJournal &operator=(const TImportJournal &) = delete;

    // Records the start of a run ("не завершён") and returns its identifier.
    qint64 Begin(const TImportPackageInfo &package, const QDateTime &start);
    // Records the end of run `run` with its per-table counts (in import order) and the rows it
    // refused.
    void End(qint64 run, const QString &result, const QString &error,
             const QList<TImportTableCounts> &tables, const QDateTime &end,
             const QList<TImportProblem> &refused = {});

    // End time of the latest successful run of a package with this checksum.
    std::optional<QDateTime> LastSuccess(const QString &sha256);

private:
    void writeRefused(qint64 run, const QList<TImportProblem> &refused);

    TJournalConnection m_connection;
};

// One journaled run: Begin() at construction, Finish() writes the end from what the run did. A
// run destroyed without Finish() (the process stopped) keeps "не завершён".
class TJournaledRun
{
public:
    TJournaledRun(TImportJournal &journal, const TImportPackageInfo &package);
    void Finish(const TImportResult &result);
    qint64 RunGID() const { return m_run; }

private:
    TImportJournal &m_journal;
    qint64 m_run;
    bool m_finished = false;
};
