#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

class TDatabase;
class TDatabaseLock;

// Who holds the import lock of a central database, as the holder describes itself: the user and
// machine it runs as, its process, the program ("окно", "командная строка"), since when, and
// the package it imports now.
struct TImportLockHolder
{
    QString User;
    QString Host;
    qint64 Process = 0;
    QString Program;
    QDateTime Since;
    QString Package;

    // This process as program, since now.
    static TImportLockHolder ThisProcess(const QString &program);
    // As stored (text lines "name=value", UTF-8); what cannot be read stays empty.
    QByteArray Encode() const;
    static TImportLockHolder Decode(const QByteArray &text);
    // "Импорт выполняет <user> на <host> с <time>"; an older program's lock, which describes
    // nobody, gives the older wording.
    QString Text() const;
    bool Known() const { return !User.isEmpty() || !Host.isEmpty(); }
};

// One import at a time per central database, across processes and machines (the advisory lock
// of a server with a row of IMPORTLOCK describing its holder; a lock file beside an SQLite file
// holding the description). Taken on the thread of its connection, outside a transaction, and
// given back when destroyed; the system gives it back when the holder's process ends.
class TImportLock
{
public:
    // The lock, or nullptr when another holds it. Throws the engine's error when the database
    // cannot be asked.
    static std::unique_ptr<TImportLock> TryTake(TDatabase &center, TImportLockHolder me);
    // Who holds it now; nothing when it is free.
    static std::optional<TImportLockHolder> Holder(TDatabase &center);
    // The text of an import that met the lock: its holder's Text(), LockedMessage() when the
    // holder is not known or gave it back meanwhile.
    static QString HolderText(TDatabase &center);
    ~TImportLock();
    TImportLock(const TImportLock &) = delete;
    TImportLock &operator=(const TImportLock &) = delete;

    // The package imported now (a file name), for whoever asks who holds the lock.
    void SetPackage(const QString &package);
    const TImportLockHolder &Me() const { return m_me; }

    // The text of an import refused while another one runs, when its holder is not known.
    static const QString &LockedMessage();

    TImportLock(std::unique_ptr<TDatabaseLock> lock, TImportLockHolder me);

private:
    std::unique_ptr<TDatabaseLock> m_lock;
    TImportLockHolder m_me;
};
