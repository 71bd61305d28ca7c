#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// The import of every package waiting in the import folder, one volume set after another.

// The first volumes of the packages (".w2s") in `folder`, oldest first (by the first volume's
// modification time, then by name); further volumes of "name.partN.w2s" sets are left out.
QStringList ImportBatchPackages(const QString &folder);

// One package of a batch as the summary shows it.
struct TImportBatchEntry
{
    QString Package; // file name of the first volume
    QVariant WstGID; // the workstation the label names (Null: unknown)
    QString Result;  // "успешно", "ошибка", "прервано"
    qint64 Rows = 0; // rows written (new and edited) and new mappings
    double Seconds = 0;
    QString Error;
};

// The summary table: a heading, one line per package, a closing line with the totals.
QStringList ImportBatchSummary(const QList<TImportBatchEntry> &entries);

// Appends lines to the log file of the program folder as the jobs write it (local time, "> ",
// the line; cp1251; flushed). Raises EFileError when it cannot be written.
void AppendToLogFile(const QString &appFolder, const QStringList &lines);
