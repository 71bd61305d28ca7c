#include "schema/journalconnection.h"

#include "core/errors.h"
#include "engine/database.h"
#include "schema/schema.h"

#include <QSqlError>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

TJournalConnection::TJournalConnection(const TDatabase &center, const QString &name)
    : m_db(center.CloneForThread()), m_centralUser(center.UserName())
{
    m_db->DatabaseName = name;
}

TJournalConnection::~TJournalConnection() = default;

TDatabase &TJournalConnection::Db()
{
    if (!m_db->Connected()) {
        m_db->Open();
        UpgradeSchema(*m_db, SchemaKind::Central);
        if (m_centralUser.isEmpty())
            m_centralUser = m_db->UserName();
    }
    return *m_db;
}

QSqlQuery TJournalConnection::Exec(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(Db().Sql());
    if (!q.prepare(sql))
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, BindableValue(values[i], q.driver()));
    if (!q.exec())
        throw EDBEngineError(engineMessage(q.lastError(), q.driver()), sql);
    return q;
}

QString TJournalConnection::CentralUser()
{
    Db();
    return m_centralUser;
}

QVariant TJournalConnection::TextOrNull(const QString &s, int maxLength)
{
    if (s.isEmpty())
        return {};
    return s.left(maxLength);
}

QString TJournalConnection::MachineUser()
{
    QString user = qEnvironmentVariable("USERNAME");
    if (user.isEmpty())
        user = qEnvironmentVariable("USER");
    if (!user.isEmpty())
        return user;
#ifdef Q_OS_WIN
    wchar_t name[256];
    DWORD size = 256;
    if (GetUserNameW(name, &size) && size > 0)
        return QString::fromWCharArray(name, int(size) - 1);
#else
    if (const passwd *account = ::getpwuid(::geteuid()); account && account->pw_name)
        return QString::fromLocal8Bit(account->pw_name);
#endif
    return {};
}
