#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

class QFile;

namespace platform {
class FileHold;
}

// File access shared by the V3 and V4 table files. Tables are opened unbuffered so that a failed
// or short write is seen at the write itself, never later at a flush nobody checks.

// A table file another program holds, or another conversion writes, may come free shortly: opening
// is tried this many times, sleeping platform::tableOpenRetryDelay() after every failed try.
constexpr int kTableOpenTries = 10;

// The two files of a table, named once: terminals name a table without its extension and the
// names are matched ignoring case, so a conversion resolves them once and checks and opens
// exactly those files. `data` is the ".bin" file; `companion` the ".hdr" (V3) or ".ind" (V4).
struct TableFileNames
{
    QString data;
    QString companion;
};

// True when both files exist (whatever they are; opening checks that they are regular files).
bool tableFilesExist(const TableFileNames &files);

// True once the waiting should end: the session that waits is told to stop.
using StopCheck = std::function<bool()>;

// What a conversion does with a table: writes records into it, as its one writer within the
// server, or only reads them out, beside other readers and a writer that appends (a reader sees
// the records that were whole when it opened the table). Append is Write for a file that only
// grows: each write goes to the file's end as it is at that moment, after whatever another handle
// appended meanwhile.
enum class TableUse { Write, Append, Read };

// Opens the existing regular file `name` into `file` for `use`: for reading and writing, or for
// reading only, so that a read-only file reads as any other. Tries as above: while a writer's
// `hold` holds the file, another writer's open of it waits here, and a writer's open of a
// read-only file counts as a failed try. A missing file, a folder, FIFO, socket or device fails
// at once: nothing of that kind comes free by waiting, and a FIFO would never answer. The waits
// end at once, as a failure, when `stop` says so. `file` has no name of its own afterwards.
bool openTableFile(QFile &file, const QString &name, platform::FileHold &hold, TableUse use,
                   const StopCheck &stop = {});
// True only when every byte was written.
bool writeTableBytes(QFile &file, const QByteArray &bytes);
// Writes the bytes to a file opened for TableUse::Append; `at` gets the offset where they begin.
// True only when every byte was written.
bool appendTableBytes(QFile &file, const QByteArray &bytes, qint64 &at);
// Reads exactly `length` bytes from the current position; false (and `out` empty) when fewer come.
bool readTableBytes(QFile &file, qint64 length, QByteArray &out);
// Closes an open file and lets it go; false when closing reported an error.
bool closeTableFile(QFile &file, platform::FileHold &hold);
// Opens a file of this process alone for reading and writing, in the system's temporary folder
// and with no name from the start, so that nothing of it stays behind, not even after a crash.
bool openScratchFile(QFile &file);
