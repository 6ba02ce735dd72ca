#include "PFileList.h"

#include <QFile>

#include <limits>

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
    // could hold the session for ever. Unbuffered: a failed write reaches its reply, and other
    // sessions see the bytes at once.
    auto entry = std::make_unique<PFileEntry>();
    entry->file = std::make_unique<QFile>();
    if (!platform::openRegularFile(*entry->file, path,
                                   QIODevice::ReadWrite | QIODevice::Unbuffered | QIODevice::ExistingOnly,
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
    entries[size_t(index)]->file->close();
    entries.erase(entries.begin() + index);
    return true;
}

void PFileList::closeAll()
{
    for (const auto &entry : entries) {
        if (entry->file->isOpen())
            entry->file->close();
    }
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

QFile *PFileList::fileOf(qint32 handle) const
{
    const int index = indexOf(handle);
    return index < 0 ? nullptr : entries[size_t(index)]->file.get();
}

bool PFileList::readFile(qint32 handle, char *destination, qint64 count, qint64 &read)
{
    QFile *file = fileOf(handle);
    if (!file)
        return false;
    // A negative count is refused here rather than by QIODevice, which would also warn.
    read = count < 0 ? -1 : file->read(destination, count);
    return read >= 0 && read == count;
}

bool PFileList::writeFile(qint32 handle, const char *source, qint64 count, qint64 &written)
{
    QFile *file = fileOf(handle);
    if (!file)
        return false;
    written = count < 0 ? -1 : file->write(source, count);
    return true;
}

bool PFileList::seekFile(qint32 handle, qint64 position)
{
    QFile *file = fileOf(handle);
    return file && position >= 0 && file->seek(position);
}

bool PFileList::trimFile(qint32 handle, qint64 size)
{
    QFile *file = fileOf(handle);
    return file && size >= 0 && file->resize(size);
}

qint64 PFileList::lengthFile(qint32 handle) const
{
    QFile *file = fileOf(handle);
    return file ? file->size() : -1;
}
