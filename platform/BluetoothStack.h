#pragma once

#include <QtGlobal>

namespace platform {

// The Bluetooth RFCOMM facility of the operating system: a listening socket published as a
// Serial Port service, and the remote address of an accepted connection. Tests put a stand-in in
// place of the system's (setBluetoothStack); everything here runs on the main thread.
class BluetoothStack
{
public:
    BluetoothStack() = default;
    virtual ~BluetoothStack();
    BluetoothStack(const BluetoothStack &) = delete;
    BluetoothStack &operator=(const BluetoothStack &) = delete;

    // Opens a stream socket listening on any local radio and publishes the service record for
    // it. True: `socket` holds the listening descriptor, now the caller's. False: nothing was left
    // open or published and `socket` is -1.
    virtual bool listen(qintptr &socket) = 0;
    // Takes back the record of the last successful listen, if it is still published.
    virtual void withdraw() = 0;
    // The 48-bit radio address of the peer of an accepted connection.
    virtual bool peerAddress(qintptr socket, quint64 &address) = 0;
};

// The stack in use: the system's unless a stand-in was set.
BluetoothStack &bluetoothStack();
// Puts `stack` in use (null: the system's again) and returns the one that was in use before.
// The caller keeps ownership of what it sets.
BluetoothStack *setBluetoothStack(BluetoothStack *stack);

} // namespace platform
