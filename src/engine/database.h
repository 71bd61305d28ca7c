#pragma once

#include "core/aliases.h"
#include "core/loginprompt.h"
#include "engine/busywait.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// A database connection reached by alias, in the manner of the engine the system was built for:
// a database name by which tables and queries refer to it, an alias, NAME=value parameters
// ("USER NAME=...", optionally "PASSWORD=..."), a log-in prompt, read-only and exclusive flags
// and explicit transactions.
//
// A Qt SQL connection belongs to the thread that opened it: a TDatabase is used on one thread
// only. A job that needs the same database on its worker thread opens its own connection with
// CloneForThread(), which reuses the alias and the credentials given at log-in.
//
// Drivers (from the alias): "SQLITE" (DATABASE NAME = file), "POSTGRESQL" (SERVER NAME, PORT,
// DATABASE NAME), "PARADOX" and "DBASE" (PATH = folder of table files).
class QSqlDriver;

namespace engine {
class TSqlDriver;
class TBusyState;
} // namespace engine

class TDatabase
{
public:
    // Asks for user name and password before a connection opens; false when cancelled. Installed
    // by the user interface; without one the connection opens with the password it has. The
    // same prompt as loginprompt::Install (core/loginprompt.h).
    using LoginHandler = loginprompt::Handler;
    static void SetLoginHandler(LoginHandler handler);

    explicit TDatabase(QString databaseName, TAliasStore *aliases = nullptr);
    ~TDatabase();
    TDatabase(const TDatabase &) = delete;
    TDatabase &operator=(const TDatabase &) = delete;

    QString DatabaseName;
    QString AliasName;
    QStringList Params;
    bool LoginPrompt = true;
    bool ReadOnly = false;
    // Kept for the configuration's sake; a server connection is never locked for others, since
    // a job opens its own connection to the same database.
    bool Exclusive = false;

    // Opens the connection (showing the log-in prompt when due). Throws EDBEngineError for what
    // the engine refuses (unknown alias, wrong password, unreachable server, missing file) and a
    // plain EDatabaseError when the log-in prompt was cancelled.
    void Open();
    // Connects straight to a folder of table files, without an alias (a package folder).
    void OpenFolder(const QString &path, const QString &driver = QStringLiteral("PARADOX"));
    void Close();
    bool Connected() const { return m_connected; }

    // Begins a transaction. On a writable SQLite file it takes the write lock at once (waiting
    // for another writer as BusyWait says), so that work that reads and then writes never finds
    // its picture of the database outdated by another writer's commit in between.
    void StartTransaction();
    // Ends the transaction either way: a commit the database refuses is rolled back and throws
    // EDBEngineError with the engine's message.
    void Commit();
    void Rollback();
    bool InTransaction() const { return m_inTransaction; }
    // How many times work was taken back (a rollback or a rollback to a savepoint): what was
    // read before may no longer be there.
    quint64 RollbackCount() const { return m_rollbacks; }
    void NoteRollback();

    // How statements wait for a database that other work holds (busywait.h); copied by
    // CloneForThread. Takes effect at once on an open connection.
    void SetBusyWait(TBusyWait wait);
    const TBusyWait &BusyWait() const;
    // Whether an error of this connection is the database refusing the work (a constraint, a
    // value it will not take): not the server gone, a busy database waited for in vain, or a
    // wait stopped by the user. Work that goes on past refused rows goes on past these only.
    bool IsRefusal(const QString &message) const;

    // Durability deferred: commits of an SQLite database return without waiting for the disk
    // (the log keeps them safe from a crash of the program, not of the machine) until
    // MakeDurable, which waits for everything committed so far. For a job committing many small
    // transactions. Nothing for other databases, whose commits always wait.
    void DeferDurability(bool on);
    void MakeDurable();

    // Writes that datasets hold back to send in groups (TDataSet::SetGroupInserts): sent before
    // the transaction commits and before a savepoint is set, dropped when work is taken back or
    // the connection closes. A commit whose writes cannot be sent rolls the transaction back.
    void HoldWrites(const void *holder, std::function<void()> send, std::function<void()> drop);
    void ReleaseWrites(const void *holder);
    void SendHeldWrites();

