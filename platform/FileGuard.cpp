#include "FileGuard.h"

#include "RetryEintr.h"
#include "UniqueFd.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
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

// Every hold of the process. Each check of the holds and each change to them goes under one lock;
// no call that may touch a disk does (the lookups by name, the opens, unlinks and truncations): one
// slow call on a stalled disk or share must not stop every session's file commands. So that a
// removal still sees each hold that an open before it took, and an open never holds a removed
// file:
// - a file whose removal or truncation is under way outside the lock is busy: no hold is taken on
//   it, and no other removal or truncation starts on it, until that has ended;
// - what a name was found to stand for outside the lock is used under it only while no removal has
//   ended since the name was looked up; else it is looked up again.
struct HoldRegistry
{
    std::mutex lock;
    std::map<FileId, HeldFile> files;
    std::map<FileId, int> busy;
    // Signalled as a removal or truncation ends.
    std::condition_variable settled;
    // Removals ended; changed under the lock, read before a lookup.
    std::atomic<std::uint64_t> removalsEnded{0};

    const HeldFile *find(const FileId &id) const
    {
        const auto found = files.find(id);
        return found == files.end() ? nullptr : &found->second;
    }

    bool isOpenBase(const FileId &id) const
    {
        const HeldFile *held = find(id);
        return held && held->databases > 0;
    }

    // Under the lock: waits until no removal or truncation of the file is under way.
    void waitUntilSettled(std::unique_lock<std::mutex> &locker, const FileId &id)
    {
        settled.wait(locker, [&] { return busy.find(id) == busy.end(); });
    }

    // Under the lock: the file is busy until settle().
    void markBusy(const FileId &id) { ++busy[id]; }

    void settle(const FileId &id)
    {
        const auto found = busy.find(id);
        if (found != busy.end() && --found->second <= 0)
            busy.erase(found);
        settled.notify_all();
    }
};

// How often a step looks its name up again because removals kept ending meanwhile, before it gives
// up with EAGAIN.
constexpr int kLookups = 64;

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
// True, with the base's file, when `name` is named as a journal of an existing file; whether that
// file is an open base is asked under the lock (HoldRegistry::isOpenBase).
bool journalBase(const QByteArray &name, FileId &base)
{
    for (const char *suffix : {"-journal", "-wal", "-shm"}) {
        if (!name.endsWith(suffix))
            continue;
        const QByteArray baseName = name.left(name.size() - int(qstrlen(suffix)));
        struct stat info;
        if (baseName.isEmpty() || ::stat(baseName.constData(), &info) != 0)
            return false;
        base = idOf(info);
        return true;
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

// The checks of an open made outside the lock, its truncation and its hold; 0, or the errno that
// refuses it. `info` is the opened descriptor's.
int admit(const QByteArray &native, const UniqueFd &fd, const struct stat &info, bool writes, bool truncates,
          FileHold *hold)
{
    HoldRegistry &holds = registry();
    const FileId id = idOf(info);
    for (int lookup = 0; lookup < kLookups; ++lookup) {
        const std::uint64_t removalsSeen = holds.removalsEnded.load();
        // The name may have been removed or replaced since the open; what the checks ask about must
        // be the file the name stands for now.
        struct stat named;
        if (::stat(native.constData(), &named) != 0 || idOf(named) != id)
            return EAGAIN;
        FileId base;
        const bool journal = truncates && journalBase(native, base);

        std::unique_lock<std::mutex> locker(holds.lock);
        holds.waitUntilSettled(locker, id);
        if (holds.removalsEnded.load() != removalsSeen)
            continue;
        if (writes && hasNoWriteBit(info))
            return EACCES;
        const HeldFile *held = holds.find(id);
        if (truncates && ((held && held->holds > 0) || (journal && holds.isOpenBase(base))))
            return EBUSY;
        if (hold && HoldAccess::isWriter(*hold) && held && (held->writers > 0 || held->databases > 0))
            return EBUSY;
        if (truncates) {
            // Busy, nothing can hold the file or remove it while it is emptied.
            holds.markBusy(id);
            locker.unlock();
            const int error = ::ftruncate(fd.get(), 0) == 0 ? 0 : errno;
            locker.lock();
            holds.settle(id);
            if (error != 0)
                return error;
        }
        if (hold)
            HoldAccess::take(holds, *hold, id);
        return 0;
    }
    return EAGAIN;
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

bool openRegularDescriptor(UniqueFd &fd, const QString &path, QIODevice::OpenMode mode, FileHold *hold)
{
    fd.reset();
    if (hold)
        hold->release();
    if (path.isEmpty())
        return failWith(ENOENT);
    const QByteArray native = nativeName(path);
    const bool writes = mode & (QIODevice::WriteOnly | QIODevice::Append);
    const bool truncates = mode & QIODevice::Truncate;

    // A journal's name is refused before the open could make the file.
    FileId base;
    if (truncates && journalBase(native, base)) {
        HoldRegistry &holds = registry();
        std::lock_guard<std::mutex> locker(holds.lock);
        if (holds.isOpenBase(base))
            return failWith(EBUSY);
    }
    struct stat info;
    int error = openRegular(native, mode, fd, info);
    if (error == 0)
        error = admit(native, fd, info, writes, truncates, hold);
    if (error != 0) {
        fd.reset();
        return failWith(error);
    }
    return true;
}

bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, FileHold *hold)
{
    if (!letGo(file, hold, path))
        return false;
    // The descriptor stays in its owner until the file adopts it: no way out leaks it.
    UniqueFd fd;
    if (!openRegularDescriptor(fd, path, mode, hold))
        return false;
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
    const QByteArray native = nativeName(path);
    HoldRegistry &holds = registry();
    for (int lookup = 0; lookup < kLookups; ++lookup) {
        const std::uint64_t removalsSeen = holds.removalsEnded.load();
        struct stat info;
        if (::stat(native.constData(), &info) != 0)
            return false;
        if (!S_ISREG(info.st_mode))
            return failWith(notRegularError(info));
        std::unique_lock<std::mutex> locker(holds.lock);
        holds.waitUntilSettled(locker, idOf(info));
        if (holds.removalsEnded.load() != removalsSeen)
            continue;
        HoldAccess::take(holds, hold, idOf(info));
        return true;
    }
    return failWith(EAGAIN);
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
    for (int lookup = 0; lookup < kLookups; ++lookup) {
        const std::uint64_t removalsSeen = holds.removalsEnded.load();
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
        FileId base;
        const bool journal = journalBase(native, base);
        const FileId id = idOf(info);

        std::unique_lock<std::mutex> locker(holds.lock);
        holds.waitUntilSettled(locker, id);
        // The name may stand for another file by now, one that a session holds.
        if (holds.removalsEnded.load() != removalsSeen)
            continue;
        if (holds.find(id) || (journal && holds.isOpenBase(base)))
            return failWith(EBUSY);
        // Busy, the file cannot be held between this check and the unlink.
        holds.markBusy(id);
        locker.unlock();
        const bool removed = ::unlink(native.constData()) == 0;
        const int error = errno;
        locker.lock();
        ++holds.removalsEnded;
        holds.settle(id);
        return removed || failWith(error);
    }
    return failWith(EAGAIN);
}

} // namespace platform
