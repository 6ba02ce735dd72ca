#pragma once

#include <QIODevice>
#include <QString>

class QFile;

// Two rules of the terminals' own platform that the server keeps for every file it opens or
// removes on their behalf: only regular files are opened (a FIFO or a device could hold a session
// thread in a read or an open for ever), and a file that a session holds open can be neither
// removed nor replaced (a terminal's later writes to its handle would go to a file nobody sees).
namespace platform {

// A session's hold on one open file, known by device and inode rather than by name. While it
// lives, removeUnheldFile refuses that file, under whatever name it is asked for.
class FileHold
{
public:
    FileHold() = default;
    ~FileHold() { release(); }
    FileHold(FileHold &&other) noexcept;
    FileHold &operator=(FileHold &&other) noexcept;
    FileHold(const FileHold &) = delete;
    FileHold &operator=(const FileHold &) = delete;

    bool isHeld() const { return held; }
    void release();

private:
    friend bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, FileHold *hold);

    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool held = false;
};

// Opens the file at `path` into `file` with `mode` (ReadOnly, WriteOnly or ReadWrite, with Truncate, Append,
// Unbuffered, ExistingOnly, NewOnly as QFile takes them; a writing mode creates a missing file
// unless ExistingOnly). Only a regular file is opened: a folder, FIFO, socket or device fails
// with errno set, and is never waited on. With `hold`, the file is held from the open on, with no
// gap in which another session could remove it; an earlier hold in `hold` is released first.
// `file` adopts the descriptor and so has no name of its own: messages take the path from the
// caller.
bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, FileHold *hold = nullptr);

// True when the path (links followed) names a regular file.
bool isRegularFile(const QString &path);

// True when some FileHold holds the file the path names (links followed).
bool isHeldFile(const QString &path);

// Removes the entry at the path unless it is a file that some FileHold holds: then false with
// errno EBUSY, and nothing changes. A symbolic link is removed as itself (its target stays), so it
// is refused only when the link itself is held, which cannot be. False with errno for a failed
// unlink; folders are not removed.
bool removeUnheldFile(const QString &path);

} // namespace platform
