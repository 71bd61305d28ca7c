#include "engine/sql/sqlite/lockfile.h"

#include "core/errors.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace engine {

namespace {

[[noreturn]] void cannotMake(const QString &path, const QString &reason)
{
    throw EFileError(QStringLiteral("Невозможно создать файл блокировки %1: %2")
                         .arg(QDir::toNativeSeparators(path), reason));
}

} // namespace

#ifdef Q_OS_WIN

struct TLockFile::Handle
{
    HANDLE file = INVALID_HANDLE_VALUE;
    ~Handle()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
};

std::unique_ptr<TLockFile> TLockFile::TryLock(const QString &path, const QByteArray &holder)
{
    // Shared for reading only: a second open for writing fails until the holder closes it or
    // ends, while a reader may learn who holds it.
    auto handle = std::make_unique<Handle>();
    handle->file =
        CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle->file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION)
            return nullptr;
        cannotMake(path, QStringLiteral("ошибка %1").arg(error));
    }
    auto lock = std::make_unique<TLockFile>(path, std::move(handle));
    lock->Describe(holder);
    return lock;
}

void TLockFile::Describe(const QByteArray &holder)
{
    DWORD written = 0;
    SetFilePointer(m_handle->file, 0, nullptr, FILE_BEGIN);
    WriteFile(m_handle->file, holder.constData(), DWORD(holder.size()), &written, nullptr);
    SetEndOfFile(m_handle->file);
}

std::optional<QByteArray> TLockFile::Holder(const QString &path)
{
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt; // none, or left by nobody: a holder keeps it open for writing
    QByteArray content(4096, '\0');
    DWORD read = 0;
    ReadFile(file, content.data(), DWORD(content.size()), &read, nullptr);
    CloseHandle(file);
    content.truncate(qsizetype(read));
    return content;
}

TLockFile::~TLockFile() = default; // the handle's close deletes the file

#else

struct TLockFile::Handle
{
    int fd = -1;
    ~Handle()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::unique_ptr<TLockFile> TLockFile::TryLock(const QString &path, const QByteArray &holder)
{
    const QByteArray name = QFile::encodeName(path);
    for (;;) {
        auto handle = std::make_unique<Handle>();
        handle->fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (handle->fd < 0)
            cannotMake(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (::flock(handle->fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                return nullptr;
            cannotMake(path, QString::fromLocal8Bit(std::strerror(errno)));
        }
        // The file may have been removed by the holder that gave the lock back after this open:
        // then the lock is on a file nobody else finds, and it is taken again on the file there.
        struct stat locked
        {
        };
        struct stat named
        {
        };
        if (::fstat(handle->fd, &locked) == 0 && ::stat(name.constData(), &named) == 0 &&
            locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
            auto lock = std::make_unique<TLockFile>(path, std::move(handle));
            lock->Describe(holder.isEmpty() ? QByteArray::number(qint64(::getpid())) + '\n'
                                            : holder);
            return lock;
        }
    }
}

void TLockFile::Describe(const QByteArray &holder)
{
    // The content is for a reader's information only.
    if (::ftruncate(m_handle->fd, 0) != 0)
        return;
    [[maybe_unused]] const ssize_t written =
        ::pwrite(m_handle->fd, holder.constData(), size_t(holder.size()), 0);
}

std::optional<QByteArray> TLockFile::Holder(const QString &path)
{
    const Handle handle{::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)};
    if (handle.fd < 0)
        return std::nullopt;
    // A shared lock is had only while nobody holds the lock: then the content is a leftover.
    if (::flock(handle.fd, LOCK_SH | LOCK_NB) == 0)
        return std::nullopt;
    QByteArray content(4096, '\0');
    const ssize_t n = ::pread(handle.fd, content.data(), size_t(content.size()), 0);
    content.truncate(n > 0 ? qsizetype(n) : 0);
    return content;
}

TLockFile::~TLockFile()
{
    // Removed while still locked, so that nobody takes a lock on the file being removed.
    ::unlink(QFile::encodeName(m_path).constData());
}

#endif

TLockFile::TLockFile(QString path, std::unique_ptr<Handle> handle)
    : m_path(std::move(path)), m_handle(std::move(handle))
{
}

} // namespace engine
