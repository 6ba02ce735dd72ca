#pragma once

#include <QString>

// The discovery list of the IrDA stack, in the kernel's layout: a 32-bit count in host order,
// then one 36-byte record per device: local and remote 32-bit addresses in host order, the name
// (22 bytes, NUL-padded, not always terminated), its character set, two hint bytes and padding.
// The names come from devices in range: nothing here trusts the count or the name.
namespace platform::irda {

constexpr int kListHeader = 4;
constexpr int kDeviceRecord = 36;
constexpr int kMaxDevices = 10;
constexpr int kNameSize = 22;

struct Device
{
    quint32 address = 0;
    QString name;
};

// The first device of the list; false when the list names none or is too short to hold it.
bool firstDevice(const char *list, int size, Device &device);

// How the server names the device in a session: "(" name ") [" address "]", or "[" address "]"
// when it has no name. The address is the 32-bit number widened with its sign and shown as a
// Bluetooth-style address: 0x12345678 reads 00:00:12:34:56:78.
QString deviceText(const Device &device);

} // namespace platform::irda
