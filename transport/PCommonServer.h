#pragma once

#include "ConnectionType.h"

#include <QTcpServer>

// A listener of one link kind. Qt's event loop accepts on every link alike (the Bluetooth and
// IrDA listeners hand their own native listening socket to QTcpServer), and each accepted
// descriptor becomes a session thread here, with the link's type and a display name, or is
// closed at once when no session may be made (past the session cap, without the reserve of
// descriptors, or without the memory or thread a session needs).
class PCommonServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit PCommonServer(ConnectionType type, QObject *parent);
    // Ends the sessions still running: a session thread never outlives its listener.
    ~PCommonServer() override;

    virtual bool start() = 0;
    virtual bool stop() = 0;
    // The name of a new connection as the row and the log show it.
    virtual bool connectionName(qintptr descriptor, QString &name) = 0;

    const ConnectionType type;
    // The native listening socket of the links that make their own; -1 while there is none.
    qintptr socket = -1;
    bool running = false;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    // After an accept failed for want of descriptors, the next try.
    static constexpr int kAcceptRetryMs = 200;
};
