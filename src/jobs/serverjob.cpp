#include "jobs/serverjob.h"

#include "core/appinfo.h"
#include "core/strconst.h"
#include "engine/database.h"

TSrvRplThread::TSrvRplThread(const TJobContext &context, const TAppInfo &info,
                             const TDatabase &center)
    : TRplThread(context, info), m_centerSource(center)
{
    if (!info.IsServer())
        throw ERplException(StrConst::NotAvailable);
}

TSrvRplThread::~TSrvRplThread() = default;

TDatabase &TSrvRplThread::Center()
{
    if (!m_center) {
        m_center = m_centerSource.CloneForThread();
        // A busy database is waited for in the open, and a stop ends the wait. Connections
        // cloned from this one (the journals') wait alike.
        TBusyWait wait = m_center->BusyWait();
        wait.Waiting = [this] { Log(BusyWaitingLine); };
        wait.Stopped = [this] { return Terminated(); };
        m_center->SetBusyWait(std::move(wait));
        m_center->Open();
    }
    return *m_center;
}

void TSrvRplThread::ThreadCleanup()
{
    m_center.reset();
}
