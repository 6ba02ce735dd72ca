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

    // The next name; false with an empty name once every name was handed out.
    bool next(QString &name);
};

// The open searches of one kind (files or folders) of a session. Numbers count 1, 2, 3, ... per
// session and are never given out twice; only clear starts the count again. A search that found
// nothing keeps its number and stays open until it is closed.
class PFindList
{
public:
    PFindList() = default;
    PFindList(const PFindList &) = delete;
    PFindList &operator=(const PFindList &) = delete;

    // Starts a search of `folder` for entries of `kind` whose names match `nameFilter` (an empty
    // filter stands for "*.*"). An empty folder lists nothing. True with the first name.
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
};
