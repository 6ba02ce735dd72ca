#include "Bluetooth.h"
#include "BluetoothBluezRadio.h"
#include "BluetoothRecord.h"
#include "FakeLinks.h"

#include <QBluetoothUuid>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct AddressRow
{
    const char *name;
    quint64 address;
    const char *text;
};

// Rows print as their names in test listings.
void PrintTo(const AddressRow &row, std::ostream *out)
{
    *out << row.name;
}

class BtPeerName : public ::testing::TestWithParam<AddressRow>
{
};

TEST_P(BtPeerName, ShowsSixUpperCasePairsMostSignificantFirst)
{
    FakeBluetoothStack stack;
    stack.peer = GetParam().address;
    QString text;
    ASSERT_TRUE(btPeerName(-1, text));
    EXPECT_EQ(text, QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Addresses, BtPeerName,
                         ::testing::Values(AddressRow{"Ordinary", 0x0011223344AAull, "00:11:22:33:44:AA"},
                                           AddressRow{"Zero", 0, "00:00:00:00:00:00"},
                                           AddressRow{"AllOnes", 0xFFFFFFFFFFFFull, "FF:FF:FF:FF:FF:FF"},
                                           AddressRow{"BitsAbove48AreNoPart", 0xAB00000000000001ull,
                                                      "00:00:00:00:00:01"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BtPeerNameUnknown, LeavesTheTextAlone)
{
    FakeBluetoothStack stack;
    stack.knowsPeer = false;
    QString text = QStringLiteral("kept");
    EXPECT_FALSE(btPeerName(-1, text));
    EXPECT_EQ(text, QStringLiteral("kept"));
}

TEST(BtUnregister, ClosesOnlyASocketStillOwnedAndTakesTheRecordBack)
{
    FakeBluetoothStack stack;
    QByteArray name;
    qintptr socket = listenLocal(name);
    ASSERT_GE(socket, 0);
    const int number = int(socket);
    EXPECT_TRUE(btUnregister(socket));
    EXPECT_EQ(socket, -1);
    EXPECT_FALSE(isOpen(number));
    EXPECT_EQ(stack.withdrawals, 1);
    // A socket already given to Qt is passed as -1 and nothing is closed.
    EXPECT_TRUE(btUnregister(socket));
    EXPECT_EQ(socket, -1);
    EXPECT_EQ(stack.withdrawals, 2);
}

TEST(BtRadio, InfoGivesTheNameAndTheAddressText)
{
    FakeRadio radio;
    QString name, address;
    ASSERT_TRUE(btRadioInfo(name, address));
    EXPECT_EQ(name, QStringLiteral("OFFICE-PC"));
    EXPECT_EQ(address, QStringLiteral("00:1A:7D:DA:71:13"));

    radio.present = false;
    name = QStringLiteral("n");
    address = QStringLiteral("a");
    EXPECT_FALSE(btRadioInfo(name, address));
    EXPECT_EQ(name, QStringLiteral("n"));
    EXPECT_EQ(address, QStringLiteral("a"));
}

// The system's radio access without a bus (or daemon, or adapter) reads as no radio.
TEST(BtRadio, DisconnectedBusIsNoRadio)
{
    platform::BluetoothBluezRadio radio(QDBusConnection(QStringLiteral("vorel-no-such-bus")), 100);
    QString name;
    quint64 address = 7;
    EXPECT_FALSE(radio.info(name, address));
    EXPECT_EQ(address, 7u);
    EXPECT_FALSE(radio.isDiscoverable());
    EXPECT_FALSE(radio.setDiscoverable(true));
}

// The daemon's profile manager as a publisher meets it: it keeps what it is given, or refuses.
class FakeProfileManager : public QDBusVirtualObject
{
public:
    struct Registration
    {
        QString path;
        QString uuid;
        QVariantMap options;
    };

    QString introspect(const QString &) const override { return QString(); }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QMutexLocker locker(&lock);
        if (message.path() != QLatin1String("/org/bluez")
            || message.interface() != QLatin1String("org.bluez.ProfileManager1"))
            return false;
        const QVariantList arguments = message.arguments();
        if (refuse) {
            connection.send(message.createErrorReply(QStringLiteral("org.bluez.Error.NotPermitted"),
                                                     QStringLiteral("refused")));
            return true;
        }
        if (message.member() == QLatin1String("RegisterProfile") && arguments.size() == 3) {
            registered.append({arguments.at(0).value<QDBusObjectPath>().path(), arguments.at(1).toString(),
                               qdbus_cast<QVariantMap>(arguments.at(2))});
        } else if (message.member() == QLatin1String("UnregisterProfile") && arguments.size() == 1) {
            unregistered.append(arguments.at(0).value<QDBusObjectPath>().path());
        } else {
            return false;
        }
        connection.send(message.createReply());
        return true;
    }

    QMutex lock;
    bool refuse = false;
    QList<Registration> registered;
    QStringList unregistered;
};

// The record's attributes by id, each as the elements of its value in order: an element with a
// value as "name value", the end of a sequence as "/sequence". Empty when the XML is broken.
QMap<QString, QStringList> recordAttributes(const QString &xml)
{
    QMap<QString, QStringList> attributes;
    QXmlStreamReader reader(xml);
    QString id;
    while (!reader.atEnd()) {
        reader.readNext();
        const QString name = reader.name().toString();
        if (reader.isStartElement() && name == QLatin1String("attribute")) {
            id = reader.attributes().value(QLatin1String("id")).toString();
            attributes[id];
        } else if (reader.isStartElement() && name != QLatin1String("record")) {
            const QString value = reader.attributes().value(QLatin1String("value")).toString();
            attributes[id].append(value.isEmpty() ? name : name + QLatin1Char(' ') + value);
        } else if (reader.isEndElement() && name == QLatin1String("sequence")) {
            attributes[id].append(QStringLiteral("/sequence"));
        }
    }
    if (reader.hasError())
        return {};
    return attributes;
}

// The record published through the stand-in daemon on a bus of the test's own.
class BluezRecordTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!FakeBluezBus::available())
            GTEST_SKIP() << "dbus-daemon is not installed (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(bus.start());
    }

    QList<FakeProfileManager::Registration> registered()
    {
        QMutexLocker locker(&daemon.lock);
        return daemon.registered;
    }

    QStringList unregistered()
    {
        QMutexLocker locker(&daemon.lock);
        return daemon.unregistered;
    }

    FakeProfileManager daemon;
    FakeBluezBus bus{daemon};
};

