#include "PDebugLog.h"
#include "PSession.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// One session over a loopback connection, with a row, and the debug log in a fresh folder.
class SessionTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(debugLog.start()); }
    void TearDown() override
    {
        if (session) {
            session->endSession();
            session->wait();
        }
        debugLog.stop();
    }

    void startSession(ConnectionType type, const QString &name, qintptr descriptor = -2)
    {
        if (descriptor == -2) {
            int accepted = -1;
            int peerFd = -1;
            ASSERT_TRUE(makeTcpPair(peerFd, accepted));
            peer.adopt(peerFd);
            descriptor = accepted;
        }
        session.reset(new PSession(descriptor, &row, nullptr));
        ASSERT_TRUE(session->isReady());
        session->type = type;
        session->name = name;
        session->start();
    }

    bool finishes(int timeoutMs = 5000)
    {
        return waitFor([this]() { return session->isFinished(); }, timeoutMs)
            && waitFor([this]() { return row.messages.contains(QStringLiteral("Stopping port")); }, 1000);
    }

    QStringList log() const { return logEntries(dir.file(QStringLiteral("VorelServer_debug.txt"))); }

    TempDir dir{true};
    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 5; }};
    TestRow row;
    Client peer;
    std::unique_ptr<PSession> session;
};

TEST(SessionSignals, CommandLayerProgressBecomesTheSignals)
{
    PSession session(-1, nullptr, nullptr);
    PProgressSink *sink = &session;
    QSignalSpy indicator(&session, &PSession::setIndicator);
    QSignalSpy message(&session, &PSession::setMessage);
    QSignalSpy type(&session, &PSession::setType);
    sink->setIndicator(42);
    sink->setMessage(QStringLiteral("Converting"));
    sink->setType(QStringLiteral("Network"));
    ASSERT_EQ(indicator.count(), 1);
    EXPECT_EQ(indicator.at(0).at(0).toInt(), 42);
    ASSERT_EQ(message.count(), 1);
    EXPECT_EQ(message.at(0).at(0).toString(), QStringLiteral("Converting"));
    ASSERT_EQ(type.count(), 1);
    EXPECT_EQ(type.at(0).at(0).toString(), QStringLiteral("Network"));
}

TEST_F(SessionTest, NetworkSessionLogsItsPeerWhileTheRowKeepsTheName)
{
    startSession(ConnectionType::Network, QStringLiteral("Network"));
    EXPECT_EQ(peer.call(Request("CONNECT")), "OK");
    peer.close();
    ASSERT_TRUE(finishes());

    EXPECT_EQ(row.types, QStringList{QStringLiteral("Network")});
    EXPECT_EQ(row.messages, (QStringList{QStringLiteral("Connection is established"),
                                         QStringLiteral("Stopping port")}));
    EXPECT_EQ(row.indicators, (QList<int>{0, 0}));
    const QStringList entries = log();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0], QStringLiteral("Session opened. Mode: Network (127.0.0.1)"));
    EXPECT_EQ(entries[1], QStringLiteral("CONNECT request: OK"));
    EXPECT_EQ(entries[2], QStringLiteral("Session closed. Mode: Network (127.0.0.1)"));
}

TEST_F(SessionTest, BluetoothTerminalInHexTextMarksItsRowOnce)
{
    startSession(ConnectionType::Bluetooth, QStringLiteral("Bluetooth (00:11:22:33:44:55)"));
    const QByteArray connect = QByteArray("CONNECT", 8).toHex().toUpper();
    QByteArray reply;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(peer.sendRaw("00000008" + connect));
        ASSERT_TRUE(peer.readExact(12, reply));
        EXPECT_EQ(reply, "000000024F4B");
    }
    peer.close();
    ASSERT_TRUE(finishes());
    EXPECT_EQ(row.types, (QStringList{QStringLiteral("Bluetooth (00:11:22:33:44:55)"),
                                      QStringLiteral("Bluetooth (00:11:22:33:44:55) [DT-930 mode]")}));
    // Only Network sessions add the peer address.
    EXPECT_EQ(log().first(), QStringLiteral("Session opened. Mode: Bluetooth (00:11:22:33:44:55)"));
}

TEST_F(SessionTest, BinaryBluetoothTerminalKeepsItsRowType)
{
    startSession(ConnectionType::Bluetooth, QStringLiteral("Bluetooth"));
    EXPECT_EQ(peer.call(Request("CONNECT")), "OK");
    peer.close();
    ASSERT_TRUE(finishes());
    EXPECT_EQ(row.types, QStringList{QStringLiteral("Bluetooth")});
}

TEST_F(SessionTest, LinkThatCannotBeTakenOverEndsWithoutTrace)
{
    // Beyond any descriptor limit: no other thread can be given this number meanwhile.
    const int fd = 1 << 30;
    startSession(ConnectionType::Network, QStringLiteral("Network"), fd);
    ASSERT_TRUE(waitFor([this]() { return session->isFinished(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(log().isEmpty());
    EXPECT_EQ(row.types, QStringList{QStringLiteral("Network")});
    EXPECT_TRUE(row.messages.isEmpty());
}

TEST_F(SessionTest, EndSessionWakesAWaitWithoutTimeLimit)
{
    ScopedSettings noLimit([](PSettings &s) { s.networkTimeout = -1; });
    startSession(ConnectionType::Network, QStringLiteral("Network"));
    EXPECT_EQ(peer.call(Request("CONNECT")), "OK");
    QElapsedTimer timer;
    timer.start();
    session->endSession();
    ASSERT_TRUE(finishes());
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_TRUE(peer.closedWithoutReply());
    EXPECT_EQ(log().last(), QStringLiteral("Session closed. Mode: Network (127.0.0.1)"));
}

TEST_F(SessionTest, EndAskedBeforeTheLinkOpensEndsRightAfter)
{
    ScopedSettings noLimit([](PSettings &s) { s.networkTimeout = -1; });
    int accepted = -1;
    int peerFd = -1;
    ASSERT_TRUE(makeTcpPair(peerFd, accepted));
    peer.adopt(peerFd);
    session.reset(new PSession(accepted, &row, nullptr));
    session->type = ConnectionType::Network;
    session->name = QStringLiteral("Network");
    session->endSession();
    session->start();
    ASSERT_TRUE(finishes());
    EXPECT_TRUE(peer.closedWithoutReply());
    EXPECT_EQ(log().size(), 2);
}

} // namespace
