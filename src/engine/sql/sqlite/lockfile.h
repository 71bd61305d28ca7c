#pragma once

#include "engine/sql/sqldriver.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace engine {

// A lock on a file that the system drops with the process holding it (an advisory lock of the
// open file on POSIX systems, an exclusive handle on Windows): a process killed at any moment
// leaves no lock behind, and a lock file left over, empty or naming a dead process, locks
// nothing. The file is removed when the lock is given back.
class TLockFile final : public THeldLock
{
public:
    // The lock of the file at path (made when missing), holding holder as its content, or
    // nullptr when another process holds it. Throws EFileError, naming the file, when the file
    // cannot be made or opened.
    static std::unique_ptr<TLockFile> TryLock(const QString &path, const QByteArray &holder = {});
    // The content of the lock file at path while a process holds it; nothing when none does.
    static std::optional<QByteArray> Holder(const QString &path);
    ~TLockFile() override;

    // Replaces the content.
    void Describe(const QByteArray &holder);

    struct Handle;
    TLockFile(QString path, std::unique_ptr<Handle> handle);

private:
    QString m_path;
    std::unique_ptr<Handle> m_handle;
};

} // namespace engine
