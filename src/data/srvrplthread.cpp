#include "data/srvrplthread.h"

#include "core/appinfo.h"
#include "core/strconst.h"
#include "engine/database.h"

#include <atomic>

namespace {
std::atomic<const TDatabase *> centralDatabase{nullptr};
}

void SetCentralDatabase(const TDatabase *database)
{
    centralDatabase.store(database);
}

const TDatabase *CentralDatabase()
{
    return centralDatabase.load();
}

TSrvRplThread::TSrvRplThread(TJobWindow &window)
    : TSrvRplThread(window, ProgramInfo(), CentralDatabase())
{
}

TSrvRplThread::TSrvRplThread(TJobWindow &window, const TAppInfo &info, const TDatabase *center)
    : TRplThread(window, info), m_centerSource(center)
{
    if (!info.IsServer())
        throw ERplException(StrConst::NotAvailable);
}

TSrvRplThread::~TSrvRplThread()
{
    // The body released its connection on its own thread (ThreadCleanup); a job that never ran
    // has none.
    if (isRunning()) {
        Terminate();
        wait();
    }
}

TDatabase &TSrvRplThread::Center()
{
    if (!m_center) {
        if (!m_centerSource)
            throw EDatabaseError(QStringLiteral("Нет подключения к базе данных %1")
                                     .arg(StrConst::CenterDatabaseName));
        m_center = m_centerSource->CloneForThread();
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
