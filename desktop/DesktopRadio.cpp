#include "DesktopRadio.h"

namespace DesktopRadio {

namespace {

Backend &current()
{
    static Backend backend;
    return backend;
}

// This build has no radio layer yet: no radio is ever found, and discovery cannot be switched.
bool platformInfo(QString &, QString &)
{
    return false;
}

bool platformIsDiscoverable()
{
    return false;
}

bool platformSetDiscoverable(bool)
{
    return false;
}

} // namespace

Backend setBackend(Backend backend)
{
    Backend previous = std::move(current());
    current() = std::move(backend);
    return previous;
}

bool radioInfo(QString &name, QString &address)
{
    return current().info ? current().info(name, address) : platformInfo(name, address);
}

bool isDiscoverable()
{
    return current().isDiscoverable ? current().isDiscoverable() : platformIsDiscoverable();
}

bool setDiscoverable(bool on)
{
    return current().setDiscoverable ? current().setDiscoverable(on) : platformSetDiscoverable(on);
}

} // namespace DesktopRadio
