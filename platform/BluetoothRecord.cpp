#include "BluetoothRecord.h"

#include <QBluetoothUuid>

namespace platform {

QBluetoothServiceInfo serialPortRecord(quint8 channel)
{
    const QBluetoothUuid serialPort(QBluetoothUuid::SerialPort);
    QBluetoothServiceInfo record;

    QBluetoothServiceInfo::Sequence classIds;
    classIds << QVariant::fromValue(serialPort);
    record.setAttribute(QBluetoothServiceInfo::ServiceClassIds, classIds);
    record.setServiceUuid(serialPort);
    record.setServiceName(QStringLiteral("Terminal to vorel server data..."));
    record.setServiceDescription(QStringLiteral("VorelServer BT"));
    record.setAttribute(QBluetoothServiceInfo::BrowseGroupList,
                        QBluetoothUuid(QBluetoothUuid::PublicBrowseGroup));

    QBluetoothServiceInfo::Sequence l2cap;
    l2cap << QVariant::fromValue(QBluetoothUuid(QBluetoothUuid::L2cap));
    QBluetoothServiceInfo::Sequence rfcomm;
    rfcomm << QVariant::fromValue(QBluetoothUuid(QBluetoothUuid::Rfcomm)) << QVariant::fromValue(channel);
    QBluetoothServiceInfo::Sequence protocols;
    protocols << QVariant::fromValue(l2cap) << QVariant::fromValue(rfcomm);
    record.setAttribute(QBluetoothServiceInfo::ProtocolDescriptorList, protocols);
    return record;
}

} // namespace platform
