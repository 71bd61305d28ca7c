#include "engine/database.h"

#include "core/errors.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "engine/sql/sqldriver.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

namespace {

// Dynamic property of a connection's driver: its TransactionSerial.
const char *const kTransactionSerial = "zoruTransactionSerial";

QString nextConnectionName(const QString &databaseName)
{
    static QAtomicInt counter;
    return QStringLiteral("zoru_%1_%2").arg(databaseName).arg(counter.fetchAndAddRelaxed(1) + 1);
}

} // namespace

namespace {

// A server's message without what its client library adds: the severity ("FATAL:  "), the
// code in parentheses (empty when the connection is gone), the hint lines after the first.
QString serverMessage(QString text)
{
    static const QRegularExpression severity(
        QStringLiteral("^(FATAL|ERROR|PANIC|ОШИБКА|ВАЖНО|ПАНИКА):\\s*"));
    static const QRegularExpression code(QStringLiteral("\\s*\\([0-9A-Z]{0,5}\\)$"));
    text.remove(code);
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        line.remove(severity);
        if (!line.isEmpty())
            return line;
    }
    return {};
}

} // namespace

QString engineMessage(const QSqlError &error, const QSqlDriver *driver)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    // Lost: the connection is closed, or the server said it closes it (class 08 connection
    // exception, class 57P shutdown). A connection that could not be made was never lost: its
    // refusal (no server, no such database, a wrong password) is the server's message as it is.
    const QString state = error.nativeErrorCode();
    // A database that stayed busy is no failure of the statement: the wait ran out or was
    // stopped (SQLite's BUSY).
    if (driver && driver->dbmsType() == QSqlDriver::SQLite && (state.toInt() & 0xff) == 5)
        return engine::TBusyState::FailureMessage();
    // A server's lock timeout, and a deadlock or conflict it broke by failing this statement.
    if (driver && driver->dbmsType() == QSqlDriver::PostgreSQL &&
        (state == QLatin1String("55P03") || state == QLatin1String("40P01") ||
         state == QLatin1String("40001")))
        return BusyMessage + QStringLiteral(": ") + serverMessage(text);
    if (driver && driver->dbmsType() == QSqlDriver::PostgreSQL &&
        error.type() != QSqlError::ConnectionError &&
        (!driver->isOpen() || state.startsWith(QLatin1String("08")) ||
         state.startsWith(QLatin1String("57P")))) {
        // Whatever the statement was, what happened is that the server went away.
        const QString reason = serverMessage(text);
        return ConnectionLostMessage +
               (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    }
    // A server's DETAIL and HINT lines stay with the message, on its line.
    return OneLine(text);
}

bool IsConnectionLost(const QString &message)
{
    return message.startsWith(ConnectionLostMessage);
}

void TDatabase::SetLoginHandler(LoginHandler handler)
{
    loginprompt::Install(std::move(handler));
}

TDatabase::TDatabase(QString databaseName, TAliasStore *aliases)
    : DatabaseName(std::move(databaseName)), m_aliases(aliases ? aliases : &TAliasStore::Session()),
      m_busy(std::make_shared<engine::TBusyState>())
{
}

void TDatabase::SetBusyWait(TBusyWait wait)
{
    m_busy->Wait = std::move(wait);
    if (m_connected && m_backend)
        m_backend->ApplyBusyWait(Sql(), *m_busy);
}

const TBusyWait &TDatabase::BusyWait() const
{
    return m_busy->Wait;
}

bool TDatabase::IsRefusal(const QString &message) const
{
    return !ConnectionLost() && !IsConnectionLost(message) && !IsDatabaseBusy(message) &&
           message != StrConst::Interrupted;
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
    return m_backend && m_backend->IsServer();
}

bool TDatabase::ConnectionLost() const
{
    if (!m_connected || IsFolder() || !IsServer())
        return false;
    const QSqlDatabase db = Sql();
    return db.driver() && !db.driver()->isOpen();
}

bool TDatabase::IsServerAlias(const TAliasStore &aliases, const QString &alias)
{
    if (!aliases.IsAlias(alias))
        return false;
    const engine::TSqlDriver *backend =
        engine::SqlDriverNamed(aliases.GetAliasDriverName(alias).toUpper());
    return backend && backend->IsServer();
}

bool TDatabase::RefusalAbortsTransaction() const
{
    return m_backend && m_backend->RefusalAbortsTransaction();
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
        const QString path = m_aliases->GetAliasPathParam(AliasName, QStringLiteral("PATH"));
        if (path.isEmpty() || !QFileInfo(path).isDir())
            throw EDBEngineError(QStringLiteral("Папка базы данных не найдена: %1").arg(path));
        m_driver = driver;
        m_backend = nullptr;
        m_folder = paths::includeTrailing(path);
        m_connected = true;
        return;
    }
    const engine::TSqlDriver *backend = engine::SqlDriverNamed(driver);
    if (!backend)
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
    m_backend = backend;
    openSql(*backend);
}

void TDatabase::OpenFolder(const QString &path, const QString &driver)
{
    Close();
    if (path.isEmpty() || !QFileInfo(path).isDir())
        throw EDBEngineError(QStringLiteral("Папка базы данных не найдена: %1").arg(path));
    m_driver = driver.toUpper();
    m_backend = nullptr;
    m_folder = paths::includeTrailing(path);
    m_connected = true;
}

void TDatabase::openSql(const engine::TSqlDriver &driver)
{
    m_connectionName = nextConnectionName(DatabaseName);
    bool ok = false;
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver.QtDriverName(), m_connectionName);
        if (!db.isValid()) {
            failure = QStringLiteral("Драйвер %1 недоступен").arg(driver.QtDriverName());
        } else {
            try {
                driver.Open(db, {*m_aliases, AliasName, m_userName, m_password, ReadOnly});
                driver.ApplyBusyWait(db, *m_busy);
                ok = true;
            } catch (const EDBEngineError &e) {
                failure = e.Message();
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
            if (m_backend)
                m_backend->BeforeClose(db);
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
        const QString begin = m_backend->BeginStatement(ReadOnly);
        if (begin.isEmpty()) {
            if (!db.transaction())
                throw EDBEngineError(engineMessage(db.lastError(), db.driver()));
        } else {
            QSqlQuery q(db);
            if (!q.exec(begin))
                throw EDBEngineError(engineMessage(q.lastError(), q.driver()), begin);
        }
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
    m_inTransaction = false;
    if (!IsFolder()) {
        QSqlDatabase db = Sql();
        if (!db.commit()) {
            // Refused (a deferred check, a full disk, a lost server): the work is not kept. A
            // server has ended the transaction already; SQLite keeps it open until it is
            // rolled back, so that the next statement would still be part of it.
            const QString message = engineMessage(db.lastError(), db.driver());
            db.rollback();
            NoteRollback();
            throw EDBEngineError(message);
        }
    }
}

void TDatabase::DeferDurability(bool on)
{
    if (m_connected && m_backend && !ReadOnly)
        m_backend->DeferDurability(Sql(), on);
}

void TDatabase::MakeDurable()
{
    if (m_connected && m_backend && !ReadOnly)
        m_backend->MakeDurable(Sql());
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
            throw EDBEngineError(engineMessage(db.lastError(), db.driver()));
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
    copy->m_busy->Wait = m_busy->Wait;
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
