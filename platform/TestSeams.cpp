#include "TestSeams.h"

#include "NativeSocket.h"

#include <QFile>

#include <atomic>
#include <mutex>
#include <utility>

namespace platform {

namespace {

std::atomic<ProgramRunner> runnerInPlace{nullptr};
// Every session reads it as it maps a path: written and read under the lock only.
std::mutex terminalRootLock;
QString confiningRoot;
// Outside the fuzz targets nothing is confined, and no mapping takes the lock.
std::atomic<bool> confined{false};
std::atomic<int> usbPause{4000};
std::atomic<int> sessionCap{0};
std::atomic<SendFunction> radioSendInPlace{nullptr};
// They count down to the failing buffer or write; 0 means disarmed.
std::atomic<int> buffersUntilFault{0};
std::atomic<int> writesUntilFault{0};
std::atomic<std::int64_t> bytesAllowedAtFault{0};
std::atomic<int> tableOpenRetryDelayMs{kDefaultTableOpenRetryDelayMs};
// Read as the open descriptors are counted, before every request that opens one.
std::mutex procFolderLock;
QString procFolderInPlace;
std::atomic<bool> procMoved{false};

// True when this call is the one the countdown was armed for.
bool countDown(std::atomic<int> &left)
{
    int current = left.load();
    while (current > 0) {
        if (left.compare_exchange_weak(current, current - 1))
            return current == 1;
    }
    return false;
}

} // namespace

ProgramRunner setProgramRunnerForTesting(ProgramRunner runner) { return runnerInPlace.exchange(runner); }
ProgramRunner programRunner() { return runnerInPlace.load(); }

QString setTerminalRootForTesting(const QString &folder)
{
    const std::lock_guard<std::mutex> hold(terminalRootLock);
    confined = !folder.isEmpty();
    return std::exchange(confiningRoot, folder);
}

QString terminalRoot()
{
    if (!confined.load())
        return QString();
    const std::lock_guard<std::mutex> hold(terminalRootLock);
    return confiningRoot;
}

int setUsbPauseForTesting(int milliseconds) { return usbPause.exchange(milliseconds); }
int usbPauseMs() { return usbPause.load(); }

void setSessionCapForTesting(int cap) { sessionCap = cap; }
int fixedSessionCap() { return sessionCap.load(); }

void setRadioSendForTesting(SendFunction send) { radioSendInPlace = send; }
SendFunction radioSend()
{
    const SendFunction standIn = radioSendInPlace.load();
    return standIn ? standIn : sendSome;
}

void armZeroPagesFaultForTesting(int nth) { buffersUntilFault = nth > 0 ? nth : 0; }
bool takeZeroPagesFault() { return countDown(buffersUntilFault); }

void armWriteFaultForTesting(int nth, std::int64_t bytesBeforeFailure)
{
    bytesAllowedAtFault = bytesBeforeFailure < 0 ? 0 : bytesBeforeFailure;
    writesUntilFault = nth > 0 ? nth : 0;
}

bool takeWriteFault(std::int64_t &bytesBeforeFailure)
{
    if (!countDown(writesUntilFault))
        return false;
    bytesBeforeFailure = bytesAllowedAtFault.load();
    return true;
}

void setTableOpenRetryDelayForTesting(int milliseconds)
{
    tableOpenRetryDelayMs.store(milliseconds < 0 ? 0 : milliseconds);
}

int tableOpenRetryDelay()
{
    return tableOpenRetryDelayMs.load();
}

QString setProcFolderForTesting(const QString &folder)
{
    const std::lock_guard<std::mutex> hold(procFolderLock);
    procMoved = !folder.isEmpty();
    return std::exchange(procFolderInPlace, folder);
}

QByteArray procPath(const char *procPath)
{
    if (!procMoved.load())
        return QByteArray::fromRawData(procPath, int(qstrlen(procPath)));
    const std::lock_guard<std::mutex> hold(procFolderLock);
    return QFile::encodeName(procFolderInPlace) + (procPath + qstrlen("/proc"));
}

} // namespace platform