    // Driver of the alias ("SQLITE", "POSTGRESQL", "PARADOX", "DBASE"); valid once connected.
    // Work outside the engine asks for what a backend does, never for its driver's name:
    QString Driver() const { return m_driver; }
    // A server reached over a connection (PostgreSQL): every statement is a round trip, so
    // reading rows ahead and sending new rows in groups pays.
    bool IsServer() const;
    // A statement the database refuses aborts the whole transaction (PostgreSQL), so that work
    // going on past a refused row needs a savepoint per row; elsewhere (SQLite) only the
    // statement is undone and the transaction goes on.
    bool RefusalAbortsTransaction() const;
    // The server has dropped the connection (stopped, restarted, the network gone): every
    // statement fails from now on. Never for an embedded database.
    bool ConnectionLost() const;
    // Whether an alias names a database on a server (which checks the password it is given),
    // known before connecting; false for an unknown alias.
    static bool IsServerAlias(const TAliasStore &aliases, const QString &alias);
    bool IsFolder() const;
    // The driver of an SQL database's backend (engine/sql/sqldriver.h), which the engine's own
    // code asks for what the backend does; nullptr for a folder database. Valid once connected.
    const engine::TSqlDriver *SqlDriver() const { return m_backend; }
    // Folder of a PARADOX or DBASE database, with a trailing separator.
    QString Folder() const { return m_folder; }
    // The Qt connection of an SQL database (invalid for folder databases).
    QSqlDatabase Sql() const;

    // Credentials used for the connection that stands.
    QString UserName() const { return m_userName; }
    QString Password() const { return m_password; }

    // A new, unopened connection with the same alias, flags and credentials and no log-in prompt,
    // to be opened and used on the calling thread.
    std::unique_ptr<TDatabase> CloneForThread() const;

    TAliasStore &Aliases() const { return *m_aliases; }

private:
    QString param(const QString &name) const;
    void openSql(const engine::TSqlDriver &driver);
    void markTransaction(bool open);

    TAliasStore *m_aliases;
    QString m_connectionName;
    QString m_driver;
    const engine::TSqlDriver *m_backend = nullptr;
    QString m_folder;
    QString m_userName;
    QString m_password;
    bool m_connected = false;
    bool m_inTransaction = false;
    quint64 m_rollbacks = 0;
    std::shared_ptr<engine::TBusyState> m_busy;
    struct Held
    {
        const void *holder;
        std::function<void()> send;
        std::function<void()> drop;
    };
    std::vector<Held> m_held;
    void dropHeldWrites();
};

// The transaction a connection of a TDatabase is in, as a number no other transaction of the
// program had; 0 outside a transaction (and for a transaction begun past TDatabase). A rollback
// to a savepoint counts as a new transaction: what was opened after the savepoint is gone.
quint64 TransactionSerial(const QSqlDatabase &db);

// The engine's message for a failed Qt SQL call.
// The engine's message for a failed Qt SQL call. With the connection's driver given, a failure
// that came of the server dropping the connection reads "Соединение с сервером базы данных
// потеряно: " and the server's message.
QString engineMessage(const QSqlError &error, const QSqlDriver *driver = nullptr);
inline const QString ConnectionLostMessage =
    QStringLiteral("Соединение с сервером базы данных потеряно");
// Whether an engine message says the server has dropped the connection.
bool IsConnectionLost(const QString &message);

// Removes an SQLite database file with the log files SQLite keeps beside it (a log left by a
// crash would otherwise be read into a new file of the same name); false when the database
// file itself stays.
bool RemoveSqliteFile(const QString &path);

// A value as it must be bound to a statement of this connection. Date-times are wall-clock
// times in the columns; PostgreSQL's Qt driver would send a bound QDateTime converted to UTC,
// shifting it by the local offset, so it goes to PostgreSQL as ISO text instead.
QVariant BindableValue(const QVariant &value, const QSqlDriver *driver);
