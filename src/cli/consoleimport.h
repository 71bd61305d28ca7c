#pragma once

#include "import/importbatch.h"
#include "import/importjournal.h"

#include <QString>

class TAppInfo;
class TDatabase;

// The imports of the command line, run once the configuration and the central connection stand:
//   zoru-admin --import <package.w2s> [--force | --dry-run]
//   zoru-admin --import-all [--force]
// A package whose checksum the import journal knows from a successful run is not imported again
// without --force.

// Exit code of a package refused because it was imported before.
inline constexpr int ExitAlreadyImported = 4;
// Exit code of an import that completed past refused rows, which it skipped (--keep-going).
inline constexpr int ExitImportedWithSkips = 5;
// Exit code of an import that met another one ("занято"): --import after waiting up to the busy
// limit, --import-all at once. Nothing was journaled, no package touched.
inline constexpr int ExitImportBusy = 7;

struct TConsoleImportOptions
{
    bool Force = false;     // --force: a package imported before is imported again
    bool DryRun = false;    // --dry-run
    bool KeepGoing = false; // --keep-going: refused rows are skipped, not the end
};

// The exit status of one package's run from what it did (runStatus: the terminal's status of the
// job's run, 128 + signal when a signal stopped it).
int ImportExitStatus(const TImportResult &result, int runStatus);
// The line of a batch summary of one package's run.
TImportBatchEntry ImportBatchEntry(const QString &package, const TImportResult &result,
                                   double seconds);

// One package: 0 success, ExitAlreadyImported (also for a package another run imported while
// this one waited), ExitImportedWithSkips, ExitImportBusy, 1 failure, 128 + signal when
// stopped. A dry run changes nothing and reports what the import would do; 1 also when it
// found problems.
int RunConsoleImport(const TAppInfo &info, const TDatabase &center, const QString &package,
                     const TConsoleImportOptions &options);

// Every package of the import folder, oldest first, one after another, under one import lock:
// meeting another import, the batch leaves at once with ExitImportBusy and one line, touching
// nothing. A failed package stays where it is and the next one is taken. A summary table closes the
// run on the terminal and in log.txt. 0 only when every package succeeded (also when there was
// none); 128 + signal when stopped, 1 when one failed, else ExitImportedWithSkips when one skipped
// rows.
int RunConsoleImportAll(const TAppInfo &info, const TDatabase &center,
                        const TConsoleImportOptions &options);
