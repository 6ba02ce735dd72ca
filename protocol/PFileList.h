#pragma once

#include "FileGuard.h"
#include "UniqueFd.h"

#include <QObject>

#include <memory>
#include <vector>

// One file opened by OpenFile, with its handle number. The hold keeps the file from being removed
// or replaced, by this session or any other, while the handle is open; it goes after the file.
// The file is its descriptor alone, read and written as QFile does unbuffered: a QFile and its
// engine would cost the session's first open more than the rest of its road.
struct PFileEntry
{
    platform::FileHold hold;
    platform::UniqueFd file;
    qint32 handle = 0;
};

// The files a session has open. Handle numbers count 1, 2, 3, ... per session in the order of
// the open attempts on existing files and are never given out twice; only closeAll starts the
// count again. Used by the session thread only.
class PFileList : public QObject
{
public:
    // Far above what a terminal keeps open; each open file costs the process a descriptor.
    static constexpr int kMaxOpenFiles = 256;

    PFileList();
    ~PFileList() override;
    PFileList(const PFileList &) = delete;
    PFileList &operator=(const PFileList &) = delete;

    // Opens an existing regular file for reading and writing. A missing file uses no number, nor
    // does an open past kMaxOpenFiles; an entry that exists but cannot be opened (read-only, a
    // folder, a FIFO, socket or device, no access) uses one up.
    bool openFile(const QString &path, qint32 &handle);
    bool closeFile(qint32 handle);
    void closeAll();
    int indexOf(qint32 handle) const;

    // Each returns false (lengthFile: -1) at once for a handle that is not open, out values
    // untouched. read and written are the byte counts, or -1 when the file layer refused.
    bool readFile(qint32 handle, char *destination, qint64 count, qint64 &read);
    bool writeFile(qint32 handle, const char *source, qint64 count, qint64 &written);
    bool seekFile(qint32 handle, qint64 position);
    bool trimFile(qint32 handle, qint64 size);
    qint64 lengthFile(qint32 handle) const;

private:
    // The descriptor of the handle, -1 when it is not open.
    int fileOf(qint32 handle) const;

    std::vector<std::unique_ptr<PFileEntry>> entries;
    qint32 lastHandle = 0;
};
