#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantList>

// Calls to the Bluetooth daemon (BlueZ) on the system's message bus. Every call has its own
// time limit: a bus or daemon that is missing or does not answer makes it fail, never hang.
namespace platform::bluez {

constexpr int kCallWaitMs = 2000;

// True when the daemon holds its name on the bus.
bool running(const QDBusConnection &bus);

// One method call to the daemon, made only while it holds its name; true with the reply's
// arguments when it answered without error.
bool call(const QDBusConnection &bus, const QString &path, const QString &interface,
          const QString &method, const QVariantList &arguments, QVariantList &reply);

} // namespace platform::bluez
