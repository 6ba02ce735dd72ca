#pragma once

#include "ConnectionType.h"

#include <QTcpServer>

// What a front-end does with each of its five links, the four listeners and the cradle poller.
// Everything here runs on the main thread.
class PLink
{
public:
    virtual ~PLink() = default;

    // True, and `running` set, when the link serves from now on.
    virtual bool start() = 0;
    // Always true; `running` cleared.
    virtual bool stop() = 0;

    bool running = false;
};

// A listener of one link kind. Qt's event loop accepts on every link alike (the Bluetooth and
// IrDA listeners hand their own native listening socket to QTcpServer), and each accepted
// descriptor becomes a session thread here, with the link's type and a display name, or is
// closed at once when no session may be made (past the session cap, without the reserve of
// descriptors, or without the memory or thread a session needs).
class PCommonServer : public QTcpServer, public PLink
{
    Q_OBJECT
public:
    explicit PCommonServer(ConnectionType type, QObject *parent);
    // Ends the sessions still running: a session thread never outlives its listener.
    ~PCommonServer() override;

    // The name of a new connection as the row and the log show it.
    virtual bool connectionName(qintptr descriptor, QString &name) = 0;

    const ConnectionType type;
    // The native listening socket of the links that make their own; -1 while there is none.
    qintptr socket = -1;

protected:
    void incomingConnection(qintptr descriptor) override;

    // The start of a link that makes its own listening socket with `listenNative` (a callable
    // taking the socket field to fill) and hands it to QTcpServer; on false nothing is left open.
    template <typename Listen>
    bool startNative(Listen listenNative)
    {
        // A second start would take the running socket down with the new one.
        if (isListening() || !listenNative(socket))
            return false;
        if (!setSocketDescriptor(socket)) {
            // Qt did not take the socket: the link's stop closes it and releases what goes with it.
            stop();
            return false;
        }
        // Qt owns the socket now and closes it in close(); it is no longer ours to close.
        socket = -1;
        running = true;
        return true;
    }

private:
    // After an accept failed for want of descriptors, the next try.
    static constexpr int kAcceptRetryMs = 200;
};
