#include "schema/importlock.h"

#include "engine/database.h"
#include "engine/databaselock.h"
#include "schema/journalconnection.h"
#include "schema/schema.h"

#include <QCoreApplication>
#include <QSysInfo>

namespace {

// "ZORUIMPO"
const TLockPlace kPlace{0x5A4F5255494D504FLL, QStringLiteral(".import.lock"),
                        QStringLiteral("IMPORTLOCK")};
const QString kLocked =
    QStringLiteral("Импорт уже выполняется с другого рабочего места или в другом окне. Дождитесь "
                   "его окончания и повторите импорт.");
const QString kTimeFormat = QStringLiteral("dd.MM.yyyy hh:mm");

// A line's value without line breaks, which would end it.
QString oneLine(QString value)
{
    value.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return value;
}

} // namespace

TImportLockHolder TImportLockHolder::ThisProcess(const QString &program)
{
    TImportLockHolder me;
    me.User = TJournalConnection::MachineUser();
    me.Host = QSysInfo::machineHostName();
    me.Process = QCoreApplication::applicationPid();
    me.Program = program;
    me.Since = QDateTime::currentDateTime();
    return me;
}

QByteArray TImportLockHolder::Encode() const
{
    const QString text =
        QStringLiteral("user=%1\nhost=%2\nprocess=%3\nprogram=%4\nsince=%5\npackage=%6\n")
            .arg(oneLine(User), oneLine(Host))
            .arg(Process)
            .arg(oneLine(Program), Since.toString(Qt::ISODate), oneLine(Package));
    return text.toUtf8();
}

TImportLockHolder TImportLockHolder::Decode(const QByteArray &text)
{
    TImportLockHolder h;
    for (const QString &line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString name = line.left(eq);
        const QString value = line.mid(eq + 1);
        if (name == QLatin1String("user"))
            h.User = value;
        else if (name == QLatin1String("host"))
            h.Host = value;
        else if (name == QLatin1String("process"))
            h.Process = value.toLongLong();
        else if (name == QLatin1String("program"))
            h.Program = value;
        else if (name == QLatin1String("since"))
            h.Since = QDateTime::fromString(value, Qt::ISODate);
        else if (name == QLatin1String("package"))
            h.Package = value;
    }
    return h;
}

QString TImportLockHolder::Text() const
{
    if (!Known())
        return kLocked;
    return QStringLiteral("Импорт выполняет %1 на %2 с %3")
        .arg(User.isEmpty() ? QStringLiteral("?") : User,
             Host.isEmpty() ? QStringLiteral("?") : Host,
             Since.isValid() ? Since.toString(kTimeFormat) : QStringLiteral("?"));
}

std::unique_ptr<TImportLock> TImportLock::TryTake(TDatabase &center, TImportLockHolder me)
{
    // A server's database made before the lock was described gets its table first.
    if (center.IsServer())
        UpgradeSchema(center, SchemaKind::Central);
    std::unique_ptr<TDatabaseLock> lock = TDatabaseLock::TryAcquire(center, kPlace, me.Encode());
    if (!lock)
        return nullptr;
    return std::make_unique<TImportLock>(std::move(lock), std::move(me));
}

std::optional<TImportLockHolder> TImportLock::Holder(TDatabase &center)
{
    if (center.IsServer())
        UpgradeSchema(center, SchemaKind::Central);
    const std::optional<QByteArray> text = TDatabaseLock::Holder(center, kPlace);
    if (!text)
        return std::nullopt;
    return TImportLockHolder::Decode(*text);
}

QString TImportLock::HolderText(TDatabase &center)
{
    const std::optional<TImportLockHolder> holder = Holder(center);
    return holder ? holder->Text() : kLocked;
}

TImportLock::TImportLock(std::unique_ptr<TDatabaseLock> lock, TImportLockHolder me)
    : m_lock(std::move(lock)), m_me(std::move(me))
{
}

TImportLock::~TImportLock() = default;

void TImportLock::SetPackage(const QString &package)
{
    m_me.Package = package;
    m_lock->Describe(m_me.Encode());
}

const QString &TImportLock::LockedMessage()
{
    return kLocked;
}
