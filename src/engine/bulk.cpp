#include "engine/bulk.h"

#include "core/errors.h"
#include "engine/database.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>

namespace {

bool isSqlite(TDatabase &db)
{
    return db.Driver() == QLatin1String("SQLITE");
}

void checkSql(TDatabase &db)
{
    if (!db.Connected())
        db.Open();
    if (db.IsFolder())
        throw EDatabaseError(
            QStringLiteral("База данных %1 не поддерживает пакетную запись").arg(db.DatabaseName));
}

// A table or column name written by the program. Unquoted, so that PostgreSQL folds it as it
// folded the names of the creation scripts.
const QString &identifier(const QString &name)
{
    static const QRegularExpression plain(
        QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*(\\.[A-Za-z_][A-Za-z0-9_]*)?$"));
    if (!plain.match(name).hasMatch())
        throw EDatabaseError(QStringLiteral("Недопустимое имя в запросе: %1").arg(name));
    return name;
}

QString joined(const QStringList &names)
{
    QStringList out;
    for (const QString &n : names)
        out << identifier(n);
    return out.join(QStringLiteral(", "));
}

QString marks(int n)
{
    QStringList m;
    for (int i = 0; i < n; ++i)
        m << QStringLiteral("?");
    return m.join(QStringLiteral(", "));
}

qint64 scalarInt(TDatabase &db, const QString &sql, const engine::TBoundValues &params)
{
    TSqlStatement s(db, sql);
    s.Exec(params);
    const qint64 v = s.Next() ? s.Value(0).toLongLong() : 0;
    s.Finish();
    return v;
}

// The last part of a possibly schema-qualified name, as SQLite stores it.
QString bareName(const QString &table)
{
    return table.section(QLatin1Char('.'), -1);
}

} // namespace

// ------------------------------------------------------------------------------------------
// TSqlStatement

TSqlStatement::TSqlStatement(TDatabase &db, const QString &sql) : m_sql(sql)
{
    checkSql(db);
    m_query = QSqlQuery(db.Sql());
    m_query.setForwardOnly(true);
    if (!m_query.prepare(sql))
        throw EDBEngineError(engineMessage(m_query.lastError()), sql);
}

int TSqlStatement::Exec(const engine::TBoundValues &params)
{
    m_query.finish();
    for (int i = 0; i < params.size(); ++i)
        m_query.bindValue(i, BindableValue(params.at(i), m_query.driver()));
    if (!m_query.exec())
        throw EDBEngineError(engineMessage(m_query.lastError()), m_sql);
    return m_query.numRowsAffected();
}

bool TSqlStatement::Next()
{
    return m_query.isActive() && m_query.isSelect() && m_query.next();
}

QVariant TSqlStatement::Value(int column) const
{
    return m_query.value(column);
}

int TSqlStatement::ColumnCount() const
{
    return m_query.record().count();
}

void TSqlStatement::Finish()
{
    m_query.finish();
}

// ------------------------------------------------------------------------------------------
// TBatchLookup

TBatchLookup::TBatchLookup(TDatabase &db, const QString &table, const QStringList &keyColumns,
                           const QStringList &resultColumns, bool caseInsensitive)
    : m_db(db), m_table(identifier(table)), m_keys(keyColumns), m_results(resultColumns),
      m_caseInsensitive(caseInsensitive)
{
    checkSql(db);
    if (m_keys.isEmpty())
        throw EDatabaseError(QStringLiteral("Не заданы ключевые поля для таблицы %1").arg(table));
    if (m_caseInsensitive && m_keys.size() != 1)
        throw EDatabaseError(
            QStringLiteral("Поиск без учёта регистра возможен только по одному полю"));
    joined(m_keys);
    joined(m_results);
}

TSqlStatement &TBatchLookup::statementFor(int chunk)
{
    auto it = m_prepared.find(chunk);
    if (it != m_prepared.end())
        return *it.value();
    const int k = static_cast<int>(m_keys.size());
    QString condition;
    if (k == 1) {
        QStringList items;
        for (int i = 0; i < chunk; ++i)
            items << (m_caseInsensitive ? QStringLiteral("UPPER(?)") : QStringLiteral("?"));
        condition =
            (m_caseInsensitive ? QStringLiteral("UPPER(%1)").arg(m_keys.first()) : m_keys.first()) +
            QStringLiteral(" IN (") + items.join(QStringLiteral(", ")) + QStringLiteral(")");
    } else {
        QStringList items;
        const QString tuple = QStringLiteral("(") + marks(k) + QStringLiteral(")");
        for (int i = 0; i < chunk; ++i)
            items << tuple;
        condition = QStringLiteral("(") + joined(m_keys) + QStringLiteral(") IN (") +
                    (isSqlite(m_db) ? QStringLiteral("VALUES ") : QString()) +
                    items.join(QStringLiteral(", ")) + QStringLiteral(")");
    }
    QStringList columns = m_results;
    columns << m_keys;
    const QString sql = QStringLiteral("SELECT ") + joined(columns) + QStringLiteral(" FROM ") +
                        m_table + QStringLiteral(" WHERE ") + condition;
    auto statement = std::make_shared<TSqlStatement>(m_db, sql);
    m_prepared.insert(chunk, statement);
    return *statement;
}

void TBatchLookup::Fetch(const QList<engine::TRow> &keys,
                         const std::function<void(const engine::TRow &)> &visit)
{
    const int k = static_cast<int>(m_keys.size());
    QList<engine::TRow> wanted;
    wanted.reserve(keys.size());
    for (const engine::TRow &key : keys) {
        if (key.size() != k)
            throw EDatabaseError(QStringLiteral("Число значений не совпадает с числом полей: %1")
                                     .arg(m_keys.join(QLatin1Char(';'))));
        bool null = false;
        for (const QVariant &v : key)
            null = null || engine::IsNullValue(v);
        if (!null)
            wanted << key;
    }
    const int columns = static_cast<int>(m_results.size()) + k;
    qsizetype at = 0;
    while (at < wanted.size()) {
        // Whole chunks of the largest size, then the smallest size that holds the rest,
        // padded with repeats of the last key: a fetch of up to 256 keys is one statement.
        const qsizetype left = wanted.size() - at;
        int chunk = ChunkSizes[0];
        for (int size : ChunkSizes)
            if (size >= left)
                chunk = size;
        engine::TBoundValues params;
        params.reserve(chunk * k);
        for (int i = 0; i < chunk; ++i) {
            const engine::TRow &key = wanted.at(std::min(at + i, wanted.size() - 1));
            for (const QVariant &v : key)
                params << v;
        }
        TSqlStatement &s = statementFor(chunk);
        s.Exec(params);
        ++m_statements;
        while (s.Next()) {
            engine::TRow row;
            row.reserve(columns);
            for (int c = 0; c < columns; ++c)
                row << s.Value(c);
            visit(row);
        }
        s.Finish();
        at += std::min<qsizetype>(chunk, left);
    }
}

// ------------------------------------------------------------------------------------------
// TIdentifierReserve

TIdentifierReserve::TIdentifierReserve(TDatabase &db, const QString &table, const QString &column)
    : m_db(db), m_table(identifier(table)), m_column(identifier(column))
{
    checkSql(db);
    if (isSqlite(db)) {
        TSqlStatement s(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' "
                                           "AND lower(name) = lower(?)"));
        s.Exec({bareName(m_table)});
        if (!s.Next())
            throw EDBEngineError(QStringLiteral("Таблица не найдена: %1").arg(table));
        m_autoincrement =
            s.Value(0).toString().contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
        s.Finish();
        return;
    }
    TSqlStatement s(db, QStringLiteral("SELECT COALESCE(pg_get_serial_sequence(?, ?), "
                                       "to_regclass(lower(?))::text)"));
    s.Exec({m_table.toLower(), m_column.toLower(),
            QString(bareName(m_table) + QLatin1Char('_') + m_column + QStringLiteral("_seq"))});
    if (s.Next())
        m_sequence = s.Value(0).toString();
    s.Finish();
    if (m_sequence.isEmpty())
        throw EDBEngineError(
            QStringLiteral("Для поля %1 таблицы %2 нет последовательности").arg(column, table));
}

