#pragma once

// The SQL table cursor on PostgreSQL, where every statement is a round trip: many whole-number
// keys are looked up with one statement of arrays (keyarrays.cpp), and new rows may be held back
// and sent in groups (groupinserts.cpp).

#include "engine/sql/tablecursor.h"

namespace engine {

class TPgTableCursor final : public TSqlTableCursor
{
public:
    using TSqlTableCursor::TSqlTableCursor;

    bool HoldInsert(TRow &row) override;
    void SendHeld() override;
    void DropHeld() override { m_held.clear(); }

protected:
    bool locateAtOnce(const QList<int> &columns, const QList<TBoundValues> &keys,
                      const QList<int> &results, const QString &select,
                      const std::function<void(const TRow &)> &visit) override;

private:
    static constexpr int HeldRows = 256;

    QVariant reservedNumber(int key);

    TBoundValues m_held;      // rows held back, column after column
    QList<qint64> m_reserved; // numbers of the key's sequence taken ahead
    QString m_sequence;
    bool m_sequenceLooked = false;
};

} // namespace engine
