#pragma once

// Building blocks for moving many rows through an SQL database (SQLite or PostgreSQL) with few
// statements and round trips. Values are always bound; table and column names come from the
// program (never from input) and must be plain identifiers ("PERSON", "kzcenter.city",
// "PRNLID"), otherwise EDatabaseError. Errors of the engine are EDBEngineError with its message.
// Everything here is used on the thread of its TDatabase and must not outlive it.
//
// A prepared statement, run many times:
//
//     TSqlStatement insert(db, "INSERT INTO CITY (CITYNAME, CITYSOATO) VALUES (?, ?)");
//     for (...) insert.Exec({name, soato});
//     TSqlStatement pick(db, "SELECT CITYGID FROM CITY WHERE CITYSOATO = ?");
//     pick.Exec({soato});
//     while (pick.Next()) use(pick.Value(0));
//
// Rows of many keys with one statement per chunk (fixed chunk sizes, so few SQL shapes):
//
//     TBatchLookup persons(db, "PERSON", {"PRNLID", "WSTGID"}, {"PRNGID", "LASTUPDATE"});
//     persons.Fetch({{lid1, w}, {lid2, w}, ...}, [&](const TRow &r) {
//         // r: PRNGID, LASTUPDATE, then the key columns PRNLID, WSTGID
//     });
//
// Identifiers for rows about to be inserted, so that a row can be referred to before it is
// sent (PostgreSQL: a block of the column's sequence; SQLite: numbers after the highest one,
// kept from other writers by the write transaction the caller holds):
//
//     TIdentifierReserve ids(db, "PERSON", "PRNGID");
//     const QList<qint64> fresh = ids.Reserve(250);
//
// After rows were inserted with identifiers of their own (copied from elsewhere), later
// identifiers the database assigns must not collide with them:
//
//     MoveNumberingPast(db, "REGION", "REGGID");
//
// Many rows with one prepared multi-row INSERT per window of rows:
//
//     TMultiRowInsert writer(db, "DIAGNOSIS", {"DIAGGID", "DIAGNAME"});
//     for (...) writer.Add({id, name});   // sent whenever a window is full
//     writer.Flush();                      // the rest, before commit

#include "engine/cursor.h"

#include <QHash>
#include <QSqlQuery>
#include <QStringList>
#include <functional>
#include <memory>

class TDatabase;

// One SQL statement with "?" placeholders, prepared once (on PostgreSQL a server-side prepared
// statement) and executed any number of times with new values.
class TSqlStatement
{
public:
    TSqlStatement(TDatabase &db, const QString &sql);
    // Runs the statement with params in placeholder order; returns the rows affected (-1 when
    // unknown). The rows of a SELECT (or of RETURNING) are then read with Next/Value.
    int Exec(const engine::TBoundValues &params = {});
    bool Next();
    QVariant Value(int column) const;
    int ColumnCount() const;
    // Ends the reading of the current result (also done by the next Exec).
    void Finish();
    const QString &Sql() const { return m_sql; }

private:
    QString m_sql;
    QSqlQuery m_query;
};

// The rows of a table whose key (one or more columns) is one of many given keys, fetched with
// "WHERE (k1, k2) IN ((?, ?), ...)" in chunks of 1, 8, 64 or 256 keys (the last chunk padded
// with repeats), so that at most four statements are ever prepared. Keys with a Null part match
// nothing and are not sent. With caseInsensitive a single text key compares as
// UPPER(key) IN (UPPER(?), ...), served by an index on UPPER(key).
class TBatchLookup
{
public:
    TBatchLookup(TDatabase &db, const QString &table, const QStringList &keyColumns,
                 const QStringList &resultColumns, bool caseInsensitive = false);
    // visit receives each matching row: the result columns, then the key columns. The order
    // of the rows is not defined; a key matching several rows gives each of them.
    void Fetch(const QList<engine::TRow> &keys,
               const std::function<void(const engine::TRow &)> &visit);
    // Statements run so far (for measuring round trips).
    int Statements() const { return m_statements; }

    static constexpr int ChunkSizes[] = {256, 64, 8, 1};

private:
    TSqlStatement &statementFor(int chunk);

    TDatabase &m_db;
    QString m_table;
    QStringList m_keys;
    QStringList m_results;
    bool m_caseInsensitive;
    QHash<int, std::shared_ptr<TSqlStatement>> m_prepared;
    int m_statements = 0;
};

// Identifiers taken ahead of inserting rows. PostgreSQL: nextval of the column's sequence (the
// one the column's default names, else "<table>_<column>_seq"), a block per call with one
// round trip; the numbers are the caller's whatever happens to its transaction. SQLite: the
// numbers after max(rowid) and, for an AUTOINCREMENT table, after its sqlite_sequence entry,
// which is moved past them; they stay the caller's while its write transaction lasts.
class TIdentifierReserve
{
public:
    TIdentifierReserve(TDatabase &db, const QString &table, const QString &column);
    QList<qint64> Reserve(int count);
    // PostgreSQL: the sequence's name as the catalogue gives it.
    const QString &Sequence() const { return m_sequence; }

private:
    TDatabase &m_db;
    QString m_table;
    QString m_column;
    QString m_sequence; // PostgreSQL
    bool m_autoincrement = false;
    qint64 m_lastHanded = 0; // SQLite: the highest number handed out by this reserve
};

// Moves the numbering of table.column past the highest identifier stored in it, so that the
// database never assigns one that an explicit insert already used (PostgreSQL: setval of the
// sequence; SQLite: the sqlite_sequence entry of an AUTOINCREMENT table; a plain rowid table
// numbers past its highest row by itself).
void MoveNumberingPast(TDatabase &db, const QString &table, const QString &column);

// Rows inserted with one prepared statement per window of rowsPerStatement rows (fewer when
// the backend's limit on parameters requires); the rest goes out in windows of 16, 4 and 1
// rows on Flush, so that at most four statements are prepared. Every column is bound, Null or
// not. Rows are sent in the order added.
class TMultiRowInsert
{
public:
    TMultiRowInsert(TDatabase &db, const QString &table, const QStringList &columns,
                    int rowsPerStatement = 64);
    // Queues a row (values in column order); sends a window when it is full.
    void Add(const engine::TRow &row);
    // Sends the queued rows.
    void Flush();
    int Pending() const { return static_cast<int>(m_pending.size()) / m_columns.size(); }
    // Statements run so far (for measuring round trips).
    int Statements() const { return m_statements; }

private:
    void send(int rows);

    TDatabase &m_db;
    QString m_table;
    QStringList m_columns;
    int m_window;
    engine::TBoundValues m_pending;
    QHash<int, std::shared_ptr<TSqlStatement>> m_prepared;
    int m_statements = 0;
};
