#pragma once

#include "export/exportjournal.h"
#include "jobs/serverjob.h"

#include <QVariant>
#include <optional>

// The export to one workstation: the reference tables it needs, cut down to its hospital or
// brigade, written as Paradox tables into a package folder and packed into a ".s2w" archive in
// the folder of its hospital (or brigade) under the export folder. Every run is recorded in the
// export journal.
class TExServerToWorkstation : public TSrvRplThread
{
public:
    // info and center as for TSrvRplThread.
    TExServerToWorkstation(const TJobContext &context, const TAppInfo &info,
                           const TDatabase &center, int wstGID);

    int WstGID() const { return m_wstGID; }
    // What the last run did; read once the job has ended.
    const TExportResult &Result() const { return m_result; }

    // The WHERE clause of the central query of table U (upper case) for a workstation with
    // brigade b, hospital h of type y (each null when absent) and identifier w; nullopt when the
    // table is not exported to this workstation.
    static std::optional<QString> SelectionFilter(const QString &u, int w, const QVariant &b,
                                                  const QVariant &h, const QVariant &y);

protected:
    void PrepareWindow() override;
    void Execute() override;

private:
    void journaledExport();
    void exportPackage();

    int m_wstGID;
    TExportResult m_result;
};
