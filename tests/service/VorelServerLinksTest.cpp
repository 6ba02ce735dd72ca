#include "FakeLinks.h"
#include "PBtServer.h"
#include "PIrdaServer.h"
#include "PNetServer.h"
#include "PSerialServer.h"
#include "TransportSupport.h"
#include "VorelServer.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <ostream>

namespace {

// An IrDA layer on which no listener can be had, in either mode.
class RefusingIrda : public platform::IrdaStack
{
public:
    RefusingIrda() : previous(platform::setIrdaStack(this)) {}
    ~RefusingIrda() override { platform::setIrdaStack(previous); }

    bool listen(qintptr &socket, bool) override
    {
        socket = -1;
        return false;
    }
    bool deviceList(qintptr, QByteArray &) override { return false; }

private:
    platform::IrdaStack *previous;
};

TEST(ServiceControllerLinks, OwnsTheBluetoothAndBothIrdaListeners)
{
    VorelServer server;
    ASSERT_NE(server.btServer, nullptr);
    ASSERT_NE(server.irdaServer, nullptr);
    ASSERT_NE(server.ircommServer, nullptr);
    EXPECT_EQ(server.btServer->parent(), &server);
    EXPECT_FALSE(server.irdaServer->ircomm);
    EXPECT_TRUE(server.ircommServer->ircomm);
    EXPECT_FALSE(server.btServer->running || server.irdaServer->running || server.ircommServer->running);
}

TEST(ServiceControllerLinks, NetworkPortInUseLeavesTheWirelessLinksRunning)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any));
    ScopedSettings chosen([&](PSettings &s) {
        s.networkPort = taken.serverPort();
        s.bluetoothEnable = 1;
        s.irdaNormalEnable = 1;
        s.irdaIrcommEnable = 1;
    });
    FakeBluetoothStack bluetooth;
    FakeIrdaStack irda;
    VorelServer server;
    server.startButton();
    EXPECT_TRUE(server.running);
    EXPECT_FALSE(server.netServer->running);
    EXPECT_TRUE(server.btServer->running);
    EXPECT_TRUE(server.irdaServer->running);
    EXPECT_TRUE(server.ircommServer->running);
    // Normal mode first, then IrCOMM.
    EXPECT_EQ(irda.listens, (QList<bool>{false, true}));
    EXPECT_EQ(bluetooth.registrations, 1);

    server.stopButton();
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.btServer->running || server.irdaServer->running || server.ircommServer->running);
    EXPECT_FALSE(server.btServer->isListening() || server.irdaServer->isListening()
                 || server.ircommServer->isListening());
    EXPECT_EQ(bluetooth.withdrawals, 1);
}

TEST(ServiceControllerLinks, OnlyTheEnabledLinksStart)
{
    ScopedSettings chosen([](PSettings &s) {
        s.networkEnable = 0;
        s.irdaIrcommEnable = 1;
    });
    FakeBluetoothStack bluetooth;
    FakeIrdaStack irda;
    VorelServer server;
    server.startButton();
    EXPECT_TRUE(server.running);
    EXPECT_FALSE(server.btServer->running);
    EXPECT_FALSE(server.irdaServer->running);
    EXPECT_TRUE(server.ircommServer->running);
    EXPECT_EQ(bluetooth.registrations, 0);
    server.teardown();
    EXPECT_FALSE(server.ircommServer->running);
}

