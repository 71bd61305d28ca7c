#include "app/joblaunch.h"

#include "core/appinfo.h"
#include "import/importjob.h"
#include "sync/syncjob.h"
#include "ui/dialogs.h"
#include "ui/progresswindow.h"

#include <QDir>

namespace {

const QString kFilter = QStringLiteral("Копия внутренних справочников (*.w2s)");

// The import job with the user's questions: the open dialog, the repeat question and whether to
// go on past a refused row.
std::unique_ptr<TImWorkstationToServer> importJob(const TJobContext &context, const TAppInfo &info,
                                                  const TDatabase &center)
{
    auto job = std::make_unique<TImWorkstationToServer>(context, info, center);
    job->SetPackageChooser([&info] {
        // The dialog starts in the import folder through the current directory, which is
        // given back afterwards whatever the dialog did with it.
        const QString current = QDir::currentPath();
        QDir::setCurrent(info.ImportPath);
        const QString chosen = TDialogs::OpenFile(QString(), kFilter);
        QDir::setCurrent(current);
        return chosen;
    });
    job->SetRepeatQuestion([](const QDateTime &imported) {
        return TDialogs::QuestionDefaultNo(RepeatQuestion(imported));
    });
    job->SetKeepGoingQuestion([](const TImportProblem &refused) {
        return TDialogs::QuestionDefaultNo(KeepGoingQuestion(refused));
    });
    // Another import runs: the user may wait for it in the progress window, Cancel ending the
    // wait.
    job->SetProgram(QStringLiteral("окно"));
    job->SetLockWait(TImWorkstationToServer::TLockWait::Wait);
    job->SetLockQuestion([](const TImportLockHolder &holder) {
        return TDialogs::Confirmation(LockWaitQuestion(holder));
    });
    return job;
}

} // namespace

bool SyncExternalReferences(const TAppInfo &info, const TDatabase &center)
{
    return RunReplication([&](const TJobContext &context) {
        return std::make_unique<TImExternalToServer>(context, info, center);
    });
}

bool ImportWorkstationPackage(const TAppInfo &info, const TDatabase &center)
{
    return RunReplication(
        [&](const TJobContext &context) { return importJob(context, info, center); });
}

bool CheckWorkstationPackage(const TAppInfo &info, const TDatabase &center)
{
    return RunReplication([&](const TJobContext &context) {
        auto job = importJob(context, info, center);
        job->SetDryRun(true);
        return job;
    });
}
