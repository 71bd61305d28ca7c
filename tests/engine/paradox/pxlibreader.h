#pragma once

#include <QString>
#include <QVariant>
#include <vector>

// pxlib as an independent second reader of Paradox files. Its known deviations, which the tests
// allow for:
//  - a Null short, long, autoinc, date or time comes back as the minimum of its type and a Null
//    timestamp as 0 and a Null BCD as a string of '?': read() turns these back into Null, since the
//    minimum cannot be stored;
//  - a Null number or money comes back as 0.0, which cannot be told from a real zero: callers
//    accept 0.0 from pxlib where our reader says Null (samePxValue());
//  - it reads memo and blob fields from the .MB file only, BCD as text, and ignores everything it
//    does not understand in the header.
namespace pxoracle {

struct Table
{
    bool ok = false;
    QString error;
    std::vector<QString> fieldNames;
    std::vector<int> fieldTypes;
    int keyFields = 0;
    int recordCount = 0;
    std::vector<std::vector<QVariant>> rows; // values converted like our reader converts them
};

// Reads every record. With usePrimaryIndex the .PX is read and attached, so records are found
// through the index; indexPath names it.
// Our value against pxlib's, allowing for the deviations above.
bool samePxValue(const QVariant &ours, const QVariant &pxlib);

Table read(const QString &path, const QString &indexPath = {}, bool usePrimaryIndex = false);

} // namespace pxoracle
