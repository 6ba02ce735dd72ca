#include "Bluetooth.h"

#include "BluetoothRadio.h"
#include "BluetoothStack.h"
#include "NativeSocket.h"

#include <QBluetoothAddress>

bool btListen(qintptr &socket)
{
    socket = -1;
    return platform::bluetoothStack().listen(socket);
}

bool btUnregister(qintptr &socket)
{
    platform::bluetoothStack().withdraw();
    platform::closeSocket(socket);
    socket = -1;
    return true;
}

bool btPeerName(qintptr socket, QString &text)
{
    quint64 address = 0;
    if (!platform::bluetoothStack().peerAddress(socket, address))
        return false;
    text = QBluetoothAddress(address).toString();
    return true;
}

bool btRadioInfo(QString &name, QString &address)
{
    QString radioName;
    quint64 number = 0;
    if (!platform::bluetoothRadio().info(radioName, number))
        return false;
    name = radioName;
    address = QBluetoothAddress(number).toString();
    return true;
}

bool btIsDiscoverable()
{
    return platform::bluetoothRadio().isDiscoverable();
}

bool btSetDiscoverable(bool on)
{
    return platform::bluetoothRadio().setDiscoverable(on);
}
