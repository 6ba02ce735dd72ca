#include "PSerialServer.h"

#include "PFrontEnd.h"
#include "PSession.h"
#include "PStopEvent.h"
#include "SerialPortList.h"

#include <QEventLoop>

#include <new>

PSerialServer::PSerialServer(QObject *parent)
    : QObject(parent), stopEvent(PStopEvent::create())
{
    timer.setInterval(kPollMs);
    // Connected once: a second start must not poll twice per tick.
    connect(&timer, &QTimer::timeout, this, &PSerialServer::timerSet);
}

PSerialServer::~PSerialServer()
{
    timer.stop();
    // No closing pauses: the sessions see the poller stopping.
    stopEvent->set();
    PSession::endAll(findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly), false);
}

bool PSerialServer::start()
{
    // Sessions of the last run keep its event, still set, so they end even when the poller is
    // started again before they have seen the stop.
    if (stopEvent->isSet() || !stopEvent->isValid())
        stopEvent = PStopEvent::create();
    timer.start();
    running = true;
    return true;
}

bool PSerialServer::stop()
{
    timer.stop();
    stopEvent->set();
    running = false;
    return true;
}

void PSerialServer::timerSet()
{
    for (const platform::SerialPortEntry &entry : platform::listSerialPorts()) {
        if (entry.hasProductIdentifier && entry.productIdentifier == kCradleProductId)
            addPort(entry.portName);
    }
}

void PSerialServer::addPort(const QString &portName)
{
    // Past the session cap or without the reserve of descriptors the port waits for a later
    // poll, like one whose row could not be made.
    if (portNames.contains(portName) || !PSession::mayAdmit())
        return;
    portNames.append(portName);
    QObject *row = nullptr;
    if (vorelServer && vorelServer->hasRows()) {
        row = vorelServer->addWidget();
        // No row, no session; the name is released so that a later tick tries again.
        if (!row) {
            removePortName(portName);
            return;
        }
    }
    PSession *session = nullptr;
    try {
        session = new PSession(portName, row, stopEvent, this);
        if (session->isReady() && startSession(session))
            return;
    } catch (const std::bad_alloc &) {
    }
    sessions.removeOne(session);
    delete session;
    release(portName, row);
}

bool PSerialServer::startSession(PSession *session)
{
    QString text;
    connectionName(session->portName, text);
    session->type = type;
    session->name = text;
    connect(session, &QThread::finished, session, &PSession::removeSerialPort);
    connect(session, &QThread::finished, session, &PSession::removeWidget);
    connect(session, &QThread::finished, session, &QObject::deleteLater);
    // Listed before the thread runs: a session that ends while the loop below still turns is
    // then taken off the list by its own end, never left behind as a dangling pointer.
    sessions.append(session);

    QEventLoop loop;
    connect(session, &QThread::started, &loop, &QEventLoop::quit);
    session->start(QThread::InheritPriority);
    // A thread that could not be created is neither running nor finished, and would never
    // report its start.
    if (!session->isRunning() && !session->isFinished())
        return false;
    loop.exec();
    return true;
}

bool PSerialServer::connectionName(const QString &portName, QString &name)
{
    name = tr("Usb HA-N60/62 (%1)").arg(portName);
    return true;
}

void PSerialServer::removePortName(const QString &portName)
{
    portNames.removeOne(portName);
}

void PSerialServer::removeSession(PSession *session)
{
    sessions.removeOne(session);
}

void PSerialServer::release(const QString &portName, QObject *row)
{
    removePortName(portName);
    if (row && vorelServer)
        vorelServer->removeWidget(row);
}
