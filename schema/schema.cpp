#include "schema/schema.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/sqlscript.h"

#include <QFile>

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

QString SchemaScript(SchemaKind kind, const QString &driver)
{
    QString folder;
    if (driver.compare(QLatin1String("SQLITE"), Qt::CaseInsensitive) == 0)
        folder = QStringLiteral("sqlite");
    else if (driver.compare(QLatin1String("POSTGRESQL"), Qt::CaseInsensitive) == 0)
        folder = QStringLiteral("postgresql");
    else
        throw EDatabaseError(
            QStringLiteral("Для драйвера %1 нет сценария создания базы данных").arg(driver));
    const QString name =
        kind == SchemaKind::Central ? QStringLiteral("central.sql") : QStringLiteral("esvs.sql");
    QFile file(QStringLiteral(":/schema/") + folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        throw EDatabaseError(
            QStringLiteral("Сценарий создания базы данных не найден: %1").arg(file.fileName()));
    return QString::fromUtf8(file.readAll());
}

void CreateSchema(TDatabase &db, SchemaKind kind)
{
    if (!db.Connected())
        throw EDatabaseError(QStringLiteral("База данных %1 не подключена").arg(db.DatabaseName));
    engine::ExecuteScript(db, SchemaScript(kind, db.Driver()));
}
