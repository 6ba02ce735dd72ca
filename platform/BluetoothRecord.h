#pragma once

#include <QDBusConnection>
#include <QString>

namespace platform {

// The Serial Port service record that tells terminals searching for the PC which RFCOMM channel
// the server listens on, published through the Bluetooth daemon (BlueZ) as a profile of our own.
// The daemon only publishes it: the server listens on the channel itself. Main thread only.
class BluetoothRecord
{
public:
    // On the system bus, reached only once something is published.
    BluetoothRecord();
    // On another bus: tests talk to a daemon of their own.
    explicit BluetoothRecord(const QDBusConnection &bus);
    // Takes a published record back.
    ~BluetoothRecord();
    BluetoothRecord(const BluetoothRecord &) = delete;
    BluetoothRecord &operator=(const BluetoothRecord &) = delete;

    // Publishes the record for `channel` in place of any published before. False when the daemon
    // is not there or refuses it; nothing is published then.
    bool publish(quint8 channel);
    // Takes the record back, if one is published.
    void withdraw();
    bool isPublished() const { return published; }

    // The profile's identifier. Not the Serial Port class's: under that the daemon would take the
    // registration for its own Serial Port profile, add the identifier to the record and open a
    // listener of its own on a default channel that this server never answers.
    static const QString kServiceUuid;
    static const QString kProfilePath;

private:
    // The record in the daemon's XML form: the Serial Port class, L2CAP and RFCOMM with the
    // channel, the service's name and its comment; nothing else.
    static QString xml(quint8 channel);
    QDBusConnection connection() const;

    QDBusConnection bus{QString()};
    const bool onSystemBus;
    bool published = false;
};

} // namespace platform
