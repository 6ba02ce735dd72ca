#include "BluetoothLinuxStack.h"

#include <cstddef>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// The kernel's RFCOMM names, kept here so that building needs no Bluetooth headers.
constexpr int kAfBluetooth = 31;
constexpr int kBtProtoRfcomm = 3;

struct RfcommAddress
{
    sa_family_t family;
    // Least significant byte first; all zero means any local radio.
    quint8 radio[6];
    quint8 channel;
};

void closeDescriptor(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

BluetoothLinuxStack::BluetoothLinuxStack() = default;
BluetoothLinuxStack::~BluetoothLinuxStack() = default;

bool BluetoothLinuxStack::listen(qintptr &socket)
{
    socket = -1;
    withdraw();
    int fd = ::socket(kAfBluetooth, SOCK_STREAM | SOCK_CLOEXEC, kBtProtoRfcomm);
    if (fd < 0)
        return false;
    RfcommAddress address{};
    address.family = kAfBluetooth;
    // Linux picks a free channel at listen, not at bind: the channel is read after listen.
    socklen_t size = sizeof address;
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
        && ::listen(fd, 10) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0
        && size >= socklen_t(offsetof(RfcommAddress, channel) + 1) && address.channel != 0
        && record.publish(address.channel);
    if (!ok) {
        closeDescriptor(fd);
        return false;
    }
    socket = fd;
    return true;
}

void BluetoothLinuxStack::withdraw()
{
    record.withdraw();
}

bool BluetoothLinuxStack::peerAddress(qintptr socket, quint64 &address)
{
    if (socket < 0)
        return false;
    RfcommAddress peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(int(socket), reinterpret_cast<sockaddr *>(&peer), &size) != 0
        || size < socklen_t(offsetof(RfcommAddress, channel)) || peer.family != kAfBluetooth)
        return false;
    quint64 value = 0;
    for (int i = 5; i >= 0; --i)
        value = (value << 8) | peer.radio[i];
    address = value;
    return true;
}

} // namespace platform
