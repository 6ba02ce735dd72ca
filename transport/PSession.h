#pragma once

#include "ConnectionType.h"
#include "PProgressSink.h"
#include "VorelProtocol.h"
#include "ZeroPages.h"

#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

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
    static constexpr int kBufferSize = 0x100000 + 1000;

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
    // link yet ends right after.
    void endSession();

    // Program end: asks each session to end, waits until every thread has finished (with the
    // main thread's events processed when `processEvents`) and deletes the sessions.
    static void endAll(const QList<PSession *> &sessions, bool processEvents);

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
    struct FreeDeleter
    {
        void operator()(char *bytes) const { platform::freeZeroPages(bytes, kBufferSize); }
    };

    void attach();
    bool armEnd(PNetPort &net);
    void releaseEnd();
    bool openSerial();
    void deleteSerial();
    // True when a stop ended it.
    bool usbPause();
    void packetLoop();

    const qintptr descriptor;
    VorelProtocol protocol;
    std::unique_ptr<char, FreeDeleter> buffer;
    PNetPort *netPort = nullptr;
    PSerialPort *serialPort = nullptr;
    PDataPort *port = nullptr;
    QObject *widget;
    const std::shared_ptr<PStopEvent> stopEvent;

    // Guards the second handle on the link that endSession() shuts down from the main thread;
    // it is closed only under the lock, so the main thread never touches a reused descriptor.
    // It guards `serialPort` the same way: created, deleted and stopped only under it.
    QMutex endLock;
    qintptr endHandle = -1;
    bool endRequested = false;
};
