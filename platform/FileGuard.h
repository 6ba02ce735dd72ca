#pragma once

#include <QIODevice>
#include <QString>

class QFile;

namespace platform {
class UniqueFd;
}

// The rules of the terminals' own platform that the server keeps for every file it opens, removes
// or replaces on their behalf, all here so that no caller can forget one:
// - only regular files are opened (a FIFO or a device could hold a session thread in a read or an
//   open for ever);
// - a file that a session holds open can be neither removed nor replaced (a terminal's later
//   writes to its handle would go to a file nobody sees), nor emptied by a replacing open;
// - a file without any write permission bit is read-only, as a file with the Windows read-only
//   attribute: it is not opened for writing, not removed and not replaced, even by a server that
//   runs as root;
// - within the server one writer at a time writes a table file, as the terminals' platform lets
//   only one program open a table for writing.
namespace platform {

// A session's hold on one file, known by device and inode rather than by name. While it lives,
// removals and replacing opens refuse that file, under whatever name they are asked for.
class FileHold
{
public:
    enum class Kind {
        // Held open, as OpenFile holds a file; any number of shared holds may hold one file.
        Shared,
        // The one writer of the file within the server: a second writer's open fails with EBUSY
        // while this hold lives. Held as Shared holds are besides.
        Writer,
        // An open SQL base: held as Shared holds are, and the journal files SQLite keeps beside it
        // ("-journal", "-wal", "-shm" added to its name) can be neither removed nor replaced.
        Database,
    };

    explicit FileHold(Kind kind = Kind::Shared) : kind(kind) {}
    ~FileHold() { release(); }
    FileHold(FileHold &&other) noexcept;
    FileHold &operator=(FileHold &&other) noexcept;
    FileHold(const FileHold &) = delete;
    FileHold &operator=(const FileHold &) = delete;

    bool isHeld() const { return held; }
    void release();

private:
    friend struct HoldAccess;

    unsigned long long device = 0;
    unsigned long long inode = 0;
    Kind kind;
    bool held = false;
};

// Opens the file at `path` into `file` with `mode` (ReadOnly, WriteOnly or ReadWrite, with Truncate, Append,
// Unbuffered, ExistingOnly, NewOnly as QFile takes them; a writing mode creates a missing file
// unless ExistingOnly). False with errno set when:
// - the path names no regular file (a folder, FIFO, socket or device; never waited on);
// - a writing mode meets a read-only file (EACCES);
// - Truncate meets a file that some FileHold holds, or a journal of an open SQL base (EBUSY);
// - `hold` is a Writer and the file has a writer already, or is an open SQL base (EBUSY);
// - the name stopped naming the file while it was being opened (EAGAIN: another try may do).
// With `hold`, the file is held from the open on, with no gap in which another session could
// remove it; an earlier hold in `hold` is released first. `file` adopts the descriptor and so has
// no name of its own: messages take the path from the caller.
bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, FileHold *hold = nullptr);

// As openRegularFile, with the descriptor (close-on-exec, blocking, at position 0) handed over in
// `fd` for a caller that reads and writes it itself; what `fd` held before is closed first.
bool openRegularDescriptor(UniqueFd &fd, const QString &path, QIODevice::OpenMode mode, FileHold *hold = nullptr);

// Leaves a new empty file at the path in place of whatever regular file stood there (a symbolic
// link is replaced as itself) and opens it as openRegularFile does with Truncate. False with errno
// when the old entry may not be removed (see removeUnheldFile) or the new one not opened; a file
// that some session held is then untouched.
bool replaceRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, FileHold *hold = nullptr);

// Holds the regular file at the path without opening it, for a file that another layer opens by
// its name (an SQL base, which SQLite opens). False with errno when the path names no regular
// file; `hold` is released first.
bool holdFile(const QString &path, FileHold &hold);

// True when the path (links followed) names a regular file.
bool isRegularFile(const QString &path);

// True when some FileHold holds the file the path names (links followed).
bool isHeldFile(const QString &path);

// True when the entry exists and no write permission bit is set: the counterpart of the Windows
// read-only attribute, which holds even for a server that runs as root.
bool isReadOnlyFile(const QString &path);

// Removes the entry at the path unless it is a file that some FileHold holds or a journal of an
// open SQL base (EBUSY), or a read-only file (EACCES): then false, and nothing changes. A symbolic
// link is removed as itself (its target stays), so it is refused only when the link itself is
// held, which cannot be, or its target is read-only. False with errno for a failed unlink;
// folders are not removed.
bool removeUnheldFile(const QString &path);

} // namespace platform
