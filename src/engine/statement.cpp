#include "engine/statement.h"

#include "core/errors.h"
#include "engine/database.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <mutex>
#include <optional>
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

} // namespace

struct TStatement::Impl
{
    QString sql;
    // Qt's driver: every backend but SQLite.
    std::optional<QSqlQuery> query;
    const QSqlDriver *driver = nullptr;
    // SQLite's own statement; null once finalised with its connection.
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    bool rowWaiting = false; // exec stepped onto the first row, which next() hands out
    bool atEnd = true;

    ~Impl();
    [[noreturn]] void fail() const
    {
        throw EDBEngineError(db ? QString::fromUtf8(sqlite3_errmsg(db)) : closedMessage(), sql);
    }
    void bind(int index, const QVariant &value);
    void bindOther(int index, const QVariant &value);
    bool step();
};

namespace {

// The native statements of each open SQLite connection.
struct Registry
{
    std::mutex mutex;
    std::unordered_multimap<sqlite3 *, TStatement::Impl *> live;
};

Registry &registry()
{
    static Registry r;
    return r;
}

} // namespace

TStatement::Impl::~Impl()
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

void TStatement::Impl::bind(int index, const QVariant &given)
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

void TStatement::Impl::bindOther(int index, const QVariant &value)
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
bool TStatement::Impl::step()
{
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
        return true;
    atEnd = true;
    if (rc == SQLITE_DONE)
        return false;
    const QString message = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_reset(stmt);
    throw EDBEngineError(message, sql);
}

TStatement::TStatement(const QSqlDatabase &db, const QString &sql) : d(std::make_shared<Impl>())
{
    d->sql = sql;
    d->driver = db.driver();
    if (!IsSqlite(db)) {
        d->query.emplace(db);
        d->query->setForwardOnly(true);
        if (!d->query->prepare(sql))
            throw EDBEngineError(engineMessage(d->query->lastError()), sql);
        return;
    }
    d->db = SqliteHandle(db);
    const QByteArray utf8 = sql.toUtf8();
    const char *tail = nullptr;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v3(d->db, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt, &tail) != SQLITE_OK)
        d->fail();
    if (!stmt || (tail && !QByteArray(tail).trimmed().isEmpty())) {
        sqlite3_finalize(stmt);
        throw EDBEngineError(QStringLiteral("Ожидался один оператор SQL"), sql);
    }
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    d->stmt = stmt;
    r.live.emplace(d->db, d.get());
}

void TStatement::exec(const TBoundValues &params)
{
    if (d->query) {
        for (int i = 0; i < params.size(); ++i)
            d->query->bindValue(i, BindableValue(params.at(i), d->driver));
        if (!d->query->exec())
            throw EDBEngineError(engineMessage(d->query->lastError()), d->sql);
        return;
    }
    if (!d->stmt)
        throw EDBEngineError(closedMessage(), d->sql);
    sqlite3_reset(d->stmt);
    d->rowWaiting = false;
    d->atEnd = false;
    if (params.size() != sqlite3_bind_parameter_count(d->stmt))
        throw EDBEngineError(QStringLiteral("Неверное число параметров запроса: %1 вместо %2")
                                 .arg(params.size())
                                 .arg(sqlite3_bind_parameter_count(d->stmt)),
                             d->sql);
    for (int i = 0; i < params.size(); ++i)
        d->bind(i + 1, params.at(i));
    d->rowWaiting = d->step();
}

bool TStatement::next()
{
    if (d->query)
        return d->query->next();
    if (d->rowWaiting) {
        d->rowWaiting = false;
        return true;
    }
    if (d->atEnd || !d->stmt)
        return false;
    return d->step();
}

QVariant TStatement::value(int column) const
{
    if (d->query)
        return d->query->value(column);
    if (!d->stmt || d->atEnd)
        return {};
    switch (sqlite3_column_type(d->stmt, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(d->stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(d->stmt, column));
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(d->stmt, column)),
                          sqlite3_column_bytes(d->stmt, column));
    default: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(d->stmt, column));
        return QString::fromUtf8(text, sqlite3_column_bytes(d->stmt, column));
    }
    }
}

