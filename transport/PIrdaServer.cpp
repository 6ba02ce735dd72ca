#include "PIrdaServer.h"

#include "Irda.h"
#include "NativeSocket.h"

PIrdaServer::PIrdaServer(QObject *parent)
    : PCommonServer(ConnectionType::Irda, parent)
{
}

bool PIrdaServer::start()
{
    // A second start would take the running socket down with the new one.
    if (isListening())
        return false;
    if (!irdaListen(socket, ircomm))
        return false;
    if (!setSocketDescriptor(socket)) {
        // Qt did not take the socket: stop closes it.
        stop();
        return false;
    }
    // Qt owns the socket now and closes it in close(); it is no longer ours to close.
    socket = -1;
    running = true;
    return true;
}

bool PIrdaServer::stop()
{
    close();
    platform::closeSocket(socket);
    socket = -1;
    running = false;
    return true;
}

bool PIrdaServer::connectionName(qintptr descriptor, QString &name)
{
    name = QStringLiteral("Irda");
    if (ircomm)
        name += QLatin1String(" (ircomm)");
    QString device;
    irdaPeerName(descriptor, device);
    name += QLatin1Char(' ') + device;
    return true;
}
