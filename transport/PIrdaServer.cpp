#include "PIrdaServer.h"

#include "Irda.h"
#include "NativeSocket.h"

PIrdaServer::PIrdaServer(QObject *parent)
    : PCommonServer(ConnectionType::Irda, parent)
{
}

bool PIrdaServer::start()
{
    return startNative([this](qintptr &listening) { return irdaListen(listening, ircomm); });
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
