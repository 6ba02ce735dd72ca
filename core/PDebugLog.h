#pragma once

#include <QFile>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

// The debug log: one entry per terminal command and per session start and end. Any thread may
// write; one lock keeps every entry whole and the entries in time order.
class PDebugLog
{
public:
    explicit PDebugLog(const QString &fileName);
    PDebugLog(const PDebugLog &) = delete;
    PDebugLog &operator=(const PDebugLog &) = delete;

    // Takes the file's exclusive lock, truncates it and writes the byte-order mark, banner and
    // start line; true when the log is started afterwards. The lock is held until stop(), so a
    // second copy of the server started from the same folder cannot destroy this log: its start
    // leaves the file alone, returns false and tells `report`; so does a start whose file cannot
    // be opened. A second start leaves the file alone.
    bool start();
    void stop();
    void write(const QString &text);
    bool isStarted() const;
    QString path() const { return fileName; }

    // Hears, in one line for the operator, why start() kept no log; each program says it
    // in its own way. Set before the first start.
    std::function<void(const QString &)> report;

private:
    QFile file;
    const QString fileName;
    bool started = false;
    // `started` for a look without the lock: every session writes an entry per request, and
    // with the log off that must not make them all queue for one lock.
    std::atomic<bool> active{false};
    mutable std::mutex lock;
};

// Each program defines its own: the file's place differs between them.
extern PDebugLog debugLog;

void debugWrite(const QString &text);
QString timestampText();
