#pragma once

#include <QString>

namespace platform {

// The local Bluetooth radios, as the setup dialog shows and switches them. Tests put a stand-in
// in place of the system's (setBluetoothRadio); everything here runs on the main thread and
// every call ends within a few seconds, whether or not the system answers.
class BluetoothRadio
{
public:
    BluetoothRadio() = default;
    virtual ~BluetoothRadio();
    BluetoothRadio(const BluetoothRadio &) = delete;
    BluetoothRadio &operator=(const BluetoothRadio &) = delete;

    // The first radio's name and 48-bit address; false when there is no radio or it cannot be
    // read, and then both are left as they were.
    virtual bool info(QString &name, quint64 &address) = 0;
    // True when at least one radio can be found by other devices.
    virtual bool isDiscoverable() = 0;
    // Switches every radio's discoverability; true only once the new mode reads back.
    virtual bool setDiscoverable(bool on) = 0;
};

// The radio access in use: the system's unless a stand-in was set.
BluetoothRadio &bluetoothRadio();
// Puts `radio` in use (null: the system's again) and returns the one that was in use before.
// The caller keeps ownership of what it sets.
BluetoothRadio *setBluetoothRadio(BluetoothRadio *radio);

} // namespace platform
