#include "engine/sql/sqlite/sqlitestatement.h"

#include "core/errors.h"
#include "engine/busywait.h"
#include "engine/database.h"

#include <QDateTime>
#include <QSqlDriver>
#include <mutex>
#include <sqlite3.h>
#include <unordered_map>

namespace engine {

bool IsSqlite(const QSqlDatabase &db)
{
    return db.driver() && db.driver()->dbmsType() == QSqlDriver::SQLite;
}

namespace {

QString closedMessage()
{
    return QStringLiteral("Соединение с базой данных закрыто");
}

class SqliteStatement;

// The native statements of each open SQLite connection.
struct Registry
{
    std::mutex mutex;
    std::unordered_multimap<sqlite3 *, SqliteStatement *> live;
};

Registry &registry()
{
    static Registry r;
    return r;
}

class SqliteStatement final : public TStatement::Impl
{
public:
    SqliteStatement(const QSqlDatabase &db, const QString &sql);
    ~SqliteStatement() override;

    void exec(const TBoundValues &params) override;
    bool next() override;
    QVariant value(int column) const override;
    TNative nativeType(int column) const override;
    qint64 nativeInteger(int column) const override { return sqlite3_column_int64(stmt, column); }
    double nativeFloat(int column) const override { return sqlite3_column_double(stmt, column); }
    void finish() override;
    int columnCount() const override { return stmt ? sqlite3_column_count(stmt) : 0; }
    QString columnName(int column) const override
    {
        return stmt ? QString::fromUtf8(sqlite3_column_name(stmt, column)) : QString();
    }
    QString columnDeclaredType(int column) const override;
    QMetaType columnValueType(int column) const override;
    QVariant lastInsertId() const override;
    int numRowsAffected() const override { return stmt ? sqlite3_changes(db) : -1; }

    // Finalised with its connection: it fails with a clear message if it is run again.
    void forget()
    {
        sqlite3_finalize(stmt);
        stmt = nullptr;
        db = nullptr;
    }

private:
    [[noreturn]] void fail() const
    {
        throw EDBEngineError(db ? QString::fromUtf8(sqlite3_errmsg(db)) : closedMessage(), sql);
    }
    void bind(int index, const QVariant &value);
    void bindOther(int index, const QVariant &value);
    bool step();

    const QSqlDriver *driver = nullptr;
    // Null once finalised with its connection.
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    bool rowWaiting = false; // exec stepped onto the first row, which next() hands out
    bool atEnd = true;
};

SqliteStatement::SqliteStatement(const QSqlDatabase &connection, const QString &text)
    : Impl(text), driver(connection.driver()), db(SqliteHandle(connection))
{
    const QByteArray utf8 = sql.toUtf8();
    const char *tail = nullptr;
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare_v3(db, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT,
                           &prepared, &tail) != SQLITE_OK)
        fail();
    if (!prepared || (tail && !QByteArray(tail).trimmed().isEmpty())) {
        sqlite3_finalize(prepared);
        throw EDBEngineError(QStringLiteral("Ожидался один оператор SQL"), sql);
    }
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    stmt = prepared;
    r.live.emplace(db, this);
}

SqliteStatement::~SqliteStatement()
{
    if (!stmt)
        return;
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    auto [from, to] = r.live.equal_range(db);
    for (auto it = from; it != to; ++it)
        if (it->second == this) {
            r.live.erase(it);
            break;
        }
    sqlite3_finalize(stmt);
}

void SqliteStatement::bind(int index, const QVariant &given)
{
    int rc = SQLITE_OK;
    // The common types straight from the variant: a statement runs for every row of a job.
    const void *data = given.constData();
    switch (given.isNull() ? QMetaType::UnknownType : given.typeId()) {
    case QMetaType::Int:
        rc = sqlite3_bind_int64(stmt, index, *static_cast<const int *>(data));
        break;
    case QMetaType::LongLong:
        rc = sqlite3_bind_int64(stmt, index, *static_cast<const qlonglong *>(data));
        break;
    case QMetaType::Double:
        rc = sqlite3_bind_double(stmt, index, *static_cast<const double *>(data));
        break;
    case QMetaType::QString: {
        // A variant holding a text is no Null, even an empty or null text; SQLite would take a
        // null pointer for a Null.
        const QString &text = *static_cast<const QString *>(data);
        rc = text.isEmpty() ? sqlite3_bind_text(stmt, index, "", 0, SQLITE_STATIC)
                            : sqlite3_bind_text16(stmt, index, text.constData(),
                                                  int(text.size() * qsizetype(sizeof(QChar))),
                                                  SQLITE_TRANSIENT);
        break;
    }
    case QMetaType::QDateTime: {
        // The ISO text of a local date-time, which carries no offset.
        const QDateTime &dt = *static_cast<const QDateTime *>(data);
        char text[24];
        const int n = dt.timeSpec() == Qt::LocalTime ? TimestampText(dt, text) : 0;
        if (n > 0) {
            rc = sqlite3_bind_text(stmt, index, text, n, SQLITE_TRANSIENT);
            break;
        }
        [[fallthrough]];
    }
    default:
        bindOther(index, BindableValue(given, driver));
        return;
    }
    if (rc != SQLITE_OK)
        fail();
}

void SqliteStatement::bindOther(int index, const QVariant &value)
{
    int rc = SQLITE_OK;
    switch (BoundKind(value)) {
    case TBoundKind::Null:
        rc = sqlite3_bind_null(stmt, index);
        break;
    case TBoundKind::Integer:
    case TBoundKind::Boolean:
        rc = sqlite3_bind_int64(stmt, index, value.toLongLong());
        break;
    case TBoundKind::Float:
        rc = sqlite3_bind_double(stmt, index, value.toDouble());
        break;
    case TBoundKind::Bytes: {
        const QByteArray bytes = value.toByteArray();
        rc = sqlite3_bind_blob64(stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                                 SQLITE_TRANSIENT);
        break;
    }
    case TBoundKind::Text: {
        const QByteArray utf8 = BoundText(value).toUtf8();
        rc = sqlite3_bind_text64(stmt, index, utf8.constData(), sqlite3_uint64(utf8.size()),
                                 SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    }
    }
    if (rc != SQLITE_OK)
        fail();
}

// One step: true on a row, false at the end.
bool SqliteStatement::step()
{
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
        return true;
    atEnd = true;
    if (rc == SQLITE_DONE)
        return false;
    // A writer that stayed busy is told apart from a statement the database refused.
    const QString message = (rc & 0xff) == SQLITE_BUSY ? TBusyState::FailureMessage()
                                                       : QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_reset(stmt);
    throw EDBEngineError(message, sql);
}

void SqliteStatement::exec(const TBoundValues &params)
{
    if (!stmt)
        throw EDBEngineError(closedMessage(), sql);
    sqlite3_reset(stmt);
    rowWaiting = false;
    atEnd = false;
    if (params.size() != sqlite3_bind_parameter_count(stmt))
        throw EDBEngineError(QStringLiteral("Неверное число параметров запроса: %1 вместо %2")
                                 .arg(params.size())
                                 .arg(sqlite3_bind_parameter_count(stmt)),
                             sql);
    for (int i = 0; i < params.size(); ++i)
        bind(i + 1, params.at(i));
    rowWaiting = step();
}

bool SqliteStatement::next()
{
    if (rowWaiting) {
        rowWaiting = false;
        return true;
    }
    if (atEnd || !stmt)
        return false;
    return step();
}

QVariant SqliteStatement::value(int column) const
{
    if (!stmt || atEnd)
        return {};
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, column));
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(stmt, column)),
                          sqlite3_column_bytes(stmt, column));
    default: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
        return QString::fromUtf8(text, sqlite3_column_bytes(stmt, column));
    }
    }
}

