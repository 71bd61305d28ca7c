#pragma once

#include <QList>
#include <QString>

class TDatabase;
class TJobReport;
class TQuery;

// The hospitals of a synchronisation with ЕСВС: every row of the ЕСВС hospital query (source,
// not opened) is written into HOSPITAL, found by IDMU (edited) or appended, its first 21 columns
// by position into the first 21 of TImExternalToServer::HospitalFields(), its type (HTPGID, by
// IDTMU) and region (REGGID, by the cut code of its last column, OKATO) looked up in the central
// tables as they stand now, or Null. Returns the rows written.
//
// The rows go in one transaction of center that is committed however the step ends, each behind
// a savepoint of its own where a refused statement would abort the transaction: a row the
// database refuses, or with a value its central column cannot hold (text in a flag column,
// "yes" and "да" included, is not taken for a flag), is logged ("ОШИБКА!!! " with the message, then
// "IDMU = " and its number), added to refused and skipped, and takes no other row with it. Any
// other failure ends the step with the rows before it written. The gauge advances by one per row
// from the report's Position; a stop request ends the step after the row being written.
//
// The query is read once, a window of rows at a time, and the central rows of a window's IDMUs
// are read with one statement rather than one search per row.
struct TRefusedHospital;
int CopyHospitals(TJobReport &report, TQuery &source, TDatabase &center,
                  QList<TRefusedHospital> &refused);
