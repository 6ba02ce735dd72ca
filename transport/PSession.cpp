#include "PSession.h"

#include "NativeSocket.h"
#include "NullEventDispatcher.h"
#include "PDebugLog.h"
#include "PFrontEnd.h"
#include "PNetPort.h"
#include "PSerialPort.h"
#include "PSerialServer.h"
#include "PStopEvent.h"
#include "ResourceLimits.h"
#include "TestSeams.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <new>

// readPacket writes at most the largest request; the rest stays zero.
static_assert(PSession::kBufferSize >= PDataPort::kMaxRequest + 1000, "a request and its zero tail");

namespace {

// An IPv4 terminal reaches a listener on every address as an IPv4-mapped IPv6 peer; it is
// named by its IPv4 address.
QString peerText(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

std::atomic<int> liveCount{0};

qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PSession::PSession(qintptr descriptor, QObject *widget, QObject *parent)
    : QThread(parent), descriptor(descriptor), buffer(kBufferSize), widget(widget)
{
    attach();
}

PSession::PSession(const QString &portName, QObject *widget, std::shared_ptr<PStopEvent> stopEvent,
                   QObject *parent)
    : QThread(parent), type(ConnectionType::Usb), portName(portName), descriptor(-1),
      buffer(kBufferSize), widget(widget), stopEvent(std::move(stopEvent))
{
    attach();
}

void PSession::attach()
{
    ++liveCount;
    protocol.setSession(this);
    // The thread runs blocking loops only; Qt's own dispatcher would need a descriptor, and a
    // thread started without one would end the process.
    setEventDispatcher(new NullEventDispatcher);
    if (widget) {
        connect(this, SIGNAL(setIndicator(int)), widget, SLOT(setIndicator(int)));
        connect(this, SIGNAL(setMessage(QString)), widget, SLOT(setMessage(QString)));
        connect(this, SIGNAL(setType(QString)), widget, SLOT(setType(QString)));
    }
}

PSession::~PSession()
{
    // Qt deletes a thread's dispatcher when the thread ends; one that never ran still holds it.
    if (!isRunning() && !isFinished())
        delete eventDispatcher();
    --liveCount;
}

int PSession::sessionCap(qint64 openFiles)
{
    if (const int cap = platform::fixedSessionCap())
        return cap;
    const qint64 cap = (openFiles - platform::kDescriptorReserve) / kDescriptorsPerSession;
    return int(std::min<qint64>(std::max<qint64>(cap, 1), INT_MAX));
}

int PSession::liveSessions()
{
    return liveCount.load();
}

bool PSession::mayAdmit()
{
    const int cap = sessionCap(platform::openFileLimit());
    if (liveSessions() >= cap || !platform::descriptorsToSpare(0))
        return false;
    // Without /proc nothing is refused for the reserve; the operator hears it once.
    if (platform::reserveUncheckedNotice() && debugLog.report)
        debugLog.report(QStringLiteral("The open descriptors cannot be counted (no /proc/self/fd); the "
                                       "reserve of %1 free descriptors is not checked, and only the bound "
                                       "of %2 session threads limits the terminals")
                            .arg(platform::kDescriptorReserve)
                            .arg(cap));
    return true;
}

void PSession::removeWidget()
{
    if (widget && vorelServer)
        vorelServer->removeWidget(widget);
    widget = nullptr;
}

void PSession::run()
{
    // Its creator checks this before the start; a session without buffers never serves.
    if (!isReady()) {
        platform::closeSocket(descriptor);
        return;
    }
    // Outside serve(): the port must outlive a failure inside it.
    std::unique_ptr<PNetPort> net;
    try {
        serve(net);
    } catch (const std::bad_alloc &) {
        // The terminal is refused, not the server ended: what was opened is released as at
        // any end, without a log entry, which would need memory as well.
        linkDescriptor = -1;
        try {
            if (port)
                port->close();
            releaseEnd();
            protocol.cleanup();
        } catch (const std::bad_alloc &) {
        }
        port = nullptr;
        netPort = nullptr;
        deleteSerial();
    }
}

void PSession::serve(std::unique_ptr<PNetPort> &net)
{
    emit setType(name);
    emit setIndicator(0);

    if (type == ConnectionType::Usb) {
        if (!openSerial())
            return;
        port = serialPort.get();
    } else {
        net.reset(new PNetPort(descriptor));
        net->type = type;
        if (!net->open())
            return;
        if (type == ConnectionType::Network)
            name += QLatin1String(" (") + peerText(net->tcpSocket().peerAddress()) + QLatin1Char(')');
        // A link that could not be ended from outside would keep the program from ending.
        if (!armEnd(*net))
            return;
        netPort = net.get();
        port = netPort;
        linkDescriptor = net->tcpSocket().socketDescriptor();
    }
    emit setMessage(tr("Connection is established"));
    debugWrite(tr("Session opened.") + QLatin1Char(' ') + tr("Mode:") + QLatin1Char(' ') + name);

    packetLoop();

    linkDescriptor = -1;
    port->close();
    releaseEnd();
    protocol.cleanup();
    debugWrite(tr("Session closed.") + QLatin1Char(' ') + tr("Mode:") + QLatin1Char(' ') + name);
    emit setMessage(tr("Stopping port"));
    emit setIndicator(0);
    port = nullptr;
    netPort = nullptr;
    if (serialPort) {
        // A poller that is stopping does not wait.
        if (!stopEvent->isSet())
            usbPause();
        deleteSerial();
    }
}

bool PSession::openSerial()
{
    {
        std::lock_guard<std::mutex> locker(endLock);
        serialPort.reset(new (std::nothrow) PSerialPort(portName, stopEvent));
        if (!serialPort)
            return false;
        serialPort->type = ConnectionType::Usb;
        if (endRequested)
            serialPort->stop();
    }
    emit setMessage(tr("Waiting port"));
    // A session stopped during the pause has nothing to open the port for.
    if (usbPause() || !serialPort->open()) {
        deleteSerial();
        return false;
    }
    return true;
}

void PSession::deleteSerial()
{
    std::lock_guard<std::mutex> locker(endLock);
    serialPort.reset();
}

bool PSession::usbPause()
{
    return PStopEvent::waitAny(stopEvent.get(), serialPort->ownStopEvent().get(), platform::usbPauseMs());
}

void PSession::packetLoop()
{
    bool wasHex = port->hexMode;
    for (;;) {
        quint32 length = 0;
        if (!port->readPacket(buffer.get(), length))
            return;
        // A packet without a command (length 0 included) ends the session unanswered.
        if (!protocol.processCommand(buffer.get(), length))
            return;
        if (!port->writePacket(protocol.reply(), protocol.replySize()))
            return;
        if (type == ConnectionType::Bluetooth && port->hexMode && !wasHex)
            emit setType(name + QLatin1Char(' ') + tr("[DT-930 mode]"));
        wasHex = port->hexMode;
    }
}

bool PSession::armEnd(PNetPort &net)
{
    std::lock_guard<std::mutex> locker(endLock);
    endHandle.reset(int(platform::duplicateSocket(net.tcpSocket().socketDescriptor())));
    if (!endHandle.isValid())
        return false;
    if (endRequested)
        platform::shutdownSocket(endHandle.get());
    return true;
}

void PSession::releaseEnd()
{
    std::lock_guard<std::mutex> locker(endLock);
    endHandle.reset();
}

void PSession::stop()
{
    if (type != ConnectionType::Usb)
        return;
    std::lock_guard<std::mutex> locker(endLock);
    endRequested = true;
    // Under the lock: the session thread deletes its port only under it as well.
    if (serialPort)
        serialPort->stop();
}

void PSession::removeSerialPort()
{
    PSerialServer *poller = vorelServer ? vorelServer->serialServer : nullptr;
    if (!poller)
        return;
    poller->removePortName(portName);
    poller->removeSession(this);
}

void PSession::endSession()
{
    stopFlag = true;
    if (type == ConnectionType::Usb) {
        stop();
        return;
    }
    std::lock_guard<std::mutex> locker(endLock);
    endRequested = true;
    if (endHandle.isValid())
        platform::shutdownSocket(endHandle.get());
}

bool PSession::stopRequested() const
{
    if (stopFlag.load() || linkClosed.load())
        return true;
    // Conversions ask for every line or record: mostly a look at the clock.
    const qint64 now = monotonicNs();
    if (now < nextLinkLookNs.load(std::memory_order_relaxed) || QThread::currentThread() != this
        || linkDescriptor < 0)
        return false;
    nextLinkLookNs.store(now + qint64(kLinkLookMs) * 1000000, std::memory_order_relaxed);
    if (!platform::peerHasClosed(linkDescriptor))
        return false;
    linkClosed = true;
    return true;
}

bool PSession::endAll(const QList<PSession *> &sessions, bool processEvents, QDeadlineTimer deadline)
{
    QList<QPointer<PSession>> live;
    for (PSession *session : sessions) {
        if (!session)
            continue;
        session->endSession();
        live.append(session);
    }
    bool allEnded = true;
    for (const QPointer<PSession> &session : qAsConst(live)) {
        if (!processEvents) {
            if (session && !session->wait(deadline))
                allEnded = false;
            continue;
        }
        while (session && !session->wait(10)) {
            if (deadline.hasExpired()) {
                allEnded = false;
                break;
            }
            QCoreApplication::processEvents();
        }
    }
    for (const QPointer<PSession> &session : qAsConst(live)) {
        if (!session || session->isRunning())
            continue;
        // The queued end of the session (its row removal) runs before it goes; its deferred
        // deletion goes with it.
        if (processEvents)
            QCoreApplication::sendPostedEvents(session, QEvent::MetaCall);
        delete session.data();
    }
    return allEnded;
}
