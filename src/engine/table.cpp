#include "engine/table.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/folder/tablefiles.h"
#include "engine/sql/sqlcursor.h"

#include <QFileInfo>

namespace {

std::shared_ptr<engine::TFolderBackend> folderBackend(const TDatabase &db)
{
    auto backend = engine::FolderBackend();
    if (!backend)
        throw EDBEngineError(QStringLiteral("Драйвер %1 не подключен").arg(db.Driver()));
    return backend;
}

} // namespace

TTable::TTable(TDatabase *database, QString tableName)
    : m_database(database), m_tableName(std::move(tableName))
{
}

TTable::~TTable() = default;

void TTable::SetDatabase(TDatabase *database)
{
    if (database == m_database)
        return;
    Close();
    m_database = database;
}

void TTable::SetTableName(const QString &name)
{
    if (name == m_tableName)
        return;
    Close();
    m_tableName = name;
}

std::unique_ptr<engine::TCursor> TTable::CreateCursor()
{
    if (!m_database)
        throw EDatabaseError(QStringLiteral("Не задана база данных таблицы %1").arg(m_tableName));
    if (m_tableName.trimmed().isEmpty())
        throw EDatabaseError(QStringLiteral("Не задано имя таблицы"));
    if (!m_database->Connected())
        m_database->Open();
    const bool readOnly = ReadOnly || m_database->ReadOnly;
    if (m_database->IsFolder())
        return folderBackend(*m_database)->OpenTable(*m_database, m_tableName, readOnly);
    return engine::MakeSqlTableCursor(m_database->Sql(), m_tableName, readOnly);
}

std::unique_ptr<engine::TCursor> TTable::CreateLookupCursor()
{
    return CreateCursor();
}

bool TTable::Exists() const
{
    if (!m_database || !m_database->Connected())
        return false;
    if (m_database->IsFolder()) {
        // File names in a folder database compare without regard to case, as the backend opens
        // them; a name that would leave the folder names no table of it.
        try {
            return QFileInfo(engine::FolderTablePath(m_database->Folder(), m_tableName, false))
                .isFile();
        } catch (const EDBEngineError &) {
            return false;
        }
    }
    return engine::SqlTableExists(m_database->Sql(), m_tableName);
}

void TTable::EmptyTable()
{
    const bool wasActive = Active();
    Close();
    std::unique_ptr<engine::TCursor> cursor = CreateCursor();
    cursor->Open(engine::TRowFilter());
    engine::TRow row;
    bool ok = cursor->First(row);
    while (ok) {
        cursor->Delete(row);
        ok = cursor->Next(row);
    }
    cursor->Close();
    if (wasActive)
        Open();
}