// On this machine's own layers: no Bluetooth in the kernel, no IrDA since Linux 4.17.
TEST(ServiceControllerLinks, SystemWithoutWirelessLinksStartsNothing)
{
    ScopedSettings chosen([](PSettings &s) {
        s.networkEnable = 0;
        s.bluetoothEnable = 1;
        s.irdaNormalEnable = 1;
        s.irdaIrcommEnable = 1;
    });
    // Counted once the controller exists: its cradle poller holds a stop event of its own.
    VorelServer server;
    const int before = openDescriptorCount();
    server.startButton();
    if (server.btServer->running)
        GTEST_SKIP() << "this machine has a Bluetooth radio and daemon";
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.irdaServer->running);
    EXPECT_FALSE(server.ircommServer->running);
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(ServiceControllerLinks, EachLinkThatCannotStartIsReportedOnceInTheLinksOrder)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any));
    const int port = taken.serverPort();
    ScopedSettings chosen([&](PSettings &s) {
        s.networkPort = port;
        s.bluetoothEnable = 1;
        s.irdaNormalEnable = 1;
        s.irdaIrcommEnable = 1;
        s.casioN60Enable = 1;
    });
    FakeBluetoothStack bluetooth;
    bluetooth.noRadio = true;
    RefusingIrda irda;
    VorelServer server;
    QStringList lines;
    server.report = [&lines](const QString &text) { lines.append(text); };
    server.startButton();
    EXPECT_EQ(lines, QStringList({QStringLiteral("Unable to start the network server on port %1").arg(port),
                                  QStringLiteral("Unable to start the bluetooth server"),
                                  QStringLiteral("Unable to start the irda server"),
                                  QStringLiteral("Unable to start the irda ircomm server")}));
    // The cradle poller always starts, and keeps the service running.
    EXPECT_TRUE(server.running);
    EXPECT_TRUE(server.serialServer->running);

    // Without a listener for the report the failures are only skipped.
    server.stopButton();
    server.report = nullptr;
    server.startButton();
    EXPECT_EQ(lines.size(), 4);
    EXPECT_TRUE(server.serialServer->running);
    server.stopButton();
}

// One link of the table, with its own flag read straight from its object.
struct TableRow
{
    const char *name;
    quint8 PSettings::*enable;
    bool (*ownFlag)(const VorelServer &);
};

void PrintTo(const TableRow &row, std::ostream *out)
{
    *out << row.name;
}

const TableRow kTableRows[] = {
    {"Network", &PSettings::networkEnable, [](const VorelServer &s) { return s.netServer->running; }},
    {"Bluetooth", &PSettings::bluetoothEnable,
     [](const VorelServer &s) { return s.btServer->running; }},
    {"IrdaNormal", &PSettings::irdaNormalEnable,
     [](const VorelServer &s) { return s.irdaServer->running; }},
    {"IrdaIrcomm", &PSettings::irdaIrcommEnable,
     [](const VorelServer &s) { return s.ircommServer->running; }},
    {"Serial", &PSettings::casioN60Enable, [](const VorelServer &s) { return s.serialServer->running; }},
};

class ServiceControllerLinkTable : public ::testing::TestWithParam<TableRow>
{
};

TEST_P(ServiceControllerLinkTable, EachSwitchStartsOnlyItsOwnLinkAndStopEndsIt)
{
    const TableRow &wanted = GetParam();
    const quint16 port = freeTcpPort();
    ScopedSettings chosen([&](PSettings &s) {
        for (const TableRow &row : kTableRows)
            s.*row.enable = 0;
        s.*wanted.enable = 1;
        s.networkPort = port;
    });
    FakeBluetoothStack bluetooth;
    FakeIrdaStack irda;
    VorelServer server;
    QStringList lines;
    server.report = [&lines](const QString &text) { lines.append(text); };
    server.startButton();
    EXPECT_TRUE(lines.isEmpty()) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(server.running);
    for (const TableRow &row : kTableRows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.ownFlag(server), row.enable == wanted.enable);
    }
    if (wanted.enable == &PSettings::networkEnable) {
        EXPECT_EQ(server.netServer->serverPort(), port);
    }

    server.stopButton();
    EXPECT_FALSE(server.running);
    for (const TableRow &row : kTableRows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(row.ownFlag(server));
    }
}

INSTANTIATE_TEST_SUITE_P(Links, ServiceControllerLinkTable, ::testing::ValuesIn(kTableRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
