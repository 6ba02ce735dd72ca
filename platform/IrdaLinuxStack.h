#pragma once

#include "IrdaStack.h"

namespace platform {

// IrDA sockets of the Linux kernel. Linux dropped IrDA in release 4.17, so on current kernels the
// socket cannot be made and listen fails at once.
class IrdaLinuxStack : public IrdaStack
{
public:
    IrdaLinuxStack();
    ~IrdaLinuxStack() override;

    bool listen(qintptr &socket, bool ircomm) override;
    bool deviceList(qintptr socket, QByteArray &list) override;
};

} // namespace platform
