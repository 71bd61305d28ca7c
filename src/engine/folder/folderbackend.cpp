#include "engine/folder/folderbackend.h"

#include "core/errors.h"
#include "engine/database.h"
#include "engine/folder/createtable.h"
#include "engine/folder/memorycopy.h"
#include "engine/folder/paradoxcursor.h"
#include "engine/folder/tablefiles.h"
#include "engine/paradox/paradoxtable.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace engine {

namespace {

class ParadoxFolderBackend final : public TFolderBackend
{
public:
    std::unique_ptr<TCursor> OpenTable(TDatabase &db, const QString &tableName,
                                       bool readOnly) override
    {
        const QString path = FolderTablePath(db.Folder(), tableName, true);
        return OpenParadoxTable(path, readOnly || db.ReadOnly);
    }

    std::unique_ptr<TCursor> OpenQuery(TDatabase &db, const QString &sql,
                                       const TBoundValues &params) override
    {
        return OpenQueryOverCopy(db.Folder(), sql, params);
    }

    int ExecSQL(TDatabase &db, const QString &sql, const TBoundValues &params) override
    {
        if (std::optional<TCreateTable> create = ParseCreateTable(sql)) {
            if (db.ReadOnly)
                throw EDBEngineError(QStringLiteral("База данных %1 открыта только для чтения")
                                         .arg(db.DatabaseName));
            createTable(db.Folder(), *create);
            return 0;
        }
        return ExecOverCopy(db, sql, params);
    }

private:
    static void createTable(const QString &folder, const TCreateTable &create)
    {
        CheckTableName(create.TableName);
        const QHash<QString, QString> files = FolderFiles(folder);
        const QString fileName = create.TableName + QStringLiteral(".db");
        if (files.contains(fileName.toLower()) ||
            files.contains(
                QFileInfo(paradox::primaryIndexPath(folder + fileName)).fileName().toLower()))
            throw EDBEngineError(QStringLiteral("Таблица %1 уже существует").arg(create.TableName));
        paradox::createEmptyTable(folder + fileName, create.Schema);
    }
};

} // namespace

void ExecuteFolderScript(TDatabase &db, const QStringList &statements)
{
    auto backend = FolderBackend();
    if (!backend)
        throw EDBEngineError(QStringLiteral("Драйвер %1 не подключен").arg(db.Driver()));
    // Tables made by this script; removed again when a later statement fails.
    QStringList created;
    try {
        for (const QString &statement : statements) {
            const std::optional<TCreateTable> create = ParseCreateTable(statement);
            try {
                backend->ExecSQL(db, statement, {});
            } catch (const EDBEngineError &e) {
                throw EDBEngineError(e.Message(), statement);
            }
            if (create)
                created << FolderTablePath(db.Folder(), create->TableName + QStringLiteral(".db"),
                                           false);
        }
    } catch (...) {
        for (const QString &path : created) {
            QFile::remove(path);
            QFile::remove(paradox::primaryIndexPath(path));
        }
        throw;
    }
}

std::shared_ptr<TFolderBackend> MakeParadoxFolderBackend()
{
    return std::make_shared<ParadoxFolderBackend>();
}

void InstallFolderBackend()
{
    if (!FolderBackend())
        SetFolderBackend(MakeParadoxFolderBackend());
}

// The backend slot lives with the folder module, not with the cursor interface: the cursors of
// SQL and memory datasets need nothing of it.
namespace {
QMutex backendMutex;
std::shared_ptr<TFolderBackend> &backendSlot()
{
    static std::shared_ptr<TFolderBackend> backend;
    return backend;
}
} // namespace

void SetFolderBackend(std::shared_ptr<TFolderBackend> backend)
{
    QMutexLocker lock(&backendMutex);
    backendSlot() = std::move(backend);
}

std::shared_ptr<TFolderBackend> FolderBackend()
{
    QMutexLocker lock(&backendMutex);
    // Folder databases are served by the Paradox backend unless another one was installed.
    if (!backendSlot())
        backendSlot() = MakeParadoxFolderBackend();
    return backendSlot();
}

} // namespace engine
