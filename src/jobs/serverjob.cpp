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
        m_center->Open();
    }
    return *m_center;
}

TSIEDM &TSrvRplThread::SIEDM()
{
    if (!m_siedm)
        m_siedm = std::make_unique<TSIEDM>(&Center(), nullptr);
    return *m_siedm;
}

void TSrvRplThread::ThreadCleanup()
{
    m_siedm.reset();
    m_center.reset();
}
