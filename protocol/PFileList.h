#pragma once

#include <QObject>

#include <memory>
#include <vector>

class QFile;

// One file opened by OpenFile, with its handle number.
struct PFileEntry
{
    std::unique_ptr<QFile> file;
    qint32 handle = 0;
};

// The files a session has open. Handle numbers count 1, 2, 3, ... per session in the order of
// the open attempts on existing files and are never given out twice; only closeAll starts the
// count again. Used by the session thread only.
class PFileList : public QObject
{
public:
    PFileList();
    ~PFileList() override;
    PFileList(const PFileList &) = delete;
    PFileList &operator=(const PFileList &) = delete;

    // Opens an existing file for reading and writing. A missing file uses no number; a file
    // that exists but cannot be opened (read-only, a folder, no access) uses one up.
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
    QFile *fileOf(qint32 handle) const;

    std::vector<std::unique_ptr<PFileEntry>> entries;
    qint32 lastHandle = 0;
};
