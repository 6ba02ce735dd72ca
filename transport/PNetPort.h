#pragma once

#include "PDataPort.h"

#include <QTcpSocket>

// The data port of a socket link (TCP, and later Bluetooth RFCOMM and IrDA): an accepted native
// socket taken over by a QTcpSocket. Built, used and deleted on the session thread.
class PNetPort : public PDataPort
{
    Q_OBJECT
public:
    explicit PNetPort(qintptr descriptor);
    ~PNetPort() override;

    bool read(char *buffer, int length) override;
    bool write(const char *data, int length) override;
    // Takes the descriptor over; on false the descriptor is closed, so it never leaks.
    bool open() override;
    bool close() override;

    QTcpSocket &tcpSocket() { return socket; }

    // One wait of the link in milliseconds for a networkTimeout in seconds: the product in 64
    // bits, at most INT_MAX; a negative setting waits without a limit (-1), 0 does not wait.
    static int waitMilliseconds(qint32 networkTimeout);

private:
    static int currentWait();

    QTcpSocket socket;
    const qintptr descriptor;
};
