#pragma once

#include "ConnectionType.h"
#include "PProgressSink.h"
#include "VorelProtocol.h"
#include "UniqueFd.h"
#include "ZeroPages.h"

#include <QDeadlineTimer>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

class PDataPort;
class PNetPort;
class PSerialPort;
class PStopEvent;

// The thread that serves one terminal: it takes over the link, answers request packets one by
// one through its command layer until the terminal leaves, falls silent or sends no command,
// then releases what the terminal had opened and closes the link. The object itself and its
// slots live on the main thread; run() and everything it builds live on the session thread.
//
// The creator sets `type` and `name`, connects finished() to removeWidget() and deleteLater()
// (a cradle session first to removeSerialPort()), and starts the thread. The progress of the
// command layer arrives through PProgressSink and leaves as the three signals, which a session
// row (if any) receives queued.
class PSession : public QThread, public PProgressSink
{
    Q_OBJECT
public:
    // The largest request and 1000 bytes more that stay zero: a string whose NUL is missing
    // still ends inside the buffer.
    static constexpr std::size_t kBufferSize = platform::kMaxRequest + 1000;

    // The most descriptors one session can hold at once, from the caps of its command layer. A
    // session serves one request at a time, so a conversion and a program start never overlap.
    static constexpr int kDescriptorBudget =
        2          // the socket and the duplicate that ends it
        + PFileList::kMaxOpenFiles
        + PSqlList::kMaxOpenBases * 3 // each base with its database, WAL and shm files
        + 5;       // a conversion (its text file, the table's two files, a rollback journal, a
                   // sort's spill file), or else a program start's report pipe
    static_assert(kDescriptorBudget == 455, "the README gives the budget and the session cap it makes");
    // Descriptors kept free for the process itself: its listeners, the debug log, settings
    // writes, Qt's wake-ups and the accept of a connection that is then refused. While fewer
    // are free, new connections are closed at once.
    static constexpr int kDescriptorReserve = 32;
    // How long the program's end waits for its sessions; the program ends within 5 s.
    static constexpr int kEndWaitMs = 3500;

    // The budget the session cap is reckoned with: kDescriptorBudget unless a test of many
    // terminals on a machine with a low descriptor limit lowers it.
    static std::atomic<int> descriptorBudget;

    // The sessions that may run at once under a limit of `openFiles` descriptors: so many that
    // all of them at their caps still leave the reserve free, and always one.
    static int sessionCap(qint64 openFiles);
    // Sessions made and not yet deleted.
    static int liveSessions();
    // True when one more session may be made now: under the cap, with the reserve free.
    static bool mayAdmit();

    // A socket session: `descriptor` is the accepted socket, `widget` its row or null.
    PSession(qintptr descriptor, QObject *widget, QObject *parent);
    // A USB cradle session on the serial port `portName`; `stopEvent` is the poller's stop
    // event of this run.
    PSession(const QString &portName, QObject *widget, std::shared_ptr<PStopEvent> stopEvent, QObject *parent);
    ~PSession() override;

    // The pause of a cradle session before it opens its port and after it closes it (unless
    // the poller is stopping), in milliseconds. A stop ends it at once. Tests shorten it.
    static std::atomic<int> usbPauseMs;

    // False when the buffers could not be had: such a session must not be started.
    bool isReady() const { return buffer && protocol.isReady(); }

    // Asks a running session to end from the main thread: its link is shut down (a cradle
    // session is stopped), so the current wait ends at once; a session that has not opened its
    // link yet ends right after; long work sees stopRequested() and ends at its next safe point.
    void endSession();
    bool stopRequested() const override { return stopFlag.load(); }

    // Program end: asks each session to end, waits until every thread has finished or the
    // deadline has passed (with the main thread's events processed when `processEvents`), and
    // deletes the sessions that finished. False when some still run at the deadline: they are
    // left alone, since destroying a running thread aborts the process.
    static bool endAll(const QList<PSession *> &sessions, bool processEvents,
                       QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

    ConnectionType type = ConnectionType::None;
    QString name;
    const QString portName;

signals:
    // They also implement PProgressSink: the command layer's calls become these signals.
    void setIndicator(int value) override;
    void setMessage(const QString &text) override;
    void setType(const QString &text) override;

public slots:
    void removeWidget();
    // A cradle session: ends its transfers and pauses at once. Any other: nothing.
    void stop();
    // A cradle session that ended: the poller forgets its port, so a later poll serves it anew.
    void removeSerialPort();

protected:
    void run() override;

private:
    void attach();
    void serve(std::unique_ptr<PNetPort> &net);
    bool armEnd(PNetPort &net);
    void releaseEnd();
    bool openSerial();
    void deleteSerial();
    // True when a stop ended it.
    bool usbPause();
    void packetLoop();

    const qintptr descriptor;
    VorelProtocol protocol;
    platform::ZeroPages buffer;
    PNetPort *netPort = nullptr;
    std::unique_ptr<PSerialPort> serialPort;
    PDataPort *port = nullptr;
    QObject *widget;
    const std::shared_ptr<PStopEvent> stopEvent;

    // Guards the second handle on the link that endSession() shuts down from the main thread;
    // it is closed only under the lock, so the main thread never touches a reused descriptor.
    // It guards `serialPort` the same way: created, reset and stopped only under it.
    std::mutex endLock;
    platform::UniqueFd endHandle;
    bool endRequested = false;
    std::atomic<bool> stopFlag{false};
};
