#pragma once

#include "engine/database.h"
#include "import/importjournal.h"
#include "replication/consolejobwindow.h"
#include "replication/rplthread.h"

#include <QCryptographicHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QThread>
#include <memory>

// What the import tests run their jobs in and read the central database by.

// A job window that keeps what the job shows and cancels the job once it shows `stopOn`.
class RecordingWindow : public TJobWindow
{
public:
    void PrepareForJob() override {}
    void SetCaption(const QString &c) override { caption = c; }
    void ClearMessages() override { lines.clear(); }
    void AddMessage(const QString &line) override
    {
        lines << line;
        if (job && !stopOn.isEmpty() && line == stopOn)
            job->Terminate();
    }
    void SetGauge(int) override {}
    void JobFinished(int) override {}
    QString caption;
    QStringList lines;
    QString stopOn;
    TRplThread *job = nullptr;
};

// Runs the job that `make` builds for the window to its end; `done` sees the job when its thread
// has finished. The job's result.
template <class Job, class Make, class Done> int runJob(RecordingWindow &w, Make make, Done done)
{
    return RunJob(w, [&](TJobWindow &window) {
        std::unique_ptr<Job> job = make(window);
        w.job = job.get();
        QObject::connect(job.get(), &QThread::finished, job.get(),
                         [&done, j = job.get()] { done(*j); });
        return std::unique_ptr<TRplThread>(std::move(job));
    });
}

// Every table of the database as "name: rows digest-of-its-sorted-rows".
inline QStringList tableDigest(TDatabase &db)
{
    QStringList out;
    QStringList tables = db.Sql().tables();
    tables.sort(Qt::CaseInsensitive);
    for (const QString &t : std::as_const(tables)) {
        if (t.startsWith(QLatin1String("sqlite_")))
            continue;
        QSqlQuery q(db.Sql());
        if (!q.exec(QStringLiteral("SELECT * FROM ") + t))
            qFatal("%s", qPrintable(t));
        QStringList rows;
        while (q.next()) {
            QStringList values;
            for (int i = 0; i < q.record().count(); ++i)
                values << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
            rows << values.join(QLatin1Char('|'));
        }
        rows.sort();
        const QByteArray hash = QCryptographicHash::hash(rows.join(QLatin1Char('\n')).toUtf8(),
                                                         QCryptographicHash::Sha256);
        out << QStringLiteral("%1: %2 %3")
                   .arg(t.toUpper())
                   .arg(rows.size())
                   .arg(QString::fromLatin1(hash.toHex()));
    }
    return out;
}

// Counts per table as "Table new/edited/mappings/registrations".
inline QString countsText(const QString &table, qint64 newRows, qint64 edited, qint64 mappings,
                          qint64 registrations)
{
    return QStringLiteral("%1 %2/%3/%4/%5")
        .arg(table)
        .arg(newRows)
        .arg(edited)
        .arg(mappings)
        .arg(registrations);
}
inline QStringList countsText(const QList<TImportTableCounts> &counts)
{
    QStringList out;
    for (const TImportTableCounts &c : counts)
        out << countsText(c.Table, c.NewRows, c.EditedRows, c.NewMappings, c.Registrations);
    return out;
}

// The counts the journal holds for a run, in step order.
inline QStringList journalCounts(TDatabase &db, qint64 run)
{
    QSqlQuery q(db.Sql());
    q.prepare(QStringLiteral("SELECT TABLENAME, NEWROWS, EDITEDROWS, NEWMAPPINGS, REGISTRATIONS "
                             "FROM IMPORTJOURNALTABLE WHERE RUNGID = ? ORDER BY STEPNO"));
    q.addBindValue(run);
    if (!q.exec())
        qFatal("%s", qPrintable(q.lastError().text()));
    QStringList out;
    while (q.next())
        out << countsText(q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toLongLong(),
                          q.value(3).toLongLong(), q.value(4).toLongLong());
    return out;
}
