// Inserts held back and sent in groups (SetGroupInserts): the dataset's cursor holds them, and
// its database sends them before it commits or sets a savepoint and drops them when work is
// taken back.

#include "engine/database.h"
#include "engine/dataset.h"

void TDataSet::SetGroupInserts(bool on)
{
    if (!on) {
        if (!m_groupInserts)
            return;
        m_groupInserts->ReleaseWrites(this);
        m_groupInserts = nullptr;
        if (m_cursor)
            m_cursor->SendHeld();
        return;
    }
    CheckActive();
    TDatabase *db = Database();
    if (m_groupInserts || !db)
        return;
    m_groupInserts = db;
    db->HoldWrites(
        this,
        [this] {
            if (m_cursor)
                m_cursor->SendHeld();
        },
        [this] {
            if (m_cursor)
                m_cursor->DropHeld();
        });
}
