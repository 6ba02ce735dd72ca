#pragma once

#include <QtGlobal>

// The kind of link a listener, session and data port serve; the values are shown and stored as
// numbers, so they never change.
enum class ConnectionType : qint32 {
    None = 0,
    Network = 1,
    Bluetooth = 2,
    Irda = 3,
    Usb = 4,
};
