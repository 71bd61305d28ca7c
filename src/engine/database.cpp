#include "engine/database.h"

#include "core/errors.h"
#include "core/paths.h"
#include "engine/statement.h"
#include "engine/textfold.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <optional>

namespace {

// Dynamic property of a connection's driver: its TransactionSerial.
const char *const kTransactionSerial = "zoruTransactionSerial";

QString nextConnectionName(const QString &databaseName)
{
    static QAtomicInt counter;
    return QStringLiteral("zoru_%1_%2").arg(databaseName).arg(counter.fetchAndAddRelaxed(1) + 1);
}

} // namespace

bool RemoveSqliteFile(const QString &path)
{
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
    return !QFileInfo::exists(path) || QFile::remove(path);
}

QString engineMessage(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    return text;
}

namespace {

std::optional<QString> timestampText(const QDateTime &dt)
{
    char text[24];
    const int n = engine::TimestampText(dt, text);
    if (n == 0)
        return std::nullopt;
    return QString::fromLatin1(text, n);
}

} // namespace

QVariant BindableValue(const QVariant &value, const QSqlDriver *driver)
{
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() != QMetaType::QDateTime || !driver)
        return value;
    const QDateTime dt = value.toDateTime();
    if (driver->dbmsType() == QSqlDriver::PostgreSQL) {
        if (const auto text = timestampText(dt))
            return *text;
        return dt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    }
    // SQLite keeps the ISO text of a local date-time, which carries no offset.
    if (driver->dbmsType() == QSqlDriver::SQLite && dt.timeSpec() == Qt::LocalTime)
        if (const auto text = timestampText(dt))
            return *text;
    return value;
}

void TDatabase::SetLoginHandler(LoginHandler handler)
{
    loginprompt::Install(std::move(handler));
}

TDatabase::TDatabase(QString databaseName, TAliasStore *aliases)
    : DatabaseName(std::move(databaseName)), m_aliases(aliases ? aliases : &TAliasStore::Session())
{
}

TDatabase::~TDatabase()
{
    Close();
}

QString TDatabase::param(const QString &name) const
{
    for (const QString &line : Params)
        if (paramName(line).compare(name, Qt::CaseInsensitive) == 0)
            return paramValue(line);
    return {};
}

bool TDatabase::IsFolder() const
{
    return m_driver == QLatin1String("PARADOX") || m_driver == QLatin1String("DBASE");
}

bool TDatabase::IsServer() const
{
    return m_driver == QLatin1String("POSTGRESQL");
}

bool TDatabase::RefusalAbortsTransaction() const
{
    return m_driver == QLatin1String("POSTGRESQL");
}

QSqlDatabase TDatabase::Sql() const
{
    if (m_connectionName.isEmpty())
        return {};
    return QSqlDatabase::database(m_connectionName, false);
}

void TDatabase::Open()
{
    if (m_connected)
        return;
    if (AliasName.isEmpty())
        throw EDBEngineError(QStringLiteral("Не задан псевдоним базы данных %1").arg(DatabaseName));
    if (!m_aliases->IsAlias(AliasName))
        throw EDBEngineError(QStringLiteral("Неизвестный псевдоним: %1").arg(AliasName));
    const QString driver = m_aliases->GetAliasDriverName(AliasName).toUpper();

    if (driver == QLatin1String("PARADOX") || driver == QLatin1String("DBASE")) {
        const QString path = m_aliases->GetAliasParam(AliasName, QStringLiteral("PATH"));
        if (path.isEmpty() || !QFileInfo(path).isDir())
            throw EDBEngineError(QStringLiteral("Папка базы данных не найдена: %1").arg(path));
        m_driver = driver;
        m_folder = paths::includeTrailing(path);
        m_connected = true;
        return;
    }
    if (driver != QLatin1String("SQLITE") && driver != QLatin1String("POSTGRESQL"))
        throw EDBEngineError(QStringLiteral("Неизвестный драйвер базы данных: %1").arg(driver));

    QString user = param(QStringLiteral("USER NAME"));
    QString password = param(QStringLiteral("PASSWORD"));
    const bool hasPassword = [&] {
        for (const QString &line : Params)
            if (paramName(line).compare(QLatin1String("PASSWORD"), Qt::CaseInsensitive) == 0)
                return true;
        return false;
    }();
    if (LoginPrompt && !hasPassword) {
        const LoginHandler handler = loginprompt::Current();
        if (handler && !handler(DatabaseName, user, password))
            throw EDatabaseError(QStringLiteral("Вход в базу данных %1 отменён").arg(DatabaseName));
    }
    m_userName = user;
    m_password = password;
    m_driver = driver;
    openSql(driver == QLatin1String("SQLITE") ? QStringLiteral("QSQLITE")
                                              : QStringLiteral("QPSQL"));
}

