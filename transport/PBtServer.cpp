#include "PBtServer.h"

#include "Bluetooth.h"

PBtServer::PBtServer(QObject *parent)
    : PCommonServer(ConnectionType::Bluetooth, parent)
{
}

bool PBtServer::start()
{
    // A second start would take the running socket down with the new one.
    if (isListening())
        return false;
    if (!btListen(socket))
        return false;
    if (!setSocketDescriptor(socket)) {
        // Qt did not take the socket: stop closes it and takes the record back.
        stop();
        return false;
    }
    // Qt owns the socket now and closes it in close(); it is no longer ours to close.
    socket = -1;
    running = true;
    return true;
}

bool PBtServer::stop()
{
    close();
    btUnregister(socket);
    running = false;
    return true;
}

bool PBtServer::connectionName(qintptr descriptor, QString &name)
{
    name = QStringLiteral("Bluetooth");
    QString address;
    if (!btPeerName(descriptor, address))
        return false;
    name += QLatin1String(" (") + address + QLatin1Char(')');
    return true;
}