TStatement::TNative SqliteStatement::nativeType(int column) const
{
    if (!stmt || atEnd)
        return TNative::NotNative;
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return TNative::Integer;
    case SQLITE_FLOAT:
        return TNative::Float;
    case SQLITE_NULL:
        return TNative::Null;
    case SQLITE_BLOB:
        return TNative::Blob;
    default:
        return TNative::Text;
    }
}

void SqliteStatement::finish()
{
    rowWaiting = false;
    atEnd = true;
    if (stmt)
        sqlite3_reset(stmt);
}

QString SqliteStatement::columnDeclaredType(int column) const
{
    const char *decl = stmt ? sqlite3_column_decltype(stmt, column) : nullptr;
    return decl ? QString::fromUtf8(decl) : QString();
}

QMetaType SqliteStatement::columnValueType(int column) const
{
    switch (nativeType(column)) {
    case TNative::Integer:
        return QMetaType::fromType<qlonglong>();
    case TNative::Float:
        return QMetaType::fromType<double>();
    case TNative::Blob:
        return QMetaType::fromType<QByteArray>();
    case TNative::Text:
        return QMetaType::fromType<QString>();
    default:
        return {};
    }
}

QVariant SqliteStatement::lastInsertId() const
{
    if (!stmt)
        return {};
    const qint64 id = sqlite3_last_insert_rowid(db);
    return id ? QVariant(qlonglong(id)) : QVariant();
}

} // namespace

std::shared_ptr<TStatement::Impl> PrepareOnSqlite(const QSqlDatabase &db, const QString &sql)
{
    return std::make_shared<SqliteStatement>(db, sql);
}

sqlite3 *SqliteHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw EDBEngineError(QStringLiteral("Соединение не является базой SQLite"));
    sqlite3 *h = *static_cast<sqlite3 *const *>(handle.constData());
    if (!h)
        throw EDBEngineError(QStringLiteral("Соединение с базой SQLite не открыто"));
    return h;
}

void FinalizeSqliteStatements(const QSqlDatabase &db)
{
    if (!IsSqlite(db) || !db.isOpen())
        return;
    sqlite3 *h = SqliteHandle(db);
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    auto [from, to] = r.live.equal_range(h);
    for (auto it = from; it != to; ++it)
        it->second->forget();
    r.live.erase(from, to);
}

} // namespace engine
