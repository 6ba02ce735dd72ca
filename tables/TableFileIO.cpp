#include "TableFileIO.h"

#include "FileGuard.h"
#include "TestSeams.h"

#include <QFile>
#include <QThread>

#include <QtGlobal>

#include <cerrno>

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
    hold = platform::FileHold(use == TableUse::Write ? platform::FileHold::Kind::Writer
                                                     : platform::FileHold::Kind::Shared);
    for (int attempt = 0; attempt < kTableOpenTries; ++attempt) {
        if (platform::openRegularFile(file, name, QIODevice::ReadWrite | QIODevice::Unbuffered | QIODevice::ExistingOnly,
                                      &hold))
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
