#include "BluetoothRadio.h"

#include "BluetoothBluezRadio.h"

namespace platform {

namespace {
BluetoothRadio *current = nullptr;
} // namespace

BluetoothRadio::~BluetoothRadio() = default;

BluetoothRadio &bluetoothRadio()
{
    if (current)
        return *current;
    // Made once and never destroyed, like the stack: nothing of it may run after the
    // application object is gone.
    static BluetoothRadio *const system = new BluetoothBluezRadio;
    return *system;
}

BluetoothRadio *setBluetoothRadio(BluetoothRadio *radio)
{
    BluetoothRadio *previous = current;
    current = radio;
    return previous;
}

} // namespace platform
