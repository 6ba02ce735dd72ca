#include "PSqlList.h"

#include "PProgressSink.h"
#include "PSqlBase.h"
#include "TextTableFile.h"

#include <QFile>

#include <sqlite3.h>

PSqlList::PSqlList() = default;

PSqlList::~PSqlList() = default;

bool PSqlList::openSqlBase(const QString &fileName, qint32 &handle)
{
    // SQLite would create a missing file; a terminal may only open what is there.
    if (fileName.isEmpty() || !QFile::exists(fileName))
        return false;
    if (entries.size() >= size_t(kMaxOpenBases))
        return false;
    const qint32 number = ++lastHandle;
    std::unique_ptr<PSqlBase> base(new PSqlBase);
    if (!base->open(fileName))
        return false;
    // Another session may hold a read lock for a moment: wait for it rather than fail.
    sqlite3_busy_timeout(base->connection(), busyTimeoutMs);
    currentBase = base.get();
    entries.push_back(PSqlEntry{std::move(base), number});
    handle = number;
    // SQLite's default cache is about 2 MB a base: past a few bases they share the budget.
    const int shareKiB = kCacheBudgetKiB / int(entries.size());
    if (shareKiB < 2000) {
        const QByteArray pragma = "PRAGMA cache_size = -" + QByteArray::number(shareKiB);
        for (const PSqlEntry &entry : entries)
            sqlite3_exec(entry.base->connection(), pragma.constData(), nullptr, nullptr, nullptr);
    }
    return true;
}

bool PSqlList::closeSqlBase(qint32 handle)
{
    const int i = indexOf(handle);
    if (i < 0)
        return false;
    PSqlBase *base = entries[size_t(i)].base.get();
    base->close();
    if (currentBase == base)
        currentBase = nullptr;
    // The destructor releases the connection even when close refused it.
    entries.erase(entries.begin() + i);
    if (!currentBase && !entries.empty())
        currentBase = entries.back().base.get();
    return true;
}

void PSqlList::closeAll()
{
    for (PSqlEntry &entry : entries) {
        if (entry.base->isOpen())
            entry.base->close();
    }
    entries.clear();
    lastHandle = 0;
    currentBase = nullptr;
}

int PSqlList::indexOf(qint32 handle) const
{
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].handle == handle)
            return int(i);
    }
    return -1;
}

bool PSqlList::isBaseFile(const QString &fileName) const
{
    for (const PSqlEntry &entry : entries) {
        if (isSameFile(fileName, entry.base->fileName()))
            return true;
    }
    return false;
}

bool PSqlList::stopping() const
{
    return session && session->stopRequested();
}

void PSqlList::beginPhase(const QString &message)
{
    if (session)
        session->setMessage(message);
    showIndicator(0);
    lastPercent = 0;
}

void PSqlList::showProgress(qint64 done, qint64 total)
{
    if (total <= 0)
        return;
    // A file that grows while it is read must not drive the bar past its end.
    const int percent = int(qBound<qint64>(0, done * 100 / total, 100));
    if (percent != lastPercent) {
        showIndicator(percent);
        lastPercent = percent;
    }
}

void PSqlList::showIndicator(int value)
{
    if (session)
        session->setIndicator(value);
}