QList<qint64> TIdentifierReserve::Reserve(int count)
{
    QList<qint64> ids;
    if (count <= 0)
        return ids;
    ids.reserve(count);
    if (!isSqlite(m_db)) {
        TSqlStatement s(m_db, QStringLiteral("SELECT nextval(?::regclass) FROM "
                                             "generate_series(1, ?)"));
        s.Exec({m_sequence, count});
        while (s.Next())
            ids << s.Value(0).toLongLong();
        s.Finish();
        return ids;
    }
    qint64 base = std::max(
        m_lastHanded,
        scalarInt(m_db,
                  QStringLiteral("SELECT COALESCE(MAX(%1), 0) FROM %2").arg(m_column, m_table),
                  {}));
    if (m_autoincrement) {
        base =
            std::max(base, scalarInt(m_db,
                                     QStringLiteral("SELECT COALESCE(MAX(seq), 0) FROM "
                                                    "sqlite_sequence WHERE lower(name) = lower(?)"),
                                     {bareName(m_table)}));
        const qint64 last = base + count;
        TSqlStatement update(m_db, QStringLiteral("UPDATE sqlite_sequence SET seq = ? WHERE "
                                                  "lower(name) = lower(?)"));
        if (update.Exec({last, bareName(m_table)}) == 0) {
            TSqlStatement insert(
                m_db, QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)"));
            insert.Exec({bareName(m_table), last});
        }
    }
    for (int i = 1; i <= count; ++i)
        ids << base + i;
    m_lastHanded = base + count;
    return ids;
}

