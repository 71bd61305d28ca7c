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
    try {
        Log(title);
        Log(StrConst::Separator);
        const QString completion = work();
        Log(StrConst::Separator);
        Log(completion);
        SetReturnCode(1);
    } catch (const std::exception &e) {
        QString message = dynamic_cast<const Exception *>(&e)
                              ? static_cast<const Exception &>(e).Message()
                              : QString::fromLocal8Bit(e.what());
        // An error line always says something.
        if (message.trimmed().isEmpty())
            message = QStringLiteral("Неизвестная ошибка");
        try {
            Log(StrConst::Separator);
            Log(StrConst::ErrorPrefix + message);
        } catch (...) {
            // The log itself failed; the window still shows the job ended with an error.
        }
    } catch (...) {
        try {
            Log(StrConst::Separator);
            Log(StrConst::ErrorPrefix + QStringLiteral("Неизвестная ошибка"));
        } catch (...) {
        }
    }
}

int TRplThread::CopyRecords(TDataSet &source, TDataSet &dest, const QString &keyFields,
                            const QStringList &fields)
{
    return ::CopyRecords(Report(), source, dest, keyFields, fields);
}
