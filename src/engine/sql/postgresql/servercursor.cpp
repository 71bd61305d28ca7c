// The rows of a parameterless query on PostgreSQL, read a page at a time through a server-side
// cursor: a large result costs the client one page, and the connection stays free for other
// statements between pages.

#include "engine/database.h"
#include "engine/sql/postgresql/postgresqldriver.h"
#include "engine/sql/queryrows.h"
#include "engine/sql/sqlvalues.h"

#include <QAtomicInt>
#include <QSqlRecord>
#include <algorithm>

namespace engine {

namespace {

class ServerCursorRows final : public TQueryRows
{
public:
    ServerCursorRows(QSqlDatabase db, QString sql) : m_db(std::move(db)), m_sql(std::move(sql)) {}

    ~ServerCursorRows() override
    {
        try {
            closeCursor();
        } catch (...) {
            // The connection may be gone; the server drops the cursor with it.
        }
    }

    void Execute() override
    {
        closeCursor();
        declareCursor();
        m_page.clear();
        m_fetchedBefore = 0;
        m_pageEnd = false;
        m_consumed = false;
        fetchPage();
        m_onFirstPage = true;
    }

    void Rewind() override
    {
        if (m_onFirstPage) {
            // Still within the first page (opening the dataset read its first row): no second
            // run of the query.
            m_pagePos = 0;
        } else if (m_consumed) {
            Execute();
        }
    }

    bool Next(TRow &row) override
    {
        while (m_pagePos >= m_page.size()) {
            if (m_pageEnd || m_cursorName.isEmpty()) {
                m_consumed = true;
                return false;
            }
            fetchPage();
        }
        m_consumed = true;
        row = m_page[m_pagePos++];
        return true;
    }

    int KnownCount() const override
    {
        return m_pageEnd ? int(m_fetchedBefore + qint64(m_page.size())) : -1;
    }

    void Close() override
    {
        dropPage();
        closeCursor();
    }

    const QList<TColumn> &Columns() const override { return m_columns; }

private:
    // Inside a transaction the cursor lives until the transaction ends, and the server makes the
    // rows only as they are fetched. Outside one it is held past the commit of its own
    // statement, for which the server makes the whole result at once.
    void declareCursor()
    {
        static QAtomicInt counter;
        m_cursorName = QStringLiteral("zoru_rows_%1").arg(counter.fetchAndAddRelaxed(1) + 1);
        m_cursorSerial = TransactionSerial(m_db);
        QString text = m_sql.trimmed();
        while (text.endsWith(QLatin1Char(';')))
            text.chop(1);
        QSqlQuery declare(m_db);
        const QString sql =
            QStringLiteral("DECLARE ") + m_cursorName +
            (m_cursorSerial != 0 ? QStringLiteral(" NO SCROLL CURSOR FOR ")
                                 : QStringLiteral(" NO SCROLL CURSOR WITH HOLD FOR ")) +
            text;
        if (!declare.exec(sql)) {
            m_cursorName.clear();
            ThrowSqlError(declare, sql);
        }
    }

    // The transaction of the cursor ended before every row was read, and took the cursor with
    // it: the statement runs again and the rows read so far are skipped, so that reading goes on
    // where it was (over the rows as they are now).
    void redeclareCursor(qint64 rowsRead)
    {
        closeCursor();
        declareCursor();
        if (rowsRead == 0)
            return;
        QSqlQuery move(m_db);
        const QString sql = QStringLiteral("MOVE FORWARD %1 FROM ").arg(rowsRead) + m_cursorName;
        if (!move.exec(sql))
            ThrowSqlError(move, sql);
    }

    void fetchPage()
    {
        m_fetchedBefore += qint64(m_page.size());
        m_page.clear();
        m_pagePos = 0;
        m_onFirstPage = false;
        if (m_cursorSerial != 0 && TransactionSerial(m_db) != m_cursorSerial)
            redeclareCursor(m_fetchedBefore);
        // The first page is of 1024 rows, the next ones of about 16K values (1024 to 8192 rows):
        // a narrow result needs few round trips, and a page stays as small as before for a
        // result of 16 columns or more.
        const int rows =
            m_columns.isEmpty() ? 1024 : std::clamp(16384 / int(m_columns.size()), 1024, 8192);
        QSqlQuery fetch(m_db);
        fetch.setForwardOnly(true);
        const QString sql = QStringLiteral("FETCH FORWARD %1 FROM ").arg(rows) + m_cursorName;
        if (!fetch.exec(sql))
            ThrowSqlError(fetch, sql);
        if (m_columns.isEmpty())
            m_columns = ColumnsOfRecord(fetch.record());
        while (fetch.next())
            m_page.push_back(ReadRow(fetch, m_columns));
        fetch.finish();
        m_pageEnd = m_page.size() < size_t(rows);
        if (m_pageEnd) {
            // Every row is here: the cursor, which certainly exists, is closed at once.
            QSqlQuery close(m_db);
            close.exec(QStringLiteral("CLOSE ") + m_cursorName);
            m_cursorName.clear();
        }
    }

    void dropPage()
    {
        m_page.clear();
        m_pagePos = 0;
        m_onFirstPage = false;
    }

    void closeCursor()
    {
        if (m_cursorName.isEmpty())
            return;
        const QString name = m_cursorName;
        m_cursorName.clear();
        dropPage();
        if (!m_db.isOpen())
            return;
        // A cursor whose transaction ended is gone, and so is one declared in a transaction that
        // was rolled back; closing it then would fail and spoil the transaction that runs now.
        const quint64 serial = TransactionSerial(m_db);
        if (m_cursorSerial != 0 && serial == 0)
            return;
        if ((m_cursorSerial == 0 || serial != m_cursorSerial) &&
            FirstValue(m_db, QStringLiteral("SELECT COUNT(*) FROM pg_cursors WHERE name = ?"),
                       {name})
                    .toInt() == 0)
            return;
        QSqlQuery close(m_db);
        close.exec(QStringLiteral("CLOSE ") + name);
    }

    QSqlDatabase m_db;
    QString m_sql;
    QString m_cursorName;
    quint64 m_cursorSerial = 0; // the transaction the cursor lives in; 0: held past commits
    std::vector<TRow> m_page;   // the page fetched last, read up to m_pagePos
    size_t m_pagePos = 0;
    qint64 m_fetchedBefore = 0; // rows of the pages before m_page
    bool m_onFirstPage = false; // m_page is the first page of the result
    bool m_pageEnd = false;
    bool m_consumed = false;
    QList<TColumn> m_columns;
};

} // namespace

std::unique_ptr<TQueryRows> OpenServerCursor(const QSqlDatabase &db, const QString &sql)
{
    return std::make_unique<ServerCursorRows>(db, sql);
}

} // namespace engine
