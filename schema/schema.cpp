#include "schema/schema.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/sqlscript.h"

#include <QFile>
#include <QStringList>
#include <vector>

bool ParseSchemaKind(const QString &text, SchemaKind &kind)
{
    if (text.compare(QLatin1String("central"), Qt::CaseInsensitive) == 0) {
        kind = SchemaKind::Central;
        return true;
    }
    if (text.compare(QLatin1String("esvs"), Qt::CaseInsensitive) == 0) {
        kind = SchemaKind::Esvs;
        return true;
    }
    return false;
}

namespace {

// A part of a schema added after its first version: its script and the tables it makes, on
// every backend or on one only.
struct TSchemaPart
{
    const char *script;
    QStringList tables;
    const char *onlyOn = nullptr; // a driver's name
};

bool belongsTo(const TSchemaPart &part, const QString &driver)
{
    return !part.onlyOn || driver.compare(QLatin1String(part.onlyOn), Qt::CaseInsensitive) == 0;
}

std::vector<TSchemaPart> partsOf(SchemaKind kind)
{
    if (kind != SchemaKind::Central)
        return {};
    return {
        {"journal.sql", {QStringLiteral("IMPORTJOURNAL"), QStringLiteral("IMPORTJOURNALTABLE")}},
        {"importrefused.sql", {QStringLiteral("IMPORTJOURNALREFUSED")}},
        {"exportjournal.sql", {QStringLiteral("EXPORTJOURNAL")}},
        {"importlock.sql", {QStringLiteral("IMPORTLOCK")}, "POSTGRESQL"}};
}

QString folderOf(const QString &driver)
{
    QString folder;
    if (driver.compare(QLatin1String("SQLITE"), Qt::CaseInsensitive) == 0)
        folder = QStringLiteral("sqlite");
    else if (driver.compare(QLatin1String("POSTGRESQL"), Qt::CaseInsensitive) == 0)
        folder = QStringLiteral("postgresql");
    else
        throw EDatabaseError(
            QStringLiteral("Для драйвера %1 нет сценария создания базы данных").arg(driver));
    return folder;
}

QString readScript(const QString &folder, const QString &name)
{
    QFile file(QStringLiteral(":/schema/") + folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        throw EDatabaseError(
            QStringLiteral("Сценарий создания базы данных не найден: %1").arg(file.fileName()));
    return QString::fromUtf8(file.readAll());
}

bool hasTables(const QStringList &present, const QStringList &wanted)
{
    for (const QString &t : wanted)
        if (!present.contains(t, Qt::CaseInsensitive))
            return false;
    return true;
}

} // namespace

QString SchemaScript(SchemaKind kind, const QString &driver)
{
    const QString folder = folderOf(driver);
    QString script = readScript(folder, kind == SchemaKind::Central ? QStringLiteral("central.sql")
                                                                    : QStringLiteral("esvs.sql"));
    for (const TSchemaPart &part : partsOf(kind))
        if (belongsTo(part, driver))
            script += QLatin1Char('\n') + readScript(folder, QLatin1String(part.script));
    return script;
}

void CreateSchema(TDatabase &db, SchemaKind kind)
{
    if (!db.Connected())
        throw EDatabaseError(QStringLiteral("База данных %1 не подключена").arg(db.DatabaseName));
    engine::ExecuteScript(db, SchemaScript(kind, db.Driver()));
}

void UpgradeSchema(TDatabase &db, SchemaKind kind)
{
    if (!db.Connected())
        throw EDatabaseError(QStringLiteral("База данных %1 не подключена").arg(db.DatabaseName));
    const std::vector<TSchemaPart> parts = partsOf(kind);
    if (parts.empty())
        return;
    const QStringList present = db.Sql().tables();
    const QString folder = folderOf(db.Driver());
    for (const TSchemaPart &part : parts) {
        if (!belongsTo(part, db.Driver()) || hasTables(present, part.tables))
            continue;
        try {
            engine::ExecuteScript(db, readScript(folder, QLatin1String(part.script)));
        } catch (const EDBEngineError &) {
            // Another program may have made the part meanwhile: then it is there all the same.
            if (!hasTables(db.Sql().tables(), part.tables))
                throw;
        }
    }
}
