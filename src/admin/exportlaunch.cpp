#include "admin/exportlaunch.h"

#include "export/exportjob.h"
#include "ui/progresswindow.h"

bool ExportToWorkstation(const TAppInfo &info, const TDatabase &center, int wstGID)
{
    return RunReplication([&info, &center, wstGID](const TJobContext &context) {
        return std::make_unique<TExServerToWorkstation>(context, info, center, wstGID);
    });
}
