#include "BluetoothBluezRadio.h"
#include "FakeLinks.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QMutex>

#include <gtest/gtest.h>

using Interfaces = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;
Q_DECLARE_METATYPE(Interfaces)
Q_DECLARE_METATYPE(ManagedObjects)

namespace {

const QString kAdapter = QStringLiteral("org.bluez.Adapter1");

// The Bluetooth daemon as the radio sees it on the bus: adapters with their properties, and a
// Discoverable switch that reads back only after some reads (or never).
class FakeBluez : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override { return QString(); }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QMutexLocker locker(&lock);
        const QString method = message.member();
        if (method == QLatin1String("GetManagedObjects") && message.path() == QLatin1String("/")) {
            ManagedObjects objects;
            for (auto it = adapters.cbegin(); it != adapters.cend(); ++it)
                objects.insert(QDBusObjectPath(it.key()), Interfaces{{kAdapter, it.value()}});
            // Not every object of the daemon is an adapter.
            objects.insert(QDBusObjectPath(QStringLiteral("/org/bluez")),
                           Interfaces{{QStringLiteral("org.bluez.AgentManager1"), QVariantMap()}});
            connection.send(message.createReply(QVariant::fromValue(objects)));
            return true;
        }
        if (!adapters.contains(message.path()) || message.arguments().size() < 2)
            return false;
        QVariantMap &properties = adapters[message.path()];
        const QString name = message.arguments().at(1).toString();
        if (method == QLatin1String("Get")) {
            if (pending.contains(message.path()) && --readsUntilApplied <= 0) {
                properties.insert(name, pending.take(message.path()));
            }
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(properties.value(name)))));
            return true;
        }
        if (method == QLatin1String("Set") && message.arguments().size() == 3) {
            ++sets;
            const QVariant value = message.arguments().at(2).value<QDBusVariant>().variant();
            if (readsUntilApplied == 0)
                properties.insert(name, value);
            else if (readsUntilApplied > 0)
                pending.insert(message.path(), value);
            // A negative count: the daemon accepts the change and never makes it.
            connection.send(message.createReply());
            return true;
        }
        return false;
    }

    QMutex lock;
    QMap<QString, QVariantMap> adapters;
    QMap<QString, QVariant> pending;
    int readsUntilApplied = 0;
    int sets = 0;
};

// The radio against the fake daemon on a bus of the test's own.
class BluezRadioTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!FakeBluezBus::available())
            GTEST_SKIP() << "dbus-daemon is not installed (scripts/install-deps.sh installs it)";
        qDBusRegisterMetaType<Interfaces>();
        qDBusRegisterMetaType<ManagedObjects>();
        ASSERT_TRUE(bus.start());
    }

    void addAdapter(const QString &path, const QString &alias, const QString &address, bool discoverable = false)
    {
        QMutexLocker locker(&fake.lock);
        fake.adapters.insert(path, QVariantMap{{QStringLiteral("Alias"), alias},
                                               {QStringLiteral("Name"), QStringLiteral("system-name")},
                                               {QStringLiteral("Address"), address},
                                               {QStringLiteral("Discoverable"), discoverable}});
    }

    bool discoverable(const QString &path)
    {
        QMutexLocker locker(&fake.lock);
        return fake.adapters.value(path).value(QStringLiteral("Discoverable")).toBool();
    }

    FakeBluez fake;
    FakeBluezBus bus{fake};
    const QDBusConnection &client = bus.client;
};

TEST_F(BluezRadioTest, FirstAdapterGivesNameAndAddress)
{
    addAdapter(QStringLiteral("/org/bluez/hci1"), QStringLiteral("second"), QStringLiteral("11:11:11:11:11:11"));
    addAdapter(QStringLiteral("/org/bluez/hci0"), QStringLiteral("OFFICE-PC"), QStringLiteral("00:1a:7d:da:71:13"));
    platform::BluetoothBluezRadio radio(client);
    QString name;
    quint64 number = 0;
    ASSERT_TRUE(radio.info(name, number));
    EXPECT_EQ(name, QStringLiteral("OFFICE-PC"));
    EXPECT_EQ(number, 0x001A7DDA7113ull);
}

TEST_F(BluezRadioTest, AdapterWithoutAliasShowsItsSystemName)
{
    addAdapter(QStringLiteral("/org/bluez/hci0"), QString(), QStringLiteral("00:1A:7D:DA:71:13"));
    platform::BluetoothBluezRadio radio(client);
    QString name;
    quint64 number = 0;
    ASSERT_TRUE(radio.info(name, number));
    EXPECT_EQ(name, QStringLiteral("system-name"));
}

TEST_F(BluezRadioTest, DaemonWithoutAdaptersIsNoRadio)
{
    platform::BluetoothBluezRadio radio(client, 200);
    QString name = QStringLiteral("kept");
    quint64 number = 5;
    EXPECT_FALSE(radio.info(name, number));
    EXPECT_EQ(name, QStringLiteral("kept"));
    EXPECT_EQ(number, 5u);
    EXPECT_FALSE(radio.isDiscoverable());
    EXPECT_FALSE(radio.setDiscoverable(true));
}

TEST_F(BluezRadioTest, DiscoverableWhenAnyAdapterIs)
{
    addAdapter(QStringLiteral("/org/bluez/hci0"), QStringLiteral("a"), QStringLiteral("00:00:00:00:00:01"));
    addAdapter(QStringLiteral("/org/bluez/hci1"), QStringLiteral("b"), QStringLiteral("00:00:00:00:00:02"), true);
    platform::BluetoothBluezRadio radio(client);
    EXPECT_TRUE(radio.isDiscoverable());
}

TEST_F(BluezRadioTest, ChangeReturnsOnceEveryAdapterReportsIt)
{
    addAdapter(QStringLiteral("/org/bluez/hci0"), QStringLiteral("a"), QStringLiteral("00:00:00:00:00:01"));
    addAdapter(QStringLiteral("/org/bluez/hci1"), QStringLiteral("b"), QStringLiteral("00:00:00:00:00:02"));
    fake.readsUntilApplied = 4;
    platform::BluetoothBluezRadio radio(client);
    ASSERT_TRUE(radio.setDiscoverable(true));
    EXPECT_TRUE(discoverable(QStringLiteral("/org/bluez/hci0")));
    EXPECT_TRUE(discoverable(QStringLiteral("/org/bluez/hci1")));
    EXPECT_TRUE(radio.isDiscoverable());
    fake.readsUntilApplied = 0;
    ASSERT_TRUE(radio.setDiscoverable(false));
    EXPECT_FALSE(radio.isDiscoverable());
    EXPECT_EQ(fake.sets, 4);
}

TEST_F(BluezRadioTest, ChangeThatNeverReadsBackFailsWithinTheWait)
{
    addAdapter(QStringLiteral("/org/bluez/hci0"), QStringLiteral("a"), QStringLiteral("00:00:00:00:00:01"));
    fake.readsUntilApplied = -1;
    platform::BluetoothBluezRadio radio(client, 300);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(radio.setDiscoverable(true));
    EXPECT_GE(timer.elapsed(), 300);
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_FALSE(radio.isDiscoverable());
}

} // namespace
