#pragma once

#include "engine/cursor.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <memory>

struct sqlite3;

namespace engine {

// A statement prepared once on a connection and run many times with positional parameters.
// Copies share the statement, as QSqlQuery's do. On SQLite it runs on the library's own handle:
// for the short indexed statements a cursor runs per row, Qt's driver spends more than SQLite
// itself (parameter bookkeeping by generated names, a column record built per run, texts
// converted to UTF-16 and back). Values bind and read back as through Qt's driver: numbers as
// numbers, dates and times as ISO text, texts as UTF-8, Null as Null.
//
// Failures throw EDBEngineError with the engine's message and the statement's text. The
// connection's driver prepares it (sql/sqldriver.h; SQLite's in sql/sqlite/sqlitestatement.cpp).
class TStatement
{
public:
    TStatement() = default;
    TStatement(const QSqlDatabase &db, const QString &sql);

    void exec(const TBoundValues &params);
    // The next row of the last run; false at its end.
    bool next();
    QVariant value(int column) const;
    // On SQLite, the storage class of a column of the current row (NotNative past the last row),
    // and a whole number or a
    // floating-point value read as it is stored (a row of many numbers is read without a
    // variant per value to convert); NotNative on other backends.
    enum class TNative
    {
        NotNative,
        Null,
        Integer,
        Float,
        Text,
        Blob
    };
    TNative nativeType(int column) const;
    qint64 nativeInteger(int column) const;
    double nativeFloat(int column) const;
    // Ends the run, releasing what SQLite holds for it (a read lock); the next exec runs again.
    void finish();
    // The result's columns: count, names, and what SQLite knows of each (the declared type of a
    // table's column, else the storage class of the value in the current row, as a Qt type);
    // other backends describe their results through QSqlQuery::record.
    int columnCount() const;
    QString columnName(int column) const;
    QString columnDeclaredType(int column) const;
    QMetaType columnValueType(int column) const;
    QVariant lastInsertId() const;
    int numRowsAffected() const;
    const QString &lastQuery() const;

    struct Impl; // a driver's statement (sql/preparedstatement.h)

private:
    std::shared_ptr<Impl> d;
};

// Runs a statement once: the first value of its first row, an invalid value when it gives no
// row (a statement that changes rows gives none).
QVariant FirstValue(const QSqlDatabase &db, const QString &sql, const TBoundValues &params = {});

// How a value (as BindableValue gives it) goes to a statement: Null, a whole number, a
// floating-point number, a boolean, bytes, or a text, dates and times as ISO text.
enum class TBoundKind
{
    Null,
    Integer,
    Float,
    Boolean,
    Bytes,
    Text
};
TBoundKind BoundKind(const QVariant &value);
// The text of a value of kind Text.
QString BoundText(const QVariant &value);

// "yyyy-MM-ddTHH:mm:ss.zzz" of a date-time's own date and time, as QDateTime::toString makes
// it, without its look-up of the time zone (a text per bound date adds up over an import); the
// length (23), or 0 for a year outside 1..9999.
int TimestampText(const QDateTime &dt, char (&text)[24]);

// Whether a connection is one to SQLite.
bool IsSqlite(const QSqlDatabase &db);

// The handle of an open SQLite connection; throws EDBEngineError for any other connection.
sqlite3 *SqliteHandle(const QSqlDatabase &db);

// Waits until what was committed on an SQLite connection is on the disk: the log (or journal)
// file is synchronised. Throws EDBEngineError when the system refuses.
void SyncSqliteLog(const QSqlDatabase &db);

// Finalises the native statements of an SQLite connection: SQLite does not close a connection
// that still has statements, and Qt's driver knows only its own. Call before closing it; a
// statement finalised so fails with a clear message if it is run again. Nothing for others.
void FinalizeSqliteStatements(const QSqlDatabase &db);

} // namespace engine
