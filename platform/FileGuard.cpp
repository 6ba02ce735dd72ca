#include "FileGuard.h"

#include <QFile>

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

using FileId = std::pair<unsigned long long, unsigned long long>;

// Every hold of the process. Opens that take a hold and every removal go under one lock, so a
// removal sees each hold that an open before it took, and an open never holds a removed file.
struct HoldRegistry
{
    std::mutex lock;
    std::map<FileId, int> counts;
};

HoldRegistry &registry()
{
    static HoldRegistry instance;
    return instance;
}

FileId idOf(const struct stat &info)
{
    return {static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino)};
}

QByteArray nativeName(const QString &path)
{
    return QFile::encodeName(path);
}

int openFlags(QIODevice::OpenMode mode)
{
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const bool reads = mode & QIODevice::ReadOnly;
    const bool writes = mode & (QIODevice::WriteOnly | QIODevice::Append);
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    if (writes && !(mode & QIODevice::ExistingOnly))
        flags |= O_CREAT;
    if (writes && (mode & QIODevice::NewOnly))
        flags |= O_CREAT | O_EXCL;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    return flags;
}

// The open itself. A path that names something other than a regular file is refused before it is
// opened where that can be seen, and after the open in any case (it may have changed between).
// O_NONBLOCK keeps the open of a FIFO from waiting for its other end; it is cleared for a file.
int openRegular(const QByteArray &name, QIODevice::OpenMode mode, struct stat &info)
{
    if (::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : ENXIO;
        return -1;
    }
    int fd;
    do {
        fd = ::open(name.constData(), openFlags(mode), 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : ENXIO;
        ::close(fd);
        errno = error;
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0
        || ((mode & QIODevice::Truncate) && ::ftruncate(fd, 0) != 0)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

FileHold::FileHold(FileHold &&other) noexcept
    : device(other.device), inode(other.inode), held(other.held)
{
    other.held = false;
}

FileHold &FileHold::operator=(FileHold &&other) noexcept
{
    if (this != &other) {
        release();
        device = other.device;
        inode = other.inode;
        held = other.held;
        other.held = false;
    }
    return *this;
}

void FileHold::release()
{
    if (!held)
        return;
    HoldRegistry &holds = registry();
    std::lock_guard<std::mutex> locker(holds.lock);
    const auto found = holds.counts.find({device, inode});
    if (found != holds.counts.end() && --found->second == 0)
        holds.counts.erase(found);
    held = false;
}

bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, FileHold *hold)
{
    if (file.isOpen())
        file.close();
    if (hold)
        hold->release();
    if (path.isEmpty()) {
        errno = ENOENT;
        return false;
    }
    const QByteArray native = nativeName(path);
    struct stat info;
    int fd;
    if (hold) {
        HoldRegistry &holds = registry();
        std::lock_guard<std::mutex> locker(holds.lock);
        fd = openRegular(native, mode, info);
        if (fd >= 0) {
            const FileId id = idOf(info);
            ++holds.counts[id];
            hold->device = id.first;
            hold->inode = id.second;
            hold->held = true;
        }
    } else {
        fd = openRegular(native, mode, info);
    }
    if (fd < 0)
        return false;
    // QFile adopts the descriptor and closes it.
    const QIODevice::OpenMode kept =
        mode & ~(QIODevice::Truncate | QIODevice::ExistingOnly | QIODevice::NewOnly);
    if (!file.open(fd, kept, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (hold)
            hold->release();
        errno = EIO;
        return false;
    }
    return true;
}

bool isRegularFile(const QString &path)
{
    struct stat info;
    return !path.isEmpty() && ::stat(nativeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isHeldFile(const QString &path)
{
    struct stat info;
    if (path.isEmpty() || ::stat(nativeName(path).constData(), &info) != 0)
        return false;
    HoldRegistry &holds = registry();
    std::lock_guard<std::mutex> locker(holds.lock);
    return holds.counts.count(idOf(info)) != 0;
}

bool removeUnheldFile(const QString &path)
{
    if (path.isEmpty()) {
        errno = ENOENT;
        return false;
    }
    const QByteArray native = nativeName(path);
    HoldRegistry &holds = registry();
    std::lock_guard<std::mutex> locker(holds.lock);
    struct stat info;
    if (::lstat(native.constData(), &info) != 0)
        return false;
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (holds.counts.count(idOf(info)) != 0) {
        errno = EBUSY;
        return false;
    }
    return ::unlink(native.constData()) == 0;
}

} // namespace platform
