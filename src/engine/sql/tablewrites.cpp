// How the SQL table cursor writes: an INSERT binds every column but the Null ones the database
// fills, and learns what it filled from RETURNING or the last inserted rowid; an UPDATE writes
// the changed columns by primary key (or row locator); a row whose triggers may change any
// column is read back whole.

#include "core/errors.h"
#include "engine/sql/sqlvalues.h"
#include "engine/sql/tablecursor.h"

namespace engine {

// One statement per table and pattern of Null among the columns the database fills (those with
// a default, an identity or a serial, and the key): a Null column with a default is left out so
// that the default applies; every other column is bound, Null or not. Most tables have no such
// column or one identifier, so a cursor prepares one or two INSERTs for its whole life. The row
// as stored is the row as bound plus what RETURNING reports of the filled columns.
void TSqlTableCursor::Insert(TRow &row)
{
    SendHeld();
    checkWritable();
    const qsizetype n = m_info.columns.size();
    // The row as stored: its values, Null as Null; the statement binds them all but the columns
    // left to their defaults.
    TRow stored = std::move(row);
    stored.resize(n);
    QList<int> shape{-3};
    bool skipped = false;
    for (int i = 0; i < n; ++i) {
        QVariant &v = stored[i];
        if (!IsNullValue(v))
            continue;
        if (v.isValid())
            v = QVariant();
        if (m_filled.contains(i)) {
            shape << i;
            skipped = skipped || m_info.defaulted.contains(i);
        }
    }
    TStatement &query = shaped(shape, [&]() -> QString { return insertSql(shape); });
    if (!skipped) {
        query.exec(stored);
    } else {
        TBoundValues params;
        params.reserve(n);
        for (int i = 0; i < n; ++i)
            if (!IsNullValue(stored.at(i)) || !m_info.defaulted.contains(i))
                params << stored.at(i);
        query.exec(params);
    }
    readInserted(query, shape, stored, row);
    makeCurrent(row);
}

// The row as stored by an INSERT that ran: the bound row with what the database filled in.
void TSqlTableCursor::readInserted(TStatement &query, const QList<int> &shape, TRow &stored,
                                   TRow &row)
{
    const bool located = m_info.keys.isEmpty();
    if (!readsBackWhole() && lastIdOnly(shape)) {
        const QVariant rowid = query.lastInsertId();
        query.finish();
        if (m_info.rowidAlias >= 0 && shape.size() > 1)
            stored[m_info.rowidAlias] = rowid.toLongLong();
        if (located)
            stored << rowid;
        row = std::move(stored);
    } else if (!readsBackWhole()) {
        if (shape.size() > 1 || located) {
            if (!query.next())
                throw EDBEngineError(QStringLiteral("Вставленная запись не найдена"),
                                     query.lastQuery());
            for (int j = 1; j < shape.size(); ++j)
                stored[shape.at(j)] = ColumnValue(query, j - 1, m_info.columns.at(shape.at(j)));
            if (located)
                stored << query.value(static_cast<int>(shape.size() - 1));
        }
        query.finish();
        row = std::move(stored);
    } else if (insertReturnsWhole()) {
        if (!query.next())
            throw EDBEngineError(QStringLiteral("Вставленная запись не найдена"),
                                 query.lastQuery());
        row = readRow(query);
        query.finish();
        // RETURNING showed the row before AFTER triggers ran: it is read again.
        if (!m_driver.ReturningAfterTriggers() && m_info.hasTriggers) {
            TRow returned = row;
            if (!reread(row))
                row = returned;
        }
    } else {
        const QVariant rowid = query.lastInsertId();
        query.finish();
        TStatement &again = byLastInsertId();
        again.exec({rowid});
        if (!again.next())
            throw EDBEngineError(QStringLiteral("Вставленная запись не найдена"),
                                 again.lastQuery());
        row = readRow(again);
        again.finish();
    }
}

// Writes the changed columns; the row as stored is the old row with them, unless triggers may
// have changed more (then RETURNING or a second read), or the row's locator moves with the
// update (a PostgreSQL table without key, addressed by ctid).
void TSqlTableCursor::Update(const TRow &oldRow, const QList<int> &changed, TRow &row)
{
    SendHeld();
    checkWritable();
    if (changed.isEmpty()) {
        // Nothing to write: the row stays as it was read.
        row = oldRow;
        return;
    }
    TBoundValues params;
    for (int c : changed)
        params << (c < row.size() ? row.at(c) : QVariant());
    identifyParams(oldRow, params);
    const bool whole =
        readsBackWhole() || (m_info.keys.isEmpty() && !m_driver.UpdateKeepsLocator());
    const bool returning = whole && updateReturns();
    QList<int> shape = changed;
    shape.prepend(-4);
    TStatement &query = shaped(shape, [&]() -> QString {
        QStringList sets;
        for (int c : changed)
            sets << m_info.quotedColumns.at(c) + QStringLiteral(" = ?");
        QString sql = QStringLiteral("UPDATE ") + m_info.table + QStringLiteral(" SET ") +
                      sets.join(QStringLiteral(", ")) + QStringLiteral(" WHERE ") + m_identify;
        if (returning)
            sql += QStringLiteral(" RETURNING ") + m_columnList;
        return sql;
    });
    query.exec(params);
    const QString gone = QStringLiteral("Запись изменена или удалена другим пользователем");
    if (returning) {
        if (!query.next())
            throw EDBEngineError(gone, query.lastQuery());
        row = readRow(query);
        query.finish();
    } else {
        if (query.numRowsAffected() == 0)
            throw EDBEngineError(gone, query.lastQuery());
        query.finish();
        if (!whole) {
            TRow updated = oldRow;
            while (updated.size() < m_info.columns.size())
                updated << QVariant();
            for (int c : changed)
                updated[c] = c < row.size() ? row.at(c) : QVariant();
            row = std::move(updated);
        } else {
            TRow probe = row;
            if (m_info.keys.isEmpty() && oldRow.size() > m_info.columns.size())
                probe = oldRow; // by its locator, which the update kept
            if (!reread(probe))
                throw EDBEngineError(gone, query.lastQuery());
            row = probe;
        }
    }
    makeCurrent(row);
}

void TSqlTableCursor::Delete(const TRow &row)
{
    SendHeld();
    checkWritable();
    TBoundValues params;
    identifyParams(row, params);
    TStatement &query = shaped({-5}, [&]() -> QString {
        return QStringLiteral("DELETE FROM ") + m_info.table + QStringLiteral(" WHERE ") +
               m_identify;
    });
    query.exec(params);
    query.finish();
    // Next continues after the deleted row's key.
    m_current = row;
    m_hasCurrent = true;
    m_page.clear();
    m_pageEnd = false;
}

void TSqlTableCursor::checkWritable() const
{
    if (m_readOnly)
        throw EDatabaseError(QStringLiteral("Таблица %1 открыта только для чтения").arg(m_name));
}

// RETURNING reports the whole row unless it shows the row before AFTER triggers ran and the
// row can be read again by its rowid.
bool TSqlTableCursor::insertReturnsWhole() const
{
    return m_hasReturning &&
           (m_driver.ReturningAfterTriggers() || !m_info.hasRowid || !m_info.hasTriggers);
}

// The row's number, the only thing the database filled in, comes without RETURNING (which
// costs SQLite a temporary table per statement).
bool TSqlTableCursor::lastIdOnly(const QList<int> &shape) const
{
    if (!m_info.hasRowid)
        return false;
    for (int j = 1; j < shape.size(); ++j)
        if (shape.at(j) != m_info.rowidAlias)
            return false;
    return true;
}

bool TSqlTableCursor::updateReturns() const
{
    return m_hasReturning && (m_driver.ReturningAfterTriggers() || !m_info.hasTriggers);
}

QString TSqlTableCursor::insertSql(const QList<int> &shape) const
{
    QStringList cols, marks;
    for (int i = 0; i < m_info.columns.size(); ++i) {
        if (m_info.defaulted.contains(i) && shape.indexOf(i, 1) > 0)
            continue;
        cols << m_info.quotedColumns.at(i);
        marks << QStringLiteral("?");
    }
    QString sql = QStringLiteral("INSERT INTO ") + m_info.table;
    if (cols.isEmpty())
        sql += QStringLiteral(" DEFAULT VALUES");
    else
        sql += QStringLiteral(" (") + cols.join(QStringLiteral(", ")) +
               QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) +
               QStringLiteral(")");
    m_driver.CheckInsertReported(m_info, m_name);
    if (readsBackWhole()) {
        if (insertReturnsWhole())
            sql += QStringLiteral(" RETURNING ") + m_columnList;
        return sql;
    }
    if (lastIdOnly(shape))
        return sql;
    QStringList returned;
    for (int j = 1; j < shape.size(); ++j)
        returned << m_info.quotedColumns.at(shape.at(j));
    if (m_info.keys.isEmpty())
        returned << m_driver.Locator().column;
    if (!returned.isEmpty())
        sql += QStringLiteral(" RETURNING ") + returned.join(QStringLiteral(", "));
    return sql;
}

// The row an INSERT just stored, by the rowid the database reported (a backend that reports it
// addresses rows by it).
TStatement &TSqlTableCursor::byLastInsertId()
{
    return shaped({-6}, [&]() -> QString {
        return m_selectList + QStringLiteral(" WHERE ") + m_driver.Locator().equals;
    });
}

} // namespace engine
