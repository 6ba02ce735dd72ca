#include "Irda.h"

#include "IrdaDeviceList.h"
#include "IrdaStack.h"

bool irdaListen(qintptr &socket, bool ircomm)
{
    socket = -1;
    return platform::irdaStack().listen(socket, ircomm);
}

bool irdaPeerName(qintptr socket, QString &text)
{
    text.clear();
    QByteArray list;
    platform::irda::Device device;
    if (!platform::irdaStack().deviceList(socket, list)
        || !platform::irda::firstDevice(list.constData(), list.size(), device))
        return false;
    text = platform::irda::deviceText(device);
    return true;
}
