#pragma once

#include <QString>

// The IrDA link as the listener uses it, over the stack of IrdaStack.h. Main thread only.

// A listening IrDA socket in `socket`: under the server's own service name, or as an IrCOMM
// port when `ircomm`. On false nothing is left open and `socket` is -1.
bool irdaListen(qintptr &socket, bool ircomm);
// The device in range as "(name) [address]" or "[address]"; false with `text` empty when the
// system names no device.
bool irdaPeerName(qintptr socket, QString &text);
