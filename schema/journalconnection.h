#pragma once

#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <memory>

class TDatabase;

// The connection of a journal of the central database: its own, cloned from the central
// connection on the calling thread and opened at first use with the later parts of the schema
// made, so that what it records outlives a rollback or a failure of the work it describes and
// the read snapshot that work may hold.
class TJournalConnection
{
public:
    // `center` names the central database and the credentials; it is not used afterwards.
    // name: the connection's database name, for messages.
    TJournalConnection(const TDatabase &center, const QString &name);
    ~TJournalConnection();
    TJournalConnection(const TJournalConnection &) = delete;
    TJournalConnection &operator=(const TJournalConnection &) = delete;

    // The open connection (opened, and the schema's later parts made, at first use).
    TDatabase &Db();
    // Runs one statement with positional values; throws EDBEngineError with the engine's
    // message.
    QSqlQuery Exec(const QString &sql, const QVariantList &values);
    // The user of the central database.
    QString CentralUser();

    // A text cut to a column's length; Null for an empty one.
    static QVariant TextOrNull(const QString &s, int maxLength);
    // The user the program runs as on this machine; a service or a timer's job, which runs
    // without USER, gets the account's own name.
    static QString MachineUser();

private:
    std::unique_ptr<TDatabase> m_db;
    QString m_centralUser;
};
