#pragma once

// A transaction held by a scope.
//
//   {
//       TTransaction tx(db);   // BEGIN, or a savepoint when db is already in a transaction
//       ... statements ...
//       tx.Commit();           // COMMIT (or RELEASE of the savepoint)
//   }                          // left without Commit (an exception): ROLLBACK (to the savepoint)
//
// Nesting is safe: an inner guard inside an outer one is a savepoint of the outer transaction,
// so an inner failure undoes only the inner work and the outer guard decides about the rest.
// On a folder database (Paradox) the guard only marks the transaction, as TDatabase does.
// A guard is used on the thread of its TDatabase and must not outlive it.

#include <QString>

class TDatabase;

class TTransaction
{
public:
    explicit TTransaction(TDatabase &db);
    ~TTransaction();
    TTransaction(const TTransaction &) = delete;
    TTransaction &operator=(const TTransaction &) = delete;

    // Makes the work permanent (for a nested guard: part of the outer transaction). Throws
    // EDBEngineError with the engine's message; the guard is then finished and rolls nothing
    // back of its own accord.
    void Commit();
    // Undoes the work now (the destructor does it when neither was called).
    void Rollback();

    bool Nested() const { return !m_savepoint.isEmpty(); }
    bool Active() const { return m_active; }

private:
    TDatabase &m_db;
    QString m_savepoint; // empty for the outermost guard
    bool m_active = false;
};
