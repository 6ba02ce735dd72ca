#include "FakeLinks.h"
#include "PBtServer.h"
#include "PIrdaServer.h"
#include "PNetServer.h"
#include "TransportSupport.h"
#include "VorelServer.h"

#include <QTcpServer>

#include <gtest/gtest.h>

namespace {

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

} // namespace
