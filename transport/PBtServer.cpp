#include "PBtServer.h"

#include "Bluetooth.h"

PBtServer::PBtServer(QObject *parent)
    : PCommonServer(ConnectionType::Bluetooth, parent)
{
}

bool PBtServer::start()
{
    return startNative(btListen);
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
