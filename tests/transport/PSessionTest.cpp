#include "PDebugLog.h"
#include "PNetServer.h"
#include "PSession.h"
#include "TempDir.h"
#include "TestSeams.h"
#include "TransportSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
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
        if (!waitFor([this]() { return session->isFinished(); }, timeoutMs))
            return false;
        // The thread has ended: every signal it sent is queued by now; deliver them all.
        QCoreApplication::sendPostedEvents();
        return row.messages.contains(QStringLiteral("Stopping port"));
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
    EXPECT_LT(timer.elapsed(), 4000);
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

TEST(SessionCap, EightDescriptorsASessionBeyondTheReserve)
{
    EXPECT_EQ(PSession::sessionCap(40), 1) << "a small limit still serves one terminal";
    EXPECT_EQ(PSession::sessionCap(1024), 124);
    EXPECT_EQ(PSession::sessionCap(4096), 508);
    EXPECT_EQ(PSession::sessionCap(20000), 2496);
    EXPECT_EQ(PSession::sessionCap(524288), 65532);
    EXPECT_EQ(PSession::sessionCap(qint64(1) << 40), INT_MAX) << "no overflow past INT_MAX";
}

TEST_F(SessionTest, IdleSessionHoldsItsSocketAndOneDuplicateOnly)
{
    int accepted = -1;
    int peerFd = -1;
    ASSERT_TRUE(makeTcpPair(peerFd, accepted));
    peer.adopt(peerFd);
    const int before = openDescriptorCount();
    startSession(ConnectionType::Network, QStringLiteral("Network"), accepted);
    EXPECT_EQ(peer.call(Request("CONNECT")), "OK");
    // No wake-up descriptor for the thread: a session started when none is left still runs.
    EXPECT_EQ(openDescriptorCount(), before + 1);
}

TEST_F(SessionTest, EndSessionAsksLongWorkToStop)
{
    startSession(ConnectionType::Network, QStringLiteral("Network"));
    const PProgressSink &sink = *session;
    EXPECT_FALSE(sink.stopRequested());
    session->endSession();
    EXPECT_TRUE(sink.stopRequested());
    ASSERT_TRUE(finishes());
}

namespace {

// A program that runs until the test lets it end, and pays no heed to the session's stop: work
// of that kind keeps its session past any deadline.
std::atomic<bool> programMayEnd{false};

bool stubbornProgram(const QString &, const QString &, bool, qint32 &exitCode)
{
    while (!programMayEnd.load())
        QThread::msleep(5);
    exitCode = 0;
    return true;
}

} // namespace

TEST_F(SessionTest, EndAllGivesUpAtTheDeadlineAndLeavesARunningSessionAlone)
{
    programMayEnd = false;
    const platform::ProgramRunner before = platform::setProgramRunnerForTesting(stubbornProgram);
    int accepted = -1;
    int peerFd = -1;
    ASSERT_TRUE(makeTcpPair(peerFd, accepted));
    peer.adopt(peerFd);
    auto *stuck = new PSession(accepted, &row, nullptr);
    QPointer<PSession> watch(stuck);
    stuck->type = ConnectionType::Network;
    stuck->start();
    ASSERT_TRUE(peer.sendPacket(Request("ExecuteCommand").str("program").str("").word(1)));
    QThread::msleep(100);

    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(PSession::endAll({stuck}, true, QDeadlineTimer(300)));
    EXPECT_LT(timer.elapsed(), 4000);
    ASSERT_TRUE(watch) << "a running session is never destroyed";
    EXPECT_TRUE(stuck->isRunning());
    EXPECT_TRUE(stuck->stopRequested());

    // Once the work returns, the session sees its end.
    programMayEnd = true;
    EXPECT_TRUE(PSession::endAll({stuck}, true, QDeadlineTimer(5000)));
    EXPECT_FALSE(watch);
    platform::setProgramRunnerForTesting(before);
}

// The listener in front of the sessions: a terminal it cannot serve is closed at once and its
// row released; the terminals already served go on.
class Admission : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.reset(new PNetServer(nullptr));
        front.netServer = server.get();
        for (int attempt = 0; attempt < 5 && !server->running; ++attempt) {
            server->port = freeTcpPort();
            server->start();
        }
        ASSERT_TRUE(server->running);
    }
    void TearDown() override
    {
        platform::armZeroPagesFaultForTesting(0);
        front.teardown();
        server.reset();
    }

    bool refusedAtOnce()
    {
        bool closed = false;
        EXPECT_TRUE(runBeside([&]() {
            Client late;
            closed = late.connectTo(quint16(server->port)) && late.closedWithoutReply();
        }));
        // Every row made is removed again, but those of the sessions still served.
        return closed && waitFor([&]() { return front.removed.size() == front.added.size() - served; });
    }

    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 5; }};
    int served = 0;
    TestFrontEnd front{TestFrontEnd::Rows::Made};
    std::unique_ptr<PNetServer> server;
};

TEST_F(Admission, ASessionWithoutItsBuffersIsRefused)
{
    platform::armZeroPagesFaultForTesting(1);
    EXPECT_TRUE(refusedAtOnce());
    EXPECT_TRUE(server->findChildren<PSession *>().isEmpty());
}

TEST_F(Admission, PastTheSessionCapTheNextTerminalIsRefusedUntilOneLeaves)
{
    struct OneSession
    {
        OneSession() { platform::setSessionCapForTesting(1); }
        ~OneSession() { platform::setSessionCapForTesting(0); }
    } cap;
    const quint16 port = quint16(server->port);
    Client first;
    ASSERT_TRUE(runBeside([&]() { first.connectTo(port) && first.call(Request("CONNECT")) == "OK"; }));
    ASSERT_EQ(PSession::liveSessions(), 1);
    served = 1;
    EXPECT_TRUE(refusedAtOnce());
    bool stillServed = false;
    ASSERT_TRUE(runBeside([&]() { stillServed = first.call(Request("CONNECT")) == "OK"; }));
    EXPECT_TRUE(stillServed);

    first.close();
    served = 0;
    ASSERT_TRUE(waitFor([&]() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return PSession::liveSessions() == 0;
    }));
    bool served = false;
    ASSERT_TRUE(runBeside([&]() {
        Client next;
        served = next.connectTo(port) && next.call(Request("CONNECT")) == "OK";
    }));
    EXPECT_TRUE(served);
}

} // namespace
