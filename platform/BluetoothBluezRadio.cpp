#include "BluetoothBluezRadio.h"

#include "BluetoothBus.h"

#include <QBluetoothAddress>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>

namespace platform {

namespace {

const QString kAdapter = QStringLiteral("org.bluez.Adapter1");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kDiscoverable = QStringLiteral("Discoverable");

// One value of a property reply: a variant that may still be wrapped for the bus.
QVariant unwrap(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<QDBusVariant>())
        return value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

BluetoothBluezRadio::BluetoothBluezRadio()
    : BluetoothBluezRadio(QDBusConnection::systemBus())
{
}

BluetoothBluezRadio::BluetoothBluezRadio(const QDBusConnection &bus, int settleMs)
    : bus(bus), settleMs(settleMs)
{
}

BluetoothBluezRadio::~BluetoothBluezRadio() = default;

QList<BluetoothBluezRadio::Adapter> BluetoothBluezRadio::adapters() const
{
    QList<Adapter> found;
    QVariantList reply;
    if (!bluez::call(bus, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                     QStringLiteral("GetManagedObjects"), {}, reply)
        || reply.isEmpty() || reply.first().userType() != qMetaTypeId<QDBusArgument>())
        return found;
    // a{oa{sa{sv}}}: every object with its interfaces and their properties.
    const QDBusArgument objects = reply.first().value<QDBusArgument>();
    if (objects.currentType() != QDBusArgument::MapType)
        return found;
    objects.beginMap();
    while (!objects.atEnd()) {
        QDBusObjectPath path;
        QMap<QString, QVariantMap> interfaces;
        objects.beginMapEntry();
        objects >> path >> interfaces;
        objects.endMapEntry();
        if (interfaces.contains(kAdapter))
            found.append(Adapter{path.path(), interfaces.value(kAdapter)});
    }
    objects.endMap();
    std::sort(found.begin(), found.end(), [](const Adapter &a, const Adapter &b) { return a.path < b.path; });
    return found;
}

bool BluetoothBluezRadio::info(QString &name, quint64 &address)
{
    const QList<Adapter> all = adapters();
    if (all.isEmpty())
        return false;
    const QVariantMap &properties = all.first().properties;
    const QBluetoothAddress radio(unwrap(properties.value(QStringLiteral("Address"))).toString());
    if (radio.isNull())
        return false;
    // The alias is the name other devices see; it falls back to the system name.
    QString shown = unwrap(properties.value(QStringLiteral("Alias"))).toString();
    if (shown.isEmpty())
        shown = unwrap(properties.value(QStringLiteral("Name"))).toString();
    name = shown;
    address = radio.toUInt64();
    return true;
}

bool BluetoothBluezRadio::isDiscoverable()
{
    const QList<Adapter> all = adapters();
    return std::any_of(all.begin(), all.end(), [](const Adapter &adapter) {
        return unwrap(adapter.properties.value(kDiscoverable)).toBool();
    });
}

bool BluetoothBluezRadio::readDiscoverable(const QString &path, bool &on) const
{
    QVariantList reply;
    if (!bluez::call(bus, path, kProperties, QStringLiteral("Get"), {kAdapter, kDiscoverable}, reply)
        || reply.isEmpty())
        return false;
    on = unwrap(reply.first()).toBool();
    return true;
}

bool BluetoothBluezRadio::setDiscoverable(bool on)
{
    const QList<Adapter> all = adapters();
    if (all.isEmpty())
        return false;
    bool ok = true;
    for (const Adapter &adapter : all) {
        QVariantList reply;
        const QVariantList arguments{kAdapter, kDiscoverable, QVariant::fromValue(QDBusVariant(on))};
        ok = bluez::call(bus, adapter.path, kProperties, QStringLiteral("Set"), arguments, reply) && ok;
    }
    if (!ok)
        return false;
    // The daemon may report the new mode a moment later: wait for it, but not for ever.
    QDeadlineTimer deadline(settleMs);
    for (;;) {
        const bool settled = std::all_of(all.begin(), all.end(), [&](const Adapter &adapter) {
            bool current = !on;
            return readDiscoverable(adapter.path, current) && current == on;
        });
        if (settled)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

} // namespace platform
