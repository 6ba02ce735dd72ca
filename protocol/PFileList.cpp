#include "PFileList.h"

#include "RetryEintr.h"

#include <QFile>

#include <limits>

#include <sys/stat.h>
#include <unistd.h>

PFileList::PFileList() = default;

// Normally cleanup has emptied the list; whatever is still open is closed here all the same.
PFileList::~PFileList() = default;

bool PFileList::openFile(const QString &path, qint32 &handle)
{
    if (path.isEmpty())
        return false;
    if (entries.size() >= size_t(kMaxOpenFiles))
        return false; // refused before a number is taken, like a missing file
    if (lastHandle == std::numeric_limits<qint32>::max())
        return false; // never wrap around to a number given out before

    // The file guard refuses a read-only file (as the terminals' Windows hosts do, even for a
    // server that runs as root) and anything but a regular file: a read from a FIFO or a device
    // could hold the session for ever. Nothing is buffered: a failed write reaches its reply, and
    // other sessions see the bytes at once.
    auto entry = std::make_unique<PFileEntry>();
    if (!platform::openRegularDescriptor(entry->file, path, QIODevice::ReadWrite | QIODevice::ExistingOnly,
                                         &entry->hold)) {
        // Only a file that is there uses a number up. Asked after the open, so that an open that
        // succeeds looks at the disk once.
        if (QFile::exists(path))
            ++lastHandle;
        return false;
    }
    handle = entry->handle = ++lastHandle;
    entries.push_back(std::move(entry));
    return true;
}

bool PFileList::closeFile(qint32 handle)
{
    const int index = indexOf(handle);
    if (index < 0)
        return false;
    entries.erase(entries.begin() + index);
    return true;
}

void PFileList::closeAll()
{
    entries.clear();
    lastHandle = 0;
}

int PFileList::indexOf(qint32 handle) const
{
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i]->handle == handle)
            return int(i);
    }
    return -1;
}

int PFileList::fileOf(qint32 handle) const
{
    const int index = indexOf(handle);
    return index < 0 ? -1 : entries[size_t(index)]->file.get();
}

// As QFile reads and writes: until the count is done, the end of the file is met or the system
// fails; -1 only when it failed before a single byte.
bool PFileList::readFile(qint32 handle, char *destination, qint64 count, qint64 &read)
{
    const int fd = fileOf(handle);
    if (fd < 0)
        return false;
    if (count < 0) {
        read = -1;
        return false;
    }
    qint64 done = 0;
    while (done < count) {
        const ssize_t n = platform::retryEintr([&] { return ::read(fd, destination + done, size_t(count - done)); });
        if (n <= 0) {
            if (n < 0 && done == 0)
                done = -1;
            break;
        }
        done += n;
    }
    read = done;
    return read == count;
}

bool PFileList::writeFile(qint32 handle, const char *source, qint64 count, qint64 &written)
{
    const int fd = fileOf(handle);
    if (fd < 0)
        return false;
    qint64 done = count < 0 ? -1 : 0;
    while (done >= 0 && done < count) {
        const ssize_t n = platform::retryEintr([&] { return ::write(fd, source + done, size_t(count - done)); });
        if (n <= 0) {
            if (done == 0)
                done = -1;
            break;
        }
        done += n;
    }
    written = done;
    return true;
}

bool PFileList::seekFile(qint32 handle, qint64 position)
{
    const int fd = fileOf(handle);
    return fd >= 0 && position >= 0 && ::lseek(fd, off_t(position), SEEK_SET) != off_t(-1);
}

// As QFile::resize: a position past the new end moves back to it.
bool PFileList::trimFile(qint32 handle, qint64 size)
{
    const int fd = fileOf(handle);
    if (fd < 0 || size < 0)
        return false;
    if (::lseek(fd, 0, SEEK_CUR) > off_t(size))
        ::lseek(fd, off_t(size), SEEK_SET);
    return platform::retryEintr([&] { return ::ftruncate(fd, off_t(size)); }) == 0;
}

qint64 PFileList::lengthFile(qint32 handle) const
{
    const int fd = fileOf(handle);
    if (fd < 0)
        return -1;
    struct stat info;
    return ::fstat(fd, &info) == 0 ? qint64(info.st_size) : 0;
}