TEST_F(BluezRecordTest, SerialPortClassUnderAnIdentifierOfOurOwnAndNothingMore)
{
    platform::BluetoothRecord record(bus.client);
    ASSERT_TRUE(record.publish(17));
    EXPECT_TRUE(record.isPublished());
    const QList<FakeProfileManager::Registration> made = registered();
    ASSERT_EQ(made.size(), 1);
    const FakeProfileManager::Registration &profile = made.first();
    EXPECT_EQ(profile.path, platform::BluetoothRecord::kProfilePath);
    // The daemon would take the Serial Port class's identifier for its own profile.
    EXPECT_EQ(QBluetoothUuid(profile.uuid), QBluetoothUuid(platform::BluetoothRecord::kServiceUuid));
    EXPECT_NE(QBluetoothUuid(profile.uuid), QBluetoothUuid(QBluetoothUuid::SerialPort));
    EXPECT_EQ(QBluetoothUuid(profile.uuid).minimumSize(), 16) << "a Bluetooth base identifier is not ours";
    // No channel of the daemon's own: it publishes and listens on nothing.
    EXPECT_EQ(profile.options.keys(), (QStringList{QStringLiteral("Role"), QStringLiteral("ServiceRecord")}));
    EXPECT_EQ(profile.options.value(QStringLiteral("Role")).toString(), QStringLiteral("server"));

    const QMap<QString, QStringList> attributes =
        recordAttributes(profile.options.value(QStringLiteral("ServiceRecord")).toString());
    EXPECT_EQ(attributes.keys(), (QStringList{QStringLiteral("0x0001"), QStringLiteral("0x0004"),
                                              QStringLiteral("0x0100"), QStringLiteral("0x0101")}));
    EXPECT_EQ(attributes.value(QStringLiteral("0x0001")),
              (QStringList{QStringLiteral("sequence"), QStringLiteral("uuid 0x1101"), QStringLiteral("/sequence")}));
    EXPECT_EQ(attributes.value(QStringLiteral("0x0004")),
              (QStringList{QStringLiteral("sequence"), QStringLiteral("sequence"), QStringLiteral("uuid 0x0100"),
                           QStringLiteral("/sequence"), QStringLiteral("sequence"), QStringLiteral("uuid 0x0003"),
                           QStringLiteral("uint8 0x11"), QStringLiteral("/sequence"), QStringLiteral("/sequence")}));
    EXPECT_EQ(attributes.value(QStringLiteral("0x0100")),
              QStringList{QStringLiteral("text Terminal to vorel server data...")});
    EXPECT_EQ(attributes.value(QStringLiteral("0x0101")), QStringList{QStringLiteral("text VorelServer BT")});
}

TEST_F(BluezRecordTest, NewChannelReplacesTheRecordAndWithdrawTakesItBack)
{
    {
        platform::BluetoothRecord record(bus.client);
        ASSERT_TRUE(record.publish(3));
        ASSERT_TRUE(record.publish(30));
        EXPECT_EQ(unregistered(), QStringList{platform::BluetoothRecord::kProfilePath});
        record.withdraw();
        EXPECT_FALSE(record.isPublished());
        EXPECT_EQ(unregistered().size(), 2);
        record.withdraw();
        EXPECT_EQ(unregistered().size(), 2) << "nothing published, nothing to take back";
        ASSERT_TRUE(record.publish(4));
    }
    EXPECT_EQ(unregistered().size(), 3) << "the record goes with its owner";
    const QList<FakeProfileManager::Registration> made = registered();
    ASSERT_EQ(made.size(), 3);
    EXPECT_TRUE(made.at(1).options.value(QStringLiteral("ServiceRecord")).toString().contains(
        QLatin1String("<uint8 value=\"0x1e\" />")));
}

TEST_F(BluezRecordTest, RefusedRegistrationLeavesNothingPublished)
{
    {
        QMutexLocker locker(&daemon.lock);
        daemon.refuse = true;
    }
    platform::BluetoothRecord record(bus.client);
    EXPECT_FALSE(record.publish(17));
    EXPECT_FALSE(record.isPublished());
}

TEST(BluezRecord, BusWithoutTheDaemonPublishesNothing)
{
    platform::BluetoothRecord record(QDBusConnection(QStringLiteral("vorel-no-such-bus")));
    EXPECT_FALSE(record.publish(17));
    EXPECT_FALSE(record.isPublished());
}

} // namespace
