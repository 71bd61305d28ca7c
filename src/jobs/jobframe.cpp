#include "jobs/jobframe.h"

#include "core/appinfo.h"
#include "core/strconst.h"
#include "jobs/copyrecords.h"

TRplThread::TRplThread(const TJobContext &context, const TAppInfo &info)
    : TJobReport(context, info.SiteFolder()), m_info(info)
{
}

TRplThread::~TRplThread() = default;

int TRplThread::Run()
{
    m_outcome = TJobOutcome{};
    Position = 0;
    Total = 100;
    ResetGauge();
    try {
        PrepareWindow();
        Execute();
    } catch (...) {
        // Execute guards its own work; nothing may escape the job.
    }
    try {
        ThreadCleanup();
    } catch (...) {
    }
    return ReturnCode();
}

void TRplThread::RunGuarded(const QString &title, const QString &completion,
                            const std::function<void()> &work)
{
    RunGuarded(title, [&] {
        work();
        return completion;
    });
}

void TRplThread::RunGuarded(const QString &title, const std::function<QString()> &work)
{
    m_outcome = TJobOutcome{};
    try {
        Log(title);
        Log(StrConst::Separator);
        const QString completion = work();
        Log(StrConst::Separator);
        Log(completion);
        m_outcome.End = TJobOutcome::Completed;
        SetReturnCode(1);
    } catch (const std::exception &e) {
        failed(ErrorMessage(e));
    } catch (...) {
        failed(QString());
    }
}

void TRplThread::failed(QString message)
{
    // An error line always says something.
    if (message.trimmed().isEmpty())
        message = QStringLiteral("Неизвестная ошибка");
    m_outcome.End = EndOf(message);
    m_outcome.Error = message;
    try {
        Log(StrConst::Separator);
        Log(StrConst::ErrorPrefix + message);
    } catch (...) {
        // The log itself failed; the outcome still says the job ended with an error.
    }
}

TJobOutcome::TEnd TRplThread::EndOf(const QString &error) const
{
    // A stop request, or the user's No to a question the job asked.
    return Terminated() || error == StrConst::Interrupted ? TJobOutcome::Cancelled
                                                          : TJobOutcome::Failed;
}

int TRplThread::CopyRecords(TDataSet &source, TDataSet &dest, const QString &keyFields,
                            const QStringList &fields)
{
    return ::CopyRecords(Report(), source, dest, keyFields, fields);
}
