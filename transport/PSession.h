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

    // What the session threads are bounded by: a session holds two descriptors idle (its socket
    // and the duplicate that ends it) and up to about six at work, so eight each leaves margin.
    // The per-session caps and the reserve, not this figure, keep the process alive when
    // descriptors run out.
    static constexpr int kDescriptorsPerSession = 8;
    // How long the program's end waits for its sessions; the program ends within 5 s.
    static constexpr int kEndWaitMs = 3500;
    // How often long work looks whether its terminal is still there.
    static constexpr int kLinkLookMs = 100;

    // The session threads that may run at once under a limit of `openFiles` descriptors: one
    // per kDescriptorsPerSession beyond the reserve, and always one.
    static int sessionCap(qint64 openFiles);
    // Sessions made and not yet deleted.
    static int liveSessions();
    // True when one more session may be made now: under the cap, with the reserve free (or the
    // reserve not to be checked, which the debug log's report hears once).
    static bool mayAdmit();

    // A socket session: `descriptor` is the accepted socket, `widget` its row or null.
    PSession(qintptr descriptor, QObject *widget, QObject *parent);
    // A USB cradle session on the serial port `portName`; `stopEvent` is the poller's stop
    // event of this run.
    PSession(const QString &portName, QObject *widget, std::shared_ptr<PStopEvent> stopEvent, QObject *parent);
    ~PSession() override;

    // False when the buffers could not be had: such a session must not be started.
    bool isReady() const { return buffer && protocol.isReady(); }

    // Asks a running session to end from the main thread: its link is shut down (a cradle
    // session is stopped), so the current wait ends at once; a session that has not opened its
    // link yet ends right after; long work sees stopRequested() and ends at its next safe point.
    void endSession();
    // True after endSession(), and once the terminal's socket link has closed: a reset, or an
    // end of its sending side, which a full close and a half close alike show and nothing but
    // a send (the reply, after the work) tells apart. Asked from the session thread, it looks at
    // the link at most every kLinkLookMs, without reading request bytes.
    bool stopRequested() const override;

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
    // The cradle's pause before its port opens and after it closes; true when a stop ended it.
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
    // The socket of the link while it is open, for stopRequested(); session thread only.
    qintptr linkDescriptor = -1;
    mutable std::atomic<qint64> nextLinkLookNs{0};
    mutable std::atomic<bool> linkClosed{false};
};
