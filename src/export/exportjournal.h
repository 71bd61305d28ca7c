#pragma once

#include "jobs/jobframe.h"
#include "schema/journalconnection.h"

#include <QDateTime>
#include <QString>

class TDatabase;

// Results of an export as the journal keeps them (the words of the import journal).
inline const QString ExportResultSucceeded = QStringLiteral("успешно");
inline const QString ExportResultFailed = QStringLiteral("ошибка");
inline const QString ExportResultCancelled = QStringLiteral("прервано");
inline const QString ExportResultUnfinished = QStringLiteral("не завершён");

// What an export made, as its end records it.
struct TExportedPackage
{
    QString Name;    // the first volume's file name
    qint64 Size = 0; // all volumes together
    QString Label;   // the archive comment
    QString Folder;  // where its volumes are (the hospital's or brigade's folder)
};

// What an export run did: the value its journal record is made from.
struct TExportResult
{
    QString Result;           // ExportResult*; empty when the run did not begin
    QString Error;            // the message the run failed with
    TExportedPackage Package; // empty unless packed
    QList<TTableRows> Tables; // rows written per package table, in export order
};

// The export journal in the central database (table EXPORTJOURNAL): when, which workstation,
// the package, the result and who ran it. Each record is one statement on the journal's own
// connection, committed at once, so that neither the export's read snapshot nor its failure
// takes the record with it; a run that never ends stays "не завершён". The table is made on
// first use in a database made before it.
class TExportJournal
{
public:
    // `center` names the central database and the credentials; it is not used afterwards.
    explicit TExportJournal(const TDatabase &center);

    // Records the start of an export to workstation wstGID ("не завершён"); its identifier.
    qint64 Begin(int wstGID, const QDateTime &start);
    // Records the end of run `run`: its result, the package (empty when none was made) and the
    // error's message.
    void End(qint64 run, const TExportResult &result, const QDateTime &end);

private:
    TJournalConnection m_connection;
};
