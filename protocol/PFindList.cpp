#include "PFindList.h"

#include <limits>

bool PFindEntry::keep(const QString &name, qint64 maxBytes)
{
    const qint64 cost = qint64(name.size()) * qint64(sizeof(QChar)) + 64;
    if (bytes + cost > maxBytes)
        return false;
    bytes += cost;
    return true;
}

bool PFindEntry::next(QString &name)
{
    name.clear();
    if (position >= names.size())
        return false;
    name = names.at(position++);
    return true;
}

bool PFindList::findFirst(const QString &folder, const QString &nameFilter, QString &first,
                          qint32 &handle, platform::EntryKind kind)
{
    first.clear();
    if (lastHandle == std::numeric_limits<qint32>::max())
        return false; // never wrap around to a number given out before
    if (entries.size() >= size_t(kMaxSearches))
        removeAt(0);
    auto entry = std::make_unique<PFindEntry>();
    entry->handle = ++lastHandle;
    if (!folder.isEmpty()) {
        const QString filter = nameFilter.isEmpty() ? QStringLiteral("*.*") : nameFilter;
        entry->names = platform::listTerminalFolder(folder, filter, kind, [&entry](const QString &name) {
            return entry->keep(name, kMaxListingBytes);
        });
    }
    while (!entries.empty() && heldBytes + entry->bytes > kMaxListingBytes)
        removeAt(0);
    handle = entry->handle;
    heldBytes += entry->bytes;
    entries.push_back(std::move(entry));
    return entries.back()->next(first);
}

bool PFindList::findNext(qint32 handle, QString &name)
{
    const int index = indexOf(handle);
    if (index < 0) {
        name.clear();
        return false;
    }
    return entries[size_t(index)]->next(name);
}

int PFindList::indexOf(qint32 handle) const
{
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i]->handle == handle)
            return int(i);
    }
    return -1;
}

void PFindList::removeAt(int position)
{
    if (position < 0 || size_t(position) >= entries.size())
        return;
    heldBytes -= entries[size_t(position)]->bytes;
    entries.erase(entries.begin() + position);
}

bool PFindList::close(qint32 handle)
{
    const int index = indexOf(handle);
    if (index < 0)
        return false;
    removeAt(index);
    return true;
}

void PFindList::clear()
{
    entries.clear();
    lastHandle = 0;
    heldBytes = 0;
}
