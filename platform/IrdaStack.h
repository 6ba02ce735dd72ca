#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace platform {

// The IrDA facility of the operating system: a listening socket under a service name (or as an
// IrCOMM port), and the list of devices in range. Tests put a stand-in in place of the system's
// (setIrdaStack); everything here runs on the main thread.
class IrdaStack
{
public:
    IrdaStack() = default;
    virtual ~IrdaStack();
    IrdaStack(const IrdaStack &) = delete;
    IrdaStack &operator=(const IrdaStack &) = delete;

    // Opens a socket listening as "VOREL Server v1.00", or as "IrDA:IrCOMM" with its IAS entry
    // when `ircomm`. True: `socket` holds the listening descriptor, now the caller's. False:
    // nothing was left open and `socket` is -1.
    virtual bool listen(qintptr &socket, bool ircomm) = 0;
    // The discovery list as the system gives it for an accepted connection (the layout that
    // irdaDeviceText reads); false when it cannot be had.
    virtual bool deviceList(qintptr socket, QByteArray &list) = 0;
};

// The stack in use: the system's unless a stand-in was set.
IrdaStack &irdaStack();
// Puts `stack` in use (null: the system's again) and returns the one that was in use before.
// The caller keeps ownership of what it sets.
IrdaStack *setIrdaStack(IrdaStack *stack);

} // namespace platform