TStatement::TNative TStatement::nativeType(int column) const
{
    if (d->query || !d->stmt || d->atEnd)
        return TNative::NotNative;
    switch (sqlite3_column_type(d->stmt, column)) {
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

qint64 TStatement::nativeInteger(int column) const
{
    return sqlite3_column_int64(d->stmt, column);
}

double TStatement::nativeFloat(int column) const
{
    return sqlite3_column_double(d->stmt, column);
}

void TStatement::finish()
{
    if (d->query) {
        d->query->finish();
        return;
    }
    d->rowWaiting = false;
    d->atEnd = true;
    if (d->stmt)
        sqlite3_reset(d->stmt);
}

int TStatement::columnCount() const
{
    if (d->query)
        return d->query->record().count();
    return d->stmt ? sqlite3_column_count(d->stmt) : 0;
}

QString TStatement::columnName(int column) const
{
    if (d->query)
        return d->query->record().fieldName(column);
    return d->stmt ? QString::fromUtf8(sqlite3_column_name(d->stmt, column)) : QString();
}

QString TStatement::columnDeclaredType(int column) const
{
    const char *decl = d->stmt ? sqlite3_column_decltype(d->stmt, column) : nullptr;
    return decl ? QString::fromUtf8(decl) : QString();
}

QMetaType TStatement::columnValueType(int column) const
{
    if (d->query)
        return d->query->record().field(column).metaType();
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

QVariant TStatement::lastInsertId() const
{
    if (d->query)
        return d->query->lastInsertId();
    if (!d->stmt)
        return {};
    const qint64 id = sqlite3_last_insert_rowid(d->db);
    return id ? QVariant(qlonglong(id)) : QVariant();
}

int TStatement::numRowsAffected() const
{
    if (d->query)
        return d->query->numRowsAffected();
    return d->stmt ? sqlite3_changes(d->db) : -1;
}

const QString &TStatement::lastQuery() const
{
    return d->sql;
}

QVariant FirstValue(const QSqlDatabase &db, const QString &sql, const TBoundValues &params)
{
    TStatement statement(db, sql);
    statement.exec(params);
    const QVariant value = statement.next() ? statement.value(0) : QVariant();
    statement.finish();
    return value;
}

TBoundKind BoundKind(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return TBoundKind::Null;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return TBoundKind::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return TBoundKind::Float;
    case QMetaType::Bool:
        return TBoundKind::Boolean;
    case QMetaType::QByteArray:
        return TBoundKind::Bytes;
    default:
        return TBoundKind::Text;
    }
}

QString BoundText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODateWithMs);
    case QMetaType::QDate:
        return value.toDate().toString(Qt::ISODate);
    case QMetaType::QTime:
        return value.toTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    default:
        return value.toString();
    }
}

int TimestampText(const QDateTime &dt, char (&text)[24])
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    int year = 0, month = 0, day = 0;
    d.getDate(&year, &month, &day); // one conversion of the day number, not three
    if (year < 1 || year > 9999 || !t.isValid())
        return 0;
    // Each part in its digits, then the character that follows it.
    const int parts[] = {year, month, day, t.hour(), t.minute(), t.second(), t.msec()};
    const int digits[] = {4, 2, 2, 2, 2, 2, 3};
    const char after[] = "--T::.";
    int at = 0;
    for (int p = 0; p < 7; ++p) {
        int value = parts[p];
        for (int i = at + digits[p] - 1; i >= at; --i, value /= 10)
            text[i] = char('0' + value % 10);
        at += digits[p];
        text[at++] = after[p];
    }
    return 23;
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

void SyncSqliteLog(const QSqlDatabase &db)
{
    sqlite3 *h = SqliteHandle(db);
    sqlite3_file *log = nullptr;
    if (sqlite3_file_control(h, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) != SQLITE_OK || !log ||
        !log->pMethods)
        return; // no log open: nothing waits
    if (log->pMethods->xSync(log, SQLITE_SYNC_NORMAL) != SQLITE_OK)
        throw EDBEngineError(QStringLiteral("Не удалось записать журнал базы данных на диск"));
}

void FinalizeSqliteStatements(const QSqlDatabase &db)
{
    if (!IsSqlite(db) || !db.isOpen())
        return;
    sqlite3 *h = SqliteHandle(db);
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    auto [from, to] = r.live.equal_range(h);
    for (auto it = from; it != to; ++it) {
        sqlite3_finalize(it->second->stmt);
        it->second->stmt = nullptr;
        it->second->db = nullptr;
    }
    r.live.erase(from, to);
}

} // namespace engine
