#include "BluetoothStack.h"

#include "BluetoothLinuxStack.h"

namespace platform {

namespace {
BluetoothStack *current = nullptr;
} // namespace

BluetoothStack::~BluetoothStack() = default;

BluetoothStack &bluetoothStack()
{
    if (current)
        return *current;
    // Made once and never destroyed: a record still published at program end is the system's to
    // drop with the process, not a static destructor's after the application object is gone.
    static BluetoothStack *const system = new BluetoothLinuxStack;
    return *system;
}

BluetoothStack *setBluetoothStack(BluetoothStack *stack)
{
    BluetoothStack *previous = current;
    current = stack;
    return previous;
}

} // namespace platform
