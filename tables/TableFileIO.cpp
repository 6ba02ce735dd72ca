#include "TableFileIO.h"

#include "FileGuard.h"
#include "TestSeams.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <QtGlobal>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

bool tableFilesExist(const TableFileNames &files)
{
    return QFile::exists(files.data) && QFile::exists(files.companion);
}

namespace {

// Errors that waiting does not mend.
bool isLastingOpenError(int error)
{
    return error == ENOENT || error == ENOTDIR || error == EISDIR || error == ENXIO || error == ELOOP
        || error == ENAMETOOLONG;
}

// A stop is seen within this long of being asked for, however long the retry delay.
constexpr int kWaitSliceMs = 20;

// False when the stop came first.
bool waitUnlessStopped(int milliseconds, const StopCheck &stop)
{
    for (int left = milliseconds; left > 0; left -= kWaitSliceMs) {
        if (stop && stop())
            return false;
        QThread::msleep(static_cast<unsigned long>(qMin(left, kWaitSliceMs)));
    }
    return !(stop && stop());
}

} // namespace

bool openTableFile(QFile &file, const QString &name, platform::FileHold &hold, TableUse use,
                   const StopCheck &stop)
{
    // A writer's open fails its tries while another writer holds the file. Readers, and sessions
    // that only hold the file (OpenFile), do not count.
    const bool reads = use == TableUse::Read;
    hold = platform::FileHold(reads ? platform::FileHold::Kind::Shared : platform::FileHold::Kind::Writer);
    QIODevice::OpenMode mode = QIODevice::Unbuffered | QIODevice::ExistingOnly;
    mode |= reads ? QIODevice::ReadOnly : QIODevice::ReadWrite;
    if (use == TableUse::Append)
        mode |= QIODevice::Append;
    for (int attempt = 0; attempt < kTableOpenTries; ++attempt) {
        if (platform::openRegularFile(file, name, mode, &hold))
            return true;
        if (isLastingOpenError(errno) || !waitUnlessStopped(platform::tableOpenRetryDelay(), stop))
            return false;
    }
    return false;
}

bool writeTableBytes(QFile &file, const QByteArray &bytes)
{
    std::int64_t allowed = 0;
    if (platform::takeWriteFault(allowed)) {
        // A failing write may still have put part of its bytes down, as a full disk does.
        const qint64 partial = qMin<qint64>(allowed, bytes.size() - 1);
        if (partial > 0)
            file.write(bytes.constData(), partial);
        errno = ENOSPC;
        return false;
    }
    return file.write(bytes) == bytes.size();
}

bool appendTableBytes(QFile &file, const QByteArray &bytes, qint64 &at)
{
    if (!writeTableBytes(file, bytes))
        return false;
    // In append mode the system puts each write at the end as it finds it, and leaves the
    // position of this handle right after it.
    const off_t end = ::lseek(file.handle(), 0, SEEK_CUR);
    at = qint64(end) - bytes.size();
    return end >= 0 && at >= 0;
}

bool readTableBytes(QFile &file, qint64 length, QByteArray &out)
{
    out.clear();
    // A QByteArray holds less than 2 GiB; callers have checked the length against the file.
    if (length < 0 || length > 0x7FFFFF00)
        return false;
    out.resize(int(length));
    if (length > 0 && file.read(out.data(), length) != length) {
        out.clear();
        return false;
    }
    return true;
}

bool closeTableFile(QFile &file, platform::FileHold &hold)
{
    bool ok = true;
    if (file.isOpen()) {
        file.close();
        ok = file.error() == QFileDevice::NoError;
    }
    hold.release();
    return ok;
}

bool openScratchFile(QFile &file)
{
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/vorel-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::unlink(pattern.constData());
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}
