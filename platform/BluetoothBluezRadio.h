#pragma once

#include "BluetoothRadio.h"

#include <QDBusConnection>
#include <QList>
#include <QVariantMap>

namespace platform {

// The local radios as the Bluetooth daemon (BlueZ) lists its adapters on the message bus. No
// bus, no daemon or no adapter reads as no radio.
class BluetoothBluezRadio : public BluetoothRadio
{
public:
    // On the system bus.
    BluetoothBluezRadio();
    // On another bus: tests talk to a daemon of their own.
    explicit BluetoothBluezRadio(const QDBusConnection &bus, int settleMs = kSettleMs);
    ~BluetoothBluezRadio() override;

    bool info(QString &name, quint64 &address) override;
    bool isDiscoverable() override;
    bool setDiscoverable(bool on) override;

    // How long a change of mode may take to read back.
    static constexpr int kSettleMs = 3000;

private:
    struct Adapter
    {
        QString path;
        QVariantMap properties;
    };
    // The adapters in path order (hci0 first); empty when the daemon does not answer.
    QList<Adapter> adapters() const;
    bool readDiscoverable(const QString &path, bool &on) const;

    QDBusConnection bus;
    int settleMs;
};

} // namespace platform
