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

// A read-only transaction that sees the database as it stood when it began, for work that
// reads many tables and must see one picture of them (an export). On a server, where other
// sessions commit meanwhile and rows are made as they are read, it is a REPEATABLE READ, READ
// ONLY transaction; on an embedded database it is nothing. Left without End(), it is rolled
// back (it wrote nothing either way).
class TReadSnapshot
{
public:
    explicit TReadSnapshot(TDatabase &db);
    ~TReadSnapshot();
    TReadSnapshot(const TReadSnapshot &) = delete;
    TReadSnapshot &operator=(const TReadSnapshot &) = delete;

    void End();

private:
    TDatabase &m_db;
    bool m_open = false;
};

// Savepoints around the rows of a transaction that goes on past a refused row, each row behind
// one: released when the next row begins (in the same round trip) or by the commit, rolled
// back when the row is refused. Only where a refusal would abort the whole transaction
// (TDatabase::RefusalAbortsTransaction); elsewhere the database undoes a refused statement by
// itself and these calls do nothing.
class TRowSavepoints
{
public:
    explicit TRowSavepoints(TDatabase &db);
    // A row begins.
    void Begin();
    // The row is written.
    void Keep();
    // The row was refused: its work is undone, the rows before stay.
    void RollBack();
    // An error ends the work: the row being written is undone, the ones before stay.
    void Abandon() noexcept;

private:
    TDatabase &m_db;
    bool m_used;
    bool m_open = false;
    bool m_kept = false;
};
