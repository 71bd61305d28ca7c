#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class TDataSet;
class TJobReport;

// Copies every row of source into dest and returns the number of rows written; both datasets
// are closed in every case. The gauge follows the rows; a stop request ends the copy after the
// row being written. fields: the destination columns to write (any letter case), each taken
// from the source column of the same name; other destination columns are left alone. Empty:
// every stored destination column from the source column at its position. keyFields
// (";"-joined, may be empty): a destination row with these values (case folded) is updated
// instead of a new row appended. The caller's filter applies only to a source with a
// LastUpdate column. Any failure to write, the closing of the destination included (a folder
// table reaches its file then), is thrown; a row that cannot be written is named in the
// message by its key values.
//
// findDest, when given, finds the destination row of the current source row in place of the
// search by keyFields (which then only name the row in messages): true when it made that row
// the current one of dest, false for a new row.
int CopyRecords(TJobReport &report, TDataSet &source, TDataSet &dest, const QString &keyFields,
                const QStringList &fields = {}, const std::function<bool()> &findDest = {});
