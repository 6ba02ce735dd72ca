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
    if (!bus.isConnected())
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
