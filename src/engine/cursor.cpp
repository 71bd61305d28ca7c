#include "engine/cursor.h"

#include "engine/folderdataset.h"

#include <QMutex>

namespace engine {

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
