#include "BluetoothBus.h"

namespace platform::bluez {

namespace {
const QString kService = QStringLiteral("org.bluez");
} // namespace

bool running(const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    message << kService;
    const QDBusMessage answer = bus.call(message, QDBus::Block, kCallWaitMs);
    return answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty()
        && answer.arguments().first().toBool();
}

bool call(const QDBusConnection &bus, const QString &path, const QString &interface,
          const QString &method, const QVariantList &arguments, QVariantList &reply)
{
    // Ask the bus first. A call to a name nobody holds may wait out its whole limit while the bus
    // tries to start the daemon. And a fresh connection is not safe for other calls at once: Qt 5
    // notes the connection's own name on its bus thread when the bus's welcome signal comes in,
    // while a call to any other service reads that list (a call made in between crashes now and
    // then). A call to the bus itself reads no list, and its reply comes after the signal.
    if (!running(bus))
        return false;
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage answer = bus.call(message, QDBus::Block, kCallWaitMs);
    if (answer.type() != QDBusMessage::ReplyMessage)
        return false;
    reply = answer.arguments();
    return true;
}

} // namespace platform::bluez
