#include "Bluetooth.h"
#include "BluetoothBluezRadio.h"
#include "BluetoothRecord.h"
#include "FakeLinks.h"

#include <QBluetoothUuid>
#include <QDBusConnection>

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

TEST(SerialPortRecord, AnnouncesTheChannelAsASerialPort)
{
    const QBluetoothServiceInfo record = platform::serialPortRecord(17);
    EXPECT_EQ(record.serverChannel(), 17);
    EXPECT_EQ(record.socketProtocol(), QBluetoothServiceInfo::RfcommProtocol);
    EXPECT_EQ(record.serviceName(), QStringLiteral("Terminal to vorel server data..."));
    EXPECT_EQ(record.serviceDescription(), QStringLiteral("VorelServer BT"));
    EXPECT_EQ(record.serviceClassUuids(), QList<QBluetoothUuid>{QBluetoothUuid(QBluetoothUuid::SerialPort)});
    EXPECT_EQ(record.attribute(QBluetoothServiceInfo::BrowseGroupList).value<QBluetoothUuid>(),
              QBluetoothUuid(QBluetoothUuid::PublicBrowseGroup));
    EXPECT_FALSE(record.protocolDescriptor(QBluetoothUuid::L2cap).isEmpty());
    EXPECT_FALSE(record.isRegistered());
}

} // namespace
