#pragma once

#include "jobs/jobframe.h"

#include <memory>

class TDatabase;

// TSrvRplThread: a job of the central site, with its own central connection.
//
// Base of the server-side jobs: refuses to run on an installation that is not the server, and
// gives the job's body its own connection to the central database, made at first use on the
// thread the job runs on and released there.
class TSrvRplThread : public TRplThread
{
public:
    // Raises ERplException "Функция недоступна" unless the installation of info is the server.
    // center: the connection the user logged in with; the job opens its own connection to the
    // same database with the same credentials (center must outlive the job).
    TSrvRplThread(const TJobContext &context, const TAppInfo &info, const TDatabase &center);
    ~TSrvRplThread() override;

protected:
    // The job's own central connection, opened at first use. Raises the engine's error when
    // the connection fails.
    TDatabase &Center();

    void ThreadCleanup() override;

private:
    const TDatabase &m_centerSource;
    std::unique_ptr<TDatabase> m_center;
};
