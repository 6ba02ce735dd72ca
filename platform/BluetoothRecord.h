#pragma once

#include <QBluetoothServiceInfo>

namespace platform {

// The Serial Port service record that tells terminals searching for the PC which RFCOMM channel
// the server listens on.
QBluetoothServiceInfo serialPortRecord(quint8 channel);

} // namespace platform
