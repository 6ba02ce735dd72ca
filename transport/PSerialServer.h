#pragma once

#include "PCommonServer.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class PSession;
class PStopEvent;

// The USB cradle link: nothing connects here, so the serial ports are polled once a second and
// every cradle port (USB product id 0x3305) without a session gets one, on a thread of its own.
// When that session ends its port is forgotten, and the next poll that still finds the cradle
// serves it anew. The stop event of a run is shared with every cradle session and port of that
// run: stopping the poller ends all their waits at once. Everything here runs on the main thread.
class PSerialServer : public QObject, public PLink
{
    Q_OBJECT
public:
    static constexpr quint16 kCradleProductId = 0x3305;
    static constexpr int kPollMs = 1000;

    explicit PSerialServer(QObject *parent);
    // Ends the sessions still running: a session thread never outlives its poller.
    ~PSerialServer() override;

    // Polls from now on, with a fresh stop event when the last one was set; always true.
    bool start() override;
    // Stops polling and sets the stop event, which ends every cradle session; always true.
    bool stop() override;

    // A session for a cradle port that has none yet.
    void addPort(const QString &portName);
    // The name a cradle session shows and logs; always true.
    bool connectionName(const QString &portName, QString &name);
    // Called when a session has ended (PSession::removeSerialPort).
    void removePortName(const QString &portName);
    void removeSession(PSession *session);

    const ConnectionType type = ConnectionType::Usb;
    // The ports that have a session, and those sessions.
    QList<QString> portNames;
    QList<PSession *> sessions;
    // The stop event of the current run; a new one after each stop.
    std::shared_ptr<PStopEvent> stopEvent;

public slots:
    void timerSet();

private:
    // Names, connects and starts a new session; false when its thread could not be created.
    bool startSession(PSession *session);
    void release(const QString &portName, QObject *row);

    QTimer timer;
};
