#include "engine/transaction.h"

#include "core/errors.h"
#include "engine/database.h"
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
