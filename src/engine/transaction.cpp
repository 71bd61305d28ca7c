#include "engine/transaction.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/sql/sqldriver.h"
#include "engine/sqlscript.h"

namespace {

QString nextSavepoint()
{
    static thread_local int counter = 0;
    return QStringLiteral("zoru_sp_%1").arg(++counter);
}

} // namespace

TTransaction::TTransaction(TDatabase &db) : m_db(db)
{
    if (!m_db.InTransaction()) {
        m_db.StartTransaction();
    } else if (!m_db.IsFolder()) {
        // Rows held back belong to the work before the savepoint.
        m_db.SendHeldWrites();
        m_savepoint = nextSavepoint();
        engine::ExecuteStatement(m_db, QStringLiteral("SAVEPOINT ") + m_savepoint);
    } else {
        m_savepoint = QStringLiteral("folder");
    }
    m_active = true;
}

TTransaction::~TTransaction()
{
    if (!m_active)
        return;
    try {
        Rollback();
    } catch (...) {
        // A destructor runs while an error is on its way: that error is the one to report.
    }
}

void TTransaction::Commit()
{
    if (!m_active)
        throw EDBEngineError(QStringLiteral("Транзакция не начата"));
    m_active = false;
    if (!Nested()) {
        m_db.Commit();
    } else if (!m_db.IsFolder() && m_db.InTransaction()) {
        engine::ExecuteStatement(m_db, QStringLiteral("RELEASE SAVEPOINT ") + m_savepoint);
    }
}

void TTransaction::Rollback()
{
    if (!m_active)
        return;
    m_active = false;
    if (!m_db.Connected() || !m_db.InTransaction())
        return; // the outer work was already ended by someone else
    if (!Nested()) {
        m_db.Rollback();
    } else if (!m_db.IsFolder()) {
        m_db.NoteRollback();
        engine::ExecuteStatement(m_db, QStringLiteral("ROLLBACK TO SAVEPOINT ") + m_savepoint);
        engine::ExecuteStatement(m_db, QStringLiteral("RELEASE SAVEPOINT ") + m_savepoint);
    }
}

TReadSnapshot::TReadSnapshot(TDatabase &db) : m_db(db)
{
    // Where nothing else commits meanwhile, the database is one picture anyway.
    const engine::TSqlDriver *driver = m_db.SqlDriver();
    const QString snapshot = driver ? driver->SnapshotStatement() : QString();
    if (snapshot.isEmpty())
        return;
    m_db.StartTransaction();
    m_open = true;
    engine::ExecuteStatement(m_db, snapshot);
}

TReadSnapshot::~TReadSnapshot()
{
    if (!m_open || !m_db.Connected() || !m_db.InTransaction())
        return;
    try {
        m_db.Rollback();
    } catch (...) {
        // Read only: nothing is lost with it.
    }
}

void TReadSnapshot::End()
{
    if (!m_open)
        return;
    m_open = false;
    m_db.Commit();
}

namespace {

const QString kRowSavepoint = QStringLiteral("SAVEPOINT zoru_row");
const QString kReleaseRow = QStringLiteral("RELEASE SAVEPOINT zoru_row");
const QString kRollBackRow = QStringLiteral("ROLLBACK TO SAVEPOINT zoru_row");

} // namespace

TRowSavepoints::TRowSavepoints(TDatabase &db) : m_db(db), m_used(db.RefusalAbortsTransaction()) {}

void TRowSavepoints::Begin()
{
    if (!m_used)
        return;
    engine::ExecuteStatement(
        m_db, m_kept ? QString(kReleaseRow + QStringLiteral("; ") + kRowSavepoint) : kRowSavepoint);
    m_kept = false;
    m_open = true;
}

void TRowSavepoints::Keep()
{
    m_open = false;
    m_kept = true;
}

void TRowSavepoints::RollBack()
{
    if (!m_open)
        return;
    m_open = false;
    engine::ExecuteStatement(m_db, kRollBackRow + QStringLiteral("; ") + kReleaseRow);
}

void TRowSavepoints::Abandon() noexcept
{
    if (!m_open)
        return;
    try {
        RollBack();
    } catch (...) {
        // The error that ends the work is reported; what follows fails likewise.
    }
}