void TDatabase::OpenFolder(const QString &path, const QString &driver)
{
    Close();
    if (path.isEmpty() || !QFileInfo(path).isDir())
        throw EDBEngineError(QStringLiteral("Папка базы данных не найдена: %1").arg(path));
    m_driver = driver.toUpper();
    m_folder = paths::includeTrailing(path);
    m_connected = true;
}

void TDatabase::openSql(const QString &qtDriver)
{
    m_connectionName = nextConnectionName(DatabaseName);
    bool ok = false;
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(qtDriver, m_connectionName);
        if (!db.isValid()) {
            failure = QStringLiteral("Драйвер %1 недоступен").arg(qtDriver);
        } else if (qtDriver == QLatin1String("QSQLITE")) {
            const QString file =
                m_aliases->GetAliasParam(AliasName, QStringLiteral("DATABASE NAME"));
            // SQLite would silently create a missing file: an alias to nothing is an error.
            if (file.isEmpty() || !QFileInfo(file).isFile()) {
                failure = QStringLiteral("Файл базы данных не найден: %1").arg(file);
            } else {
                db.setDatabaseName(file);
                QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000");
                if (ReadOnly)
                    options += QStringLiteral(";QSQLITE_OPEN_READONLY");
                db.setConnectOptions(options);
                ok = db.open();
                if (!ok)
                    failure = engineMessage(db.lastError());
                else {
                    {
                        // The statement must be finalised before functions are registered:
                        // SQLite refuses to change functions while a statement is active.
                        QSqlQuery q(db);
                        q.exec(QStringLiteral("PRAGMA foreign_keys=OFF"));
                        if (!ReadOnly) {
                            // A commit waits for one write of the log, not for the
                            // journal and the database file in turn.
                            q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
                            q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
                        }
                        q.finish();
                    }
                    try {
                        engine::RegisterSqliteTextFolding(db);
                    } catch (const Exception &e) {
                        ok = false;
                        failure = e.Message();
                        db.close();
                    }
                }
            }
        } else {
            db.setHostName(m_aliases->GetAliasParam(AliasName, QStringLiteral("SERVER NAME")));
            const int port = m_aliases->GetAliasParam(AliasName, QStringLiteral("PORT")).toInt();
            if (port > 0)
                db.setPort(port);
            db.setDatabaseName(
                m_aliases->GetAliasParam(AliasName, QStringLiteral("DATABASE NAME")));
            db.setUserName(m_userName);
            db.setPassword(m_password);
            db.setConnectOptions(QStringLiteral("connect_timeout=15"));
            ok = db.open();
            if (!ok) {
                failure = engineMessage(db.lastError());
            } else {
                QSqlQuery q(db);
                q.exec(QStringLiteral("SET client_encoding TO 'UTF8'"));
                // Statements are prepared once and run for a whole job while their tables
                // grow from empty. A generic plan made while a table was small stays a
                // sequential scan at any size (a window's look-up of 256 keys in 100,000
                // persons: seconds instead of a millisecond); a plan for each run follows the
                // table. Servers before 12 have no such setting and keep their own choice.
                q.exec(QStringLiteral("SET plan_cache_mode = force_custom_plan"));
                if (ReadOnly)
                    q.exec(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"));
            }
        }
    }
    if (!ok) {
        QSqlDatabase::removeDatabase(m_connectionName);
        m_connectionName.clear();
        throw EDBEngineError(failure);
    }
    m_connected = true;
}

void TDatabase::Close()
{
    if (!m_connected)
        return;
    m_connected = false;
    m_inTransaction = false;
    dropHeldWrites();
    if (!m_connectionName.isEmpty()) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
            engine::FinalizeSqliteStatements(db);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connectionName);
        m_connectionName.clear();
    }
}

void TDatabase::StartTransaction()
{
    if (!m_connected)
        throw EDatabaseError(QStringLiteral("База данных %1 не подключена").arg(DatabaseName));
    if (m_inTransaction)
        throw EDBEngineError(QStringLiteral("Транзакция уже начата"));
    if (!IsFolder()) {
        QSqlDatabase db = Sql();
        if (!db.transaction())
            throw EDBEngineError(engineMessage(db.lastError()));
    }
    m_inTransaction = true;
    markTransaction(true);
}

