#pragma once

#include "data/siedm.h"
#include "replication/rplthread.h"

#include <memory>

class TDatabase;

// The connection the user logged in with to the central database. A job does not use it (it
// belongs to the user-interface thread) but opens its own connection to the same alias with
// the same credentials. Set by the main window once connected.
void SetCentralDatabase(const TDatabase *database);
const TDatabase *CentralDatabase();

// Base of the server-side jobs: refuses to run on an installation that is not the server, and
// gives the job's body its own central connection and data module, both made and released on
// the worker thread.
class TSrvRplThread : public TRplThread
{
    Q_OBJECT
public:
    // Raises ERplException "Функция недоступна" unless the installation of info is the server.
    // center: the connection the user logged in with, which the job clones on its thread (null:
    // the job fails with "Нет подключения" when it needs it); both must outlive the job.
    TSrvRplThread(TJobWindow &window, const TAppInfo &info, const TDatabase *center);
    // The same with the program's configuration and central connection (AppInfo,
    // CentralDatabase()).
    explicit TSrvRplThread(TJobWindow &window);
    ~TSrvRplThread() override;

protected:
    // The job's data module over its own central connection (opened at first use, on the
    // worker thread). Raises the engine's error when the connection fails.
    TSIEDM &SIEDM();
    TDatabase &Center();

    void ThreadCleanup() override;

private:
    const TDatabase *m_centerSource;
    std::unique_ptr<TDatabase> m_center;
    std::unique_ptr<TSIEDM> m_siedm;
};
