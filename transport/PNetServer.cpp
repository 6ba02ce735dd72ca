#include "PNetServer.h"

#include "NativeSocket.h"
#include "PSettings.h"

PNetServer::PNetServer(QObject *parent)
    : PCommonServer(ConnectionType::Network, parent), port(settings.snapshot().networkPort)
{
}

bool PNetServer::start()
{
    // Port 0 would listen on a port of the system's choosing, and a larger number would wrap.
    if (port < 1 || port > 65535)
        return false;
    if (!listen(QHostAddress::Any, quint16(port)))
        return false;
    platform::widenListenQueue(socketDescriptor());
    running = true;
    return true;
}

bool PNetServer::stop()
{
    close();
    running = false;
    return true;
}

bool PNetServer::connectionName(qintptr, QString &name)
{
    name = tr("Network");
    return true;
}
