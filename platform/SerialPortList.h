#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace platform {

// One serial port of the system as the cradle poller sees it.
struct SerialPortEntry
{
    // The device's name under /dev, such as "ttyACM0".
    QString portName;
    // Only USB devices report a product id.
    bool hasProductIdentifier = false;
    quint16 productIdentifier = 0;
};

// The serial ports of the system, in the order the system lists them. Main thread.
QList<SerialPortEntry> listSerialPorts();

// Test seam: a listing of one's own in place of the system's (a pseudo-terminal posing as a
// cradle); an empty function puts the system's back.
using SerialPortLister = std::function<QList<SerialPortEntry>()>;
void setSerialPortLister(SerialPortLister lister);

} // namespace platform