void TDatabase::Commit()
{
    if (!m_inTransaction)
        throw EDBEngineError(QStringLiteral("Транзакция не начата"));
    try {
        SendHeldWrites();
    } catch (...) {
        // The work cannot be committed whole: it is taken back.
        try {
            Rollback();
        } catch (...) {
        }
        throw;
    }
    // Marked first: a failed commit may still have ended the transaction.
    markTransaction(false);
    if (!IsFolder()) {
        QSqlDatabase db = Sql();
        if (!db.commit())
            throw EDBEngineError(engineMessage(db.lastError()));
    }
    m_inTransaction = false;
}

void TDatabase::DeferDurability(bool on)
{
    if (!m_connected || m_driver != QLatin1String("SQLITE") || ReadOnly)
        return;
    // Deferred: commits do not wait, the log is copied into the file less often, and twice
    // SQLite's default of pages is kept; otherwise SQLite's defaults with full waits.
    const char *const settings[] = {on ? "synchronous=NORMAL" : "synchronous=FULL",
                                    on ? "wal_autocheckpoint=10000" : "wal_autocheckpoint=1000",
                                    on ? "cache_size=-4096" : "cache_size=-2000"};
    QSqlQuery q(Sql());
    for (const char *setting : settings)
        if (!q.exec(QStringLiteral("PRAGMA ") + QLatin1String(setting)))
            throw EDBEngineError(engineMessage(q.lastError()));
}

void TDatabase::MakeDurable()
{
    if (m_connected && m_driver == QLatin1String("SQLITE") && !ReadOnly)
        engine::SyncSqliteLog(Sql());
}

void TDatabase::Rollback()
{
    if (!m_inTransaction)
        throw EDBEngineError(QStringLiteral("Транзакция не начата"));
    m_inTransaction = false;
    NoteRollback();
    markTransaction(false);
    if (!IsFolder()) {
        QSqlDatabase db = Sql();
        if (!db.rollback())
            throw EDBEngineError(engineMessage(db.lastError()));
    }
}

void TDatabase::HoldWrites(const void *holder, std::function<void()> send,
                           std::function<void()> drop)
{
    ReleaseWrites(holder);
    m_held.push_back({holder, std::move(send), std::move(drop)});
}

void TDatabase::ReleaseWrites(const void *holder)
{
    std::erase_if(m_held, [&](const Held &h) { return h.holder == holder; });
}

void TDatabase::SendHeldWrites()
{
    for (size_t i = 0; i < m_held.size(); ++i)
        m_held[i].send();
}

void TDatabase::dropHeldWrites()
{
    for (size_t i = 0; i < m_held.size(); ++i)
        m_held[i].drop();
}

void TDatabase::NoteRollback()
{
    dropHeldWrites();
    ++m_rollbacks;
    if (m_inTransaction)
        markTransaction(true);
}

void TDatabase::markTransaction(bool open)
{
    static std::atomic<quint64> serials{0};
    if (IsFolder() || m_connectionName.isEmpty())
        return;
    if (QSqlDriver *driver = Sql().driver())
        driver->setProperty(kTransactionSerial, open ? ++serials : quint64(0));
}

quint64 TransactionSerial(const QSqlDatabase &db)
{
    const QSqlDriver *driver = db.driver();
    return driver ? driver->property(kTransactionSerial).toULongLong() : 0;
}

std::unique_ptr<TDatabase> TDatabase::CloneForThread() const
{
    auto copy = std::make_unique<TDatabase>(DatabaseName, m_aliases);
    copy->AliasName = AliasName;
    copy->Params = Params;
    copy->ReadOnly = ReadOnly;
    copy->Exclusive = Exclusive;
    copy->LoginPrompt = false;
    if (m_connected && !IsFolder()) {
        copy->Params.erase(std::remove_if(copy->Params.begin(), copy->Params.end(),
                                          [](const QString &l) {
                                              const QString n = paramName(l);
                                              return n.compare(QLatin1String("USER NAME"),
                                                               Qt::CaseInsensitive) == 0 ||
                                                     n.compare(QLatin1String("PASSWORD"),
                                                               Qt::CaseInsensitive) == 0;
                                          }),
                           copy->Params.end());
        copy->Params << QStringLiteral("USER NAME=") + m_userName
                     << QStringLiteral("PASSWORD=") + m_password;
    }
    return copy;
}
