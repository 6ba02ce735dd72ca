#include "PSerialPort.h"

#include "PDebugLog.h"
#include "PNetPort.h"
#include "PSettings.h"
#include "PStopEvent.h"

namespace {

using Result = platform::SerialDevice::Result;

int currentWait()
{
    // Read at every wait, so a changed setting applies to the next one.
    return PNetPort::waitMilliseconds(settings.snapshot().networkTimeout);
}

int fdOf(const std::shared_ptr<PStopEvent> &event)
{
    return event ? event->fd() : -1;
}

} // namespace

PSerialPort::PSerialPort(const QString &name, std::shared_ptr<PStopEvent> serverStop)
    : name(name), serverStop(std::move(serverStop)), ownStop(PStopEvent::create())
{
}

PSerialPort::~PSerialPort() = default;

bool PSerialPort::open()
{
    if (!serverStop || !serverStop->isValid() || !ownStop->isValid())
        return false;
    if (device.open(QLatin1String("/dev/") + name))
        return true;
    // The session ends without serving; without this entry nothing would say why (most often a
    // user who may not use serial ports). The text names the call, the port and the reason.
    debugWrite(device.lastError());
    return false;
}

bool PSerialPort::read(char *buffer, int length)
{
    return device.readExact(buffer, length, currentWait, fdOf(serverStop), ownStop->fd()) == Result::Done;
}

bool PSerialPort::write(const char *data, int length)
{
    return device.writeAll(data, length, currentWait, fdOf(serverStop), ownStop->fd()) == Result::Done;
}

bool PSerialPort::close()
{
    device.close();
    return true;
}

void PSerialPort::stop()
{
    ownStop->set();
}
