#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "TerminalPath.h"

// One folder search: the names it found when it started, handed out one at a time.
struct PFindEntry
{
    QStringList names;
    qint32 position = 0;
    qint32 handle = 0;
    // What keeping the names costs.
    qint64 bytes = 0;

    // Counts what keeping `name` costs the process, near enough (its characters, the string's own
    // header and its list slot); false, with nothing counted, when the names would pass `maxBytes`.
    bool keep(const QString &name, qint64 maxBytes);
    // The next name; false with an empty name once every name was handed out.
    bool next(QString &name);
};

// The open searches of one kind (files or folders) of a session. Numbers count 1, 2, 3, ... per
// session and are never given out twice; only clear starts the count again. A search that found
// nothing keeps its number and stays open until it is closed.
//
// A terminal that forgets FindClose must keep working, yet each search holds its names: past
// kMaxSearches open searches, or past kMaxListingBytes of names kept, the oldest searches are
// closed to make room for the new one. One listing alone keeps at most kMaxListingBytes of names.
class PFindList
{
public:
    static constexpr int kMaxSearches = 64;
    // About 80,000 names of 20 characters.
    static constexpr qint64 kMaxListingBytes = 8 * 1024 * 1024;

    PFindList() = default;
    PFindList(const PFindList &) = delete;
    PFindList &operator=(const PFindList &) = delete;

    // Starts a search of `folder` for entries of `kind` whose names match `nameFilter` (an empty
    // filter stands for "*.*"). An empty folder lists nothing. True with the first name. Closes
    // the oldest searches as the bounds above require.
    bool findFirst(const QString &folder, const QString &nameFilter, QString &first,
                   qint32 &handle, platform::EntryKind kind);
    bool findNext(qint32 handle, QString &name);
    int indexOf(qint32 handle) const;
    void removeAt(int position);
    bool close(qint32 handle);
    void clear();

private:
    std::vector<std::unique_ptr<PFindEntry>> entries;
    qint32 lastHandle = 0;
    qint64 heldBytes = 0;
};
