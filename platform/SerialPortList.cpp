#include "SerialPortList.h"

#include <QSerialPortInfo>

namespace platform {

namespace {

SerialPortLister &replacement()
{
    static SerialPortLister lister;
    return lister;
}

} // namespace

QList<SerialPortEntry> listSerialPorts()
{
    if (replacement())
        return replacement()();
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry entry;
        entry.portName = info.portName();
        entry.hasProductIdentifier = info.hasProductIdentifier();
        entry.productIdentifier = info.productIdentifier();
        ports.append(entry);
    }
    return ports;
}

void setSerialPortLister(SerialPortLister lister)
{
    replacement() = std::move(lister);
}

} // namespace platform
