#pragma once

#include "jobs/serverjob.h"

#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

class TDataSet;
class TDatabase;
class TTable;

// A hospital of ЕСВС that the central database refused.
struct TRefusedHospital
{
    qint64 IDMU = 0;
    QString Message;
};

// What a synchronisation did: the value its command-line exit status is made from.
struct TSyncResult
{
    TJobOutcome::TEnd End = TJobOutcome::NotRun;
    QString Error; // the message the run failed with
    // Rows written per table ("Region", "HospType", "Hospital"), for the tables it completed.
    QList<TTableRows> Tables;
    QList<TRefusedHospital> Refused; // in the order met
};

// The synchronisation of the central regions, hospital types and hospitals with the external
// reference system ЕСВС: three queries on ЕСВС are written into REGION, HOSPTYPE and HOSPITAL,
// rows matched by the ЕСВС keys that the central tables keep (REGOKATO, IDTMU, IDMU); a hospital
// gets its central type and region through those keys. Nothing is deleted centrally, and the
// central identifiers (REGGID, HTPGID, HSPGID) of existing rows are never rewritten.
//
// Rows written stay written whatever ends the run (failure, cancellation): regions and types
// are stored one by one; the hospitals go in one transaction that is committed in every case,
// each row behind a savepoint of its own, so that a refused hospital takes no other row with it.
class TImExternalToServer : public TSrvRplThread
{
public:
    // On the thread that makes it (the user interface): refuses an installation that is not the
    // server ("Функция недоступна", no log-in asked), then opens the read-only connection ESVS
    // to the alias of "Settings\AIS_RODE_ESVS_DB" as the user of "Settings\USERNAME_ESVS",
    // asking for the password through the log-in prompt. Throws what fails (missing key,
    // unknown alias, cancelled log-in, wrong password, server out of reach); the job then never
    // runs. info and center as for TSrvRplThread.
    TImExternalToServer(const TJobContext &context, const TAppInfo &info, const TDatabase &center);
    // Closes the ЕСВС connection it opened.
    ~TImExternalToServer() override;

    // The connection opened by the constructor (on the thread that made the job).
    TDatabase &ESVS() const { return *m_esvs; }
    // What the last run did; read once the job has ended.
    TSyncResult Result() const;

    // The three ЕСВС queries, line by line.
    static const QStringList &RegionSQL();
    static const QStringList &HospTypeSQL();
    static const QStringList &HospitalSQL();
    // The central columns written from each query, in the order of the query's columns (the
    // hospital list ends with the two identifiers looked up for each row).
    static const QStringList &RegionFields();
    static const QStringList &HospTypeFields();
    static const QStringList &HospitalFields();

    // The REGOKATO of the region of an OKATO code as ЕСВС delivers it (fixed length, padded):
    // without its trailing blanks, the last six characters replaced by "000000". Empty when the
    // code is Null, blank or shorter than six characters.
    static QString RegionCodeOf(const QVariant &okato);

protected:
    void PrepareWindow() override;
    void Execute() override;
    void ThreadCleanup() override;

private:
    void synchronise();
    int copyRegions(TDatabase &esvs, TDatabase &center);
    int copyHospTypes(TDatabase &esvs, TDatabase &center);
    int copyHospitals(TDatabase &esvs, TDatabase &center);
    // CopyRecords into a central table, in one transaction where the backend allows (batched).
    int copyBatched(TDataSet &source, TTable &dest, const QString &key, const QStringList &fields,
                    const std::function<bool()> &findDest = {});

    std::unique_ptr<TDatabase> m_esvs;       // the thread that made the job
    std::unique_ptr<TDatabase> m_esvsWorker; // the thread the job runs on
    QList<TTableRows> m_tables;
    QList<TRefusedHospital> m_refused;
};
