#include "FileGuard.h"

#include "RetryEintr.h"
#include "UniqueFd.h"

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

struct HeldFile
{
    int holds = 0;
    int writers = 0;
    int databases = 0;
};

// Every hold of the process. Each check of the holds and each change to them goes under one lock,
// together with the step it guards (an unlink, a truncation), so that a removal sees each hold that
// an open before it took, and an open never holds a removed file. The opens themselves happen
// outside it: one slow open (a stalled disk or share) must not stop every session's file commands.
struct HoldRegistry
{
    std::mutex lock;
    std::map<FileId, HeldFile> files;

    const HeldFile *find(const FileId &id) const
    {
        const auto found = files.find(id);
        return found == files.end() ? nullptr : &found->second;
    }
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

bool hasNoWriteBit(const struct stat &info)
{
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The journal files SQLite keeps beside a base, named after it. They come and go with its
// transactions, so they are told by name from the base's hold, not held by inode themselves.
// Under the registry's lock.
bool isJournalOfHeldBase(const HoldRegistry &holds, const QByteArray &name)
{
    for (const char *suffix : {"-journal", "-wal", "-shm"}) {
        if (!name.endsWith(suffix))
            continue;
        const QByteArray base = name.left(name.size() - int(qstrlen(suffix)));
        struct stat info;
        if (base.isEmpty() || ::stat(base.constData(), &info) != 0)
            return false;
        const HeldFile *held = holds.find(idOf(info));
        return held && held->databases > 0;
    }
    return false;
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
    // No O_TRUNC: a file is emptied only once the holds have been asked, under their lock.
    return flags;
}

bool failWith(int error)
{
    errno = error;
    return false;
}

// An open lets go of what `file` and `hold` had before; false (ENOENT) for an empty path.
bool letGo(QFile &file, FileHold *hold, const QString &path)
{
    if (file.isOpen())
        file.close();
    if (hold)
        hold->release();
    return !path.isEmpty() || failWith(ENOENT);
}

int notRegularError(const struct stat &info)
{
    return S_ISDIR(info.st_mode) ? EISDIR : ENXIO;
}

// Opens the regular file at `name` into `fd`; 0, or the errno of the step that failed. A path that
// names something else is refused before it is opened where that can be seen, and after the open
// in any case (it may have changed between). O_NONBLOCK keeps the open of a FIFO from waiting for
// its other end; it is cleared for a file.
int openRegular(const QByteArray &name, QIODevice::OpenMode mode, UniqueFd &fd, struct stat &info)
{
    if (::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        return notRegularError(info);
    const int opened = retryEintr([&] { return ::open(name.constData(), openFlags(mode), 0666); });
    if (opened < 0)
        return errno;
    fd.reset(opened);
    if (::fstat(fd.get(), &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return notRegularError(info);
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0)
        return errno;
    return 0;
}

} // namespace

// The one place besides FileHold's own members that fills in and counts holds; under the lock.
struct HoldAccess
{
    static void take(HoldRegistry &holds, FileHold &hold, const FileId &id)
    {
        HeldFile &file = holds.files[id];
        ++file.holds;
        if (hold.kind == FileHold::Kind::Writer)
            ++file.writers;
        if (hold.kind == FileHold::Kind::Database)
            ++file.databases;
        hold.device = id.first;
        hold.inode = id.second;
        hold.held = true;
    }

    static bool isWriter(const FileHold &hold) { return hold.kind == FileHold::Kind::Writer; }
};

namespace {

// The checks of an open made outside the lock, and its hold; 0, or the errno that refuses it.
int admit(const QByteArray &native, const UniqueFd &fd, const struct stat &info, bool writes, bool truncates,
          FileHold *hold)
{
    HoldRegistry &holds = registry();
    std::lock_guard<std::mutex> locker(holds.lock);
    // The name may have been removed or replaced since the open; what the checks ask about must
    // be the file the name stands for now.
    struct stat named;
    if (::stat(native.constData(), &named) != 0 || idOf(named) != idOf(info))
        return EAGAIN;
    if (writes && hasNoWriteBit(info))
        return EACCES;
    const HeldFile *held = holds.find(idOf(info));
    if (truncates && ((held && held->holds > 0) || isJournalOfHeldBase(holds, native)))
        return EBUSY;
    if (hold && HoldAccess::isWriter(*hold) && held && (held->writers > 0 || held->databases > 0))
        return EBUSY;
    if (truncates && ::ftruncate(fd.get(), 0) != 0)
        return errno;
    if (hold)
        HoldAccess::take(holds, *hold, idOf(info));
    return 0;
}

} // namespace

FileHold::FileHold(FileHold &&other) noexcept
    : device(other.device), inode(other.inode), kind(other.kind), held(other.held)
{
    other.held = false;
}

FileHold &FileHold::operator=(FileHold &&other) noexcept
{
    if (this != &other) {
        release();
        device = other.device;
        inode = other.inode;
        kind = other.kind;
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
    const auto found = holds.files.find({device, inode});
    if (found != holds.files.end()) {
        HeldFile &file = found->second;
        --file.holds;
        if (kind == Kind::Writer)
            --file.writers;
        if (kind == Kind::Database)
            --file.databases;
        if (file.holds <= 0)
            holds.files.erase(found);
    }
    held = false;
}

bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, FileHold *hold)
{
    if (!letGo(file, hold, path))
        return false;
    const QByteArray native = nativeName(path);
    const bool writes = mode & (QIODevice::WriteOnly | QIODevice::Append);
    const bool truncates = mode & QIODevice::Truncate;

    // A journal's name is refused before the open could make the file.
    if (truncates) {
        HoldRegistry &holds = registry();
        std::lock_guard<std::mutex> locker(holds.lock);
        if (isJournalOfHeldBase(holds, native))
            return failWith(EBUSY);
    }
    // The descriptor stays in its owner until the file adopts it: no way out leaks it.
    UniqueFd fd;
    struct stat info;
    int error = openRegular(native, mode, fd, info);
    if (error == 0)
        error = admit(native, fd, info, writes, truncates, hold);
    if (error != 0) {
        fd.reset();
        return failWith(error);
    }
    // QFile adopts the descriptor and closes it.
    const QIODevice::OpenMode kept =
        mode & ~(QIODevice::Truncate | QIODevice::ExistingOnly | QIODevice::NewOnly);
    if (!file.open(fd.get(), kept, QFileDevice::AutoCloseHandle)) {
        if (hold)
            hold->release();
        return failWith(EIO);
    }
    fd.release();
    return true;
}

bool replaceRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, FileHold *hold)
{
    if (!letGo(file, hold, path))
        return false;
    struct stat info;
    const QByteArray native = nativeName(path);
    if (::lstat(native.constData(), &info) == 0) {
        // A link to a device or a folder stands for what it names: nothing takes its place.
        struct stat named;
        if (::stat(native.constData(), &named) == 0 && !S_ISREG(named.st_mode))
            return failWith(notRegularError(named));
        if (!removeUnheldFile(path) && errno != ENOENT)
            return false;
    }
    // Another session may make and hold a file of this name between the removal and the open:
    // the open then finds it held and leaves it alone.
    return openRegularFile(file, path, mode | QIODevice::Truncate, hold);
}

bool holdFile(const QString &path, FileHold &hold)
{
    hold.release();
    if (path.isEmpty())
        return failWith(ENOENT);
    HoldRegistry &holds = registry();
    std::lock_guard<std::mutex> locker(holds.lock);
    struct stat info;
    if (::stat(nativeName(path).constData(), &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode))
        return failWith(notRegularError(info));
    HoldAccess::take(holds, hold, idOf(info));
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
    return holds.find(idOf(info)) != nullptr;
}

bool isReadOnlyFile(const QString &path)
{
    struct stat info;
    return !path.isEmpty() && ::stat(nativeName(path).constData(), &info) == 0 && hasNoWriteBit(info);
}

bool removeUnheldFile(const QString &path)
{
    if (path.isEmpty())
        return failWith(ENOENT);
    const QByteArray native = nativeName(path);
    HoldRegistry &holds = registry();
    std::lock_guard<std::mutex> locker(holds.lock);
    struct stat info;
    if (::lstat(native.constData(), &info) != 0)
        return false;
    if (S_ISDIR(info.st_mode))
        return failWith(EISDIR);
    // Read-only as the name's file is: a link to a read-only file was refused before it was
    // ever held to this rule, and terminals may count on that.
    struct stat target;
    if (::stat(native.constData(), &target) == 0 && hasNoWriteBit(target))
        return failWith(EACCES);
    if (holds.find(idOf(info)) || isJournalOfHeldBase(holds, native))
        return failWith(EBUSY);
    return ::unlink(native.constData()) == 0;
}

} // namespace platform
