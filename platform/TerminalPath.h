#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Terminals name files with Windows paths. This is the one place where such a path becomes a
// path of this machine, and where folder listings behave as the terminals expect of Windows.
namespace platform {

// Maps a terminal's path to a local one: '\' and '/' both separate; a leading drive letter is
// dropped and the rest taken from the root, as is a path that starts with a separator; any other
// path is taken against the working folder. "." and ".." resolve by text and never climb above
// the root. Each component that exists resolves to its exact name, else to the one name in its
// folder that equals it ignoring case; the rest keep the terminal's spelling. A trailing
// separator is kept. An empty text maps to an empty path. False for a UNC path ("\\server\...").
bool mapTerminalPath(const QString &text, QString &path);

// Splits a search pattern at its last separator (or after a bare drive letter) and maps the
// folder part as above; a pattern without a folder part searches the working folder. The name
// part is returned as the terminal sent it. False for a UNC pattern.
bool mapTerminalPattern(const QString &text, QString &folder, QString &nameFilter);

// True when the name matches the filter: '*' stands for any run of characters, '?' for exactly
// one, every other character for itself ignoring case; the whole name must match.
bool matchesTerminalPattern(const QString &name, const QString &filter);

enum class EntryKind { Files, Dirs };

// The names of the folder's entries of one kind that match the filter, without "." and "..",
// without hidden entries (names that start with a dot), sorted by their upper-case form as the
// Windows file system returned them. A folder that cannot be read gives an empty list. Each
// matching name is offered to `keep` (when given) before it is kept, and the listing stops at the
// first one it refuses, so that a huge folder cannot take the server's memory.
QStringList listTerminalFolder(const QString &folder, const QString &filter, EntryKind kind,
                               const std::function<bool(const QString &)> &keep = nullptr);

// The file of a table: the table's local path (already mapped) with an extension such as ".bin".
// Terminals name a table without its extension, so the name's last part is matched ignoring case
// only here: "goods" finds GOODS.BIN and GOODS.HDR. The exact spelling when it exists or when no
// single entry matches.
QString tableFilePath(const QString &table, const char *extension);

} // namespace platform
