#include "PNetServer.h"
#include "PSerialServer.h"
#include "PStopEvent.h"
#include "TransportSupport.h"
#include "VorelServer.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <ostream>

namespace {

TEST(ServiceController, StartsTheEnabledNetworkLinkOnTheSetPort)
{
    const quint16 port = freeTcpPort();
    ScopedSettings chosen([port](PSettings &s) { s.networkPort = port; });
    VorelServer server;
    EXPECT_EQ(vorelServer, &server);
    EXPECT_FALSE(server.hasRows());
    ASSERT_NE(server.serialServer, nullptr);
    server.startButton();
    EXPECT_TRUE(server.running);
    EXPECT_TRUE(server.netServer->running);
    EXPECT_EQ(server.netServer->serverPort(), port);

    server.stopButton();
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.netServer->running);
    EXPECT_FALSE(server.netServer->isListening());
}

TEST(ServiceController, TheCradleLinkRunsWhenItAloneIsEnabled)
{
    ScopedSettings chosen([](PSettings &s) {
        s.networkEnable = 0;
        s.casioN60Enable = 1;
    });
    VorelServer server;
    EXPECT_FALSE(server.serialServer->running);
    server.startButton();
    EXPECT_TRUE(server.running);
    EXPECT_FALSE(server.netServer->running);
    EXPECT_TRUE(server.serialServer->running);
    server.stopButton();
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.serialServer->running);
    EXPECT_TRUE(server.serialServer->stopEvent->isSet());
}

TEST(ServiceController, TakesThePortSettingAgainAtEachStart)
{
    ScopedSettings first([](PSettings &s) { s.networkPort = 0; });
    VorelServer server;
    const quint16 port = freeTcpPort();
    ScopedSettings second([port](PSettings &s) { s.networkPort = port; });
    server.startButton();
    EXPECT_EQ(server.netServer->port, port);
    EXPECT_TRUE(server.running);
    server.teardown();
    EXPECT_FALSE(server.running);
}

struct SkipRow
{
    const char *name;
    quint8 enable;
    qint32 port;
};

// Rows print as their names in test listings.
void PrintTo(const SkipRow &row, std::ostream *out)
{
    *out << row.name;
}

class ServiceControllerSkips : public ::testing::TestWithParam<SkipRow>
{
};

TEST_P(ServiceControllerSkips, ALinkThatCannotStartAndStaysStopped)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any));
    // 0 stands for the port just taken, -1 for a free one.
    qint32 port = GetParam().port;
    if (port == 0)
        port = taken.serverPort();
    else if (port == -1)
        port = freeTcpPort();
    ScopedSettings chosen([&](PSettings &s) {
        s.networkEnable = GetParam().enable;
        s.networkPort = port;
    });
    VorelServer server;
    server.startButton();
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.netServer->running);
    // A later stop finds nothing to stop.
    server.stopButton();
    EXPECT_FALSE(server.running);
}

INSTANTIATE_TEST_SUITE_P(Settings, ServiceControllerSkips,
                         ::testing::Values(SkipRow{"PortInUse", 1, 0},
                                           SkipRow{"NetworkDisabled", 0, -1},
                                           SkipRow{"PortOutOfRange", 1, 70000}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
