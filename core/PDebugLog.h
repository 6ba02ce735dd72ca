#pragma once

#include <QFile>
#include <QString>

#include <atomic>
#include <mutex>

// The debug log: one entry per terminal command and per session start and end. Any thread may
// write; one lock keeps every entry whole and the entries in time order.
class PDebugLog
{
public:
    explicit PDebugLog(const QString &fileName);
    PDebugLog(const PDebugLog &) = delete;
    PDebugLog &operator=(const PDebugLog &) = delete;

    // Truncates the file and writes the byte-order mark, banner and start line; true when the
    // log is started afterwards. A second start leaves the file alone.
    bool start();
    void stop();
    void write(const QString &text);
    bool isStarted() const;
    QString path() const { return fileName; }

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
