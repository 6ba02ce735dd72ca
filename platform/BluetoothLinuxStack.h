#pragma once

#include "BluetoothRecord.h"
#include "BluetoothStack.h"

namespace platform {

// RFCOMM sockets of the Linux kernel, with the service record published through the Bluetooth
// daemon. Where the kernel has no Bluetooth (as in most containers) the socket cannot be made and
// listen fails at once.
class BluetoothLinuxStack : public BluetoothStack
{
public:
    BluetoothLinuxStack();
    ~BluetoothLinuxStack() override;

    bool listen(qintptr &socket) override;
    void withdraw() override;
    bool peerAddress(qintptr socket, quint64 &address) override;

private:
    BluetoothRecord record;
};

} // namespace platform
