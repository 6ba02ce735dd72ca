#pragma once

#include <QString>

#include <functional>

// The local Bluetooth radio as the setup dialog sees it: its name and address, and whether it
// can be found by terminals searching for devices. By default it asks the platform's radio;
// tests put a radio of their own in its place.
namespace DesktopRadio {

struct Backend
{
    std::function<bool(QString &name, QString &address)> info;
    std::function<bool()> isDiscoverable;
    std::function<bool(bool on)> setDiscoverable;
};

// An empty backend brings the platform's radio back; returns the backend that was in place.
Backend setBackend(Backend backend);

bool radioInfo(QString &name, QString &address);
bool isDiscoverable();
bool setDiscoverable(bool on);

} // namespace DesktopRadio
