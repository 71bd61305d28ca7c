#pragma once

#include <QSet>
#include <utility>

class TDatabase;
class TMergeWalk;
class TQuery;

// The registration of operators and workstations that the centre does not know yet, as package
// rows name them: the operator with its workstation and, when missing centrally, the
// workstation's hospital, region, hospital type and brigade, copied from the package.
class TOperatorRegistration
{
public:
    // srv: a free query on the central connection center, wst one on the package; walk: the
    // walk whose window a registration commits first (and opens again after).
    TOperatorRegistration(TDatabase &center, TQuery &srv, TQuery &wst, TMergeWalk &walk);

    // Registers operator u of workstation w (u = -1: any operator of w) unless the centre knows
    // it. One transaction of its own (a savepoint of a dry run's); a failure is rolled back and
    // reported to nobody: the operator is tried again only after another registration succeeded
    // (which may bring what it lacked).
    void Register(int w, int u);

    // Operators registered since the last call.
    int TakeRegistrations();
    // Forgets what is known (a new package).
    void Clear();

private:
    void registerInTransaction(int w, int u);

    TDatabase &m_center;
    TQuery &m_srv;
    TQuery &m_wst;
    TMergeWalk &m_walk;
    int m_registrations = 0;
    // Operators known centrally, and those whose registration failed since the last one that
    // committed.
    QSet<std::pair<int, int>> m_known;
    QSet<std::pair<int, int>> m_failed;
};
