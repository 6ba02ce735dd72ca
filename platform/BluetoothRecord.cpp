#include "BluetoothRecord.h"

#include "BluetoothBus.h"

#include <QDBusObjectPath>
#include <QVariantMap>

namespace platform {

const QString BluetoothRecord::kServiceUuid = QStringLiteral("8b080bbe-b5c7-44e2-b7b1-4ffb8074eb74");
const QString BluetoothRecord::kProfilePath = QStringLiteral("/org/vorel/terminal_link");

namespace {
const QString kManagerInterface = QStringLiteral("org.bluez.ProfileManager1");
const QString kManagerPath = QStringLiteral("/org/bluez");
} // namespace

BluetoothRecord::BluetoothRecord()
    : onSystemBus(true)
{
}

BluetoothRecord::BluetoothRecord(const QDBusConnection &bus)
    : bus(bus), onSystemBus(false)
{
}

QDBusConnection BluetoothRecord::connection() const
{
    return onSystemBus ? QDBusConnection::systemBus() : bus;
}

BluetoothRecord::~BluetoothRecord()
{
    withdraw();
}

QString BluetoothRecord::xml(quint8 channel)
{
    // Serial Port 0x1101, L2CAP 0x0100, RFCOMM 0x0003; the name and the comment at the primary
    // language's offsets 0x0100 and 0x0101.
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
                          "<record>\n"
                          "  <attribute id=\"0x0001\">\n"
                          "    <sequence>\n"
                          "      <uuid value=\"0x1101\" />\n"
                          "    </sequence>\n"
                          "  </attribute>\n"
                          "  <attribute id=\"0x0004\">\n"
                          "    <sequence>\n"
                          "      <sequence>\n"
                          "        <uuid value=\"0x0100\" />\n"
                          "      </sequence>\n"
                          "      <sequence>\n"
                          "        <uuid value=\"0x0003\" />\n"
                          "        <uint8 value=\"0x%1\" />\n"
                          "      </sequence>\n"
                          "    </sequence>\n"
                          "  </attribute>\n"
                          "  <attribute id=\"0x0100\">\n"
                          "    <text value=\"Terminal to vorel server data...\" />\n"
                          "  </attribute>\n"
                          "  <attribute id=\"0x0101\">\n"
                          "    <text value=\"VorelServer BT\" />\n"
                          "  </attribute>\n"
                          "</record>\n")
        .arg(uint(channel), 2, 16, QLatin1Char('0'));
}

bool BluetoothRecord::publish(quint8 channel)
{
    withdraw();
    const QDBusConnection daemonBus = connection();
    // Server role only, and no channel: the daemon publishes the record and listens on nothing.
    const QVariantMap options{{QStringLiteral("ServiceRecord"), xml(channel)},
                              {QStringLiteral("Role"), QStringLiteral("server")}};
    QVariantList reply;
    published = bluez::call(daemonBus, kManagerPath, kManagerInterface, QStringLiteral("RegisterProfile"),
                            {QVariant::fromValue(QDBusObjectPath(kProfilePath)), kServiceUuid, options}, reply);
    return published;
}

void BluetoothRecord::withdraw()
{
    if (!published)
        return;
    published = false;
    QVariantList reply;
    bluez::call(connection(), kManagerPath, kManagerInterface, QStringLiteral("UnregisterProfile"),
                {QVariant::fromValue(QDBusObjectPath(kProfilePath))}, reply);
}

} // namespace platform