void MoveNumberingPast(TDatabase &db, const QString &table, const QString &column)
{
    checkSql(db);
    if (!isSqlite(db)) {
        const QString sequence = TIdentifierReserve(db, table, column).Sequence();
        // nextval first, so that a number handed out meanwhile is never taken back.
        TSqlStatement s(db,
                        QStringLiteral("SELECT setval(?::regclass, GREATEST(nextval(?::regclass), "
                                       "(SELECT MAX(%1) FROM %2)))")
                            .arg(identifier(column), identifier(table)));
        s.Exec({sequence, sequence});
        s.Finish();
        return;
    }
    TSqlStatement s(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND "
                                       "lower(name) = lower(?)"));
    s.Exec({bareName(identifier(table))});
    const bool autoincrement = s.Next() && s.Value(0).toString().contains(
                                               QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
    s.Finish();
    if (!autoincrement)
        return; // a rowid table numbers past its highest row by itself
    const qint64 highest =
        scalarInt(db, QStringLiteral("SELECT COALESCE(MAX(%1), 0) FROM %2").arg(column, table), {});
    TSqlStatement update(db, QStringLiteral("UPDATE sqlite_sequence SET seq = ? WHERE "
                                            "lower(name) = lower(?) AND seq < ?"));
    update.Exec({highest, bareName(table), highest});
    const qint64 present = scalarInt(
        db, QStringLiteral("SELECT COUNT(*) FROM sqlite_sequence WHERE lower(name) = lower(?)"),
        {bareName(table)});
    if (present == 0 && highest > 0) {
        TSqlStatement insert(
            db, QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)"));
        insert.Exec({bareName(table), highest});
    }
}

// ------------------------------------------------------------------------------------------
// TMultiRowInsert

TMultiRowInsert::TMultiRowInsert(TDatabase &db, const QString &table, const QStringList &columns,
                                 int rowsPerStatement)
    : m_db(db), m_table(identifier(table)), m_columns(columns)
{
    checkSql(db);
    if (m_columns.isEmpty())
        throw EDatabaseError(QStringLiteral("Не заданы поля для таблицы %1").arg(table));
    joined(m_columns);
    // SQLite before 3.32 takes at most 999 parameters per statement; PostgreSQL 65535.
    const int limit = (isSqlite(db) ? 999 : 65535) / static_cast<int>(m_columns.size());
    m_window = std::max(1, std::min(rowsPerStatement, limit));
}

void TMultiRowInsert::Add(const engine::TRow &row)
{
    const int n = static_cast<int>(m_columns.size());
    for (int i = 0; i < n; ++i)
        m_pending << (i < row.size() ? row.at(i) : QVariant());
    if (Pending() >= m_window)
        send(m_window);
}

void TMultiRowInsert::Flush()
{
    while (Pending() > 0) {
        int rows = 1;
        for (int size : {m_window, 16, 4, 1})
            if (size <= Pending()) {
                rows = size;
                break;
            }
        send(rows);
    }
}

void TMultiRowInsert::send(int rows)
{
    auto it = m_prepared.find(rows);
    if (it == m_prepared.end()) {
        const QString tuple =
            QStringLiteral("(") + marks(static_cast<int>(m_columns.size())) + QStringLiteral(")");
        QStringList tuples;
        for (int i = 0; i < rows; ++i)
            tuples << tuple;
        const QString sql = QStringLiteral("INSERT INTO ") + m_table + QStringLiteral(" (") +
                            joined(m_columns) + QStringLiteral(") VALUES ") +
                            tuples.join(QStringLiteral(", "));
        it = m_prepared.insert(rows, std::make_shared<TSqlStatement>(m_db, sql));
    }
    const qsizetype count = static_cast<qsizetype>(rows) * m_columns.size();
    const engine::TBoundValues params = m_pending.mid(0, count);
    // Whatever happens, these rows are the caller's to replay: they leave the queue.
    m_pending.remove(0, count);
    it.value()->Exec(params);
    it.value()->Finish();
    ++m_statements;
}
