#include "PDebugLog.h"
#include "PNetServer.h"
#include "PSession.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <climits>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Watches every session a listener makes: how many there were, and whether each object was
// destroyed only after its thread had finished.
struct SessionTracker
{
    std::atomic<int> created{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> destroyedEarly{0};
    QSet<PSession *> known;

    void watch(PSession *session)
    {
        if (!session || known.contains(session))
            return;
        known.insert(session);
        ++created;
        auto finished = std::make_shared<std::atomic<bool>>(false);
        // Direct: the flag is set on the session thread, before anything can delete the object.
        QObject::connect(session, &QThread::finished, [finished]() { *finished = true; });
        if (session->isFinished())
            *finished = true;
        QObject::connect(session, &QObject::destroyed, [this, finished, session]() {
            known.remove(session);
            ++destroyed;
            if (!*finished)
                ++destroyedEarly;
        });
    }
};

class TrackedNetServer : public PNetServer
{
public:
    TrackedNetServer(SessionTracker &tracker) : PNetServer(nullptr), tracker(tracker) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        PNetServer::incomingConnection(descriptor);
        // Still on the main thread, so the new session cannot have been deleted yet.
        const QList<PSession *> sessions = findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly);
        if (!sessions.isEmpty())
            tracker.watch(sessions.last());
    }

private:
    SessionTracker &tracker;
};

class NetServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(debugLog.start());
        server.reset(new TrackedNetServer(tracker));
        front.netServer = server.get();
        // The listener refuses port 0, so take one that was free a moment ago.
        for (int attempt = 0; attempt < 5 && !server->running; ++attempt) {
            server->port = freeTcpPort();
            server->start();
        }
        ASSERT_TRUE(server->running);
        port = quint16(server->port);
    }

    void TearDown() override
    {
        front.teardown();
        EXPECT_FALSE(server->isListening());
        EXPECT_TRUE(server->findChildren<PSession *>().isEmpty());
        EXPECT_EQ(tracker.destroyed.load(), tracker.created.load());
        EXPECT_EQ(tracker.destroyedEarly.load(), 0);
        server.reset();
        debugLog.stop();
    }

    bool sessionsGone(int count)
    {
        return waitFor([&]() { return tracker.destroyed.load() >= count; });
    }

    QStringList log() const { return logEntries(dir.file(QStringLiteral("VorelServer_debug.txt"))); }

    TempDir dir{true};
    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 5; }};
    SessionTracker tracker;
    TestFrontEnd front;
    std::unique_ptr<TrackedNetServer> server;
    quint16 port = 0;
};

TEST_F(NetServerTest, ConnectAndTransmitLengthAreAnswered)
{
    QByteArray connectWire, lengthReply;
    ASSERT_TRUE(runBeside([&]() {
        Client client;
        if (!client.connectTo(port) || !client.sendPacket(Request("CONNECT")))
            return;
        client.readExact(6, connectWire);
        lengthReply = client.call(Request("GetFuture").str(QByteArray("GetTransmitLength")));
    }));
    EXPECT_EQ(connectWire, hex("00000002 4F4B"));
    EXPECT_EQ(lengthReply, hex("00000001 00000007") + "1048576");
    EXPECT_EQ(lengthReply.size(), 15);
}

TEST_F(NetServerTest, FileCommandsWorkOnATemporaryFile)
{
    const QString local = dir.file(QStringLiteral("data.bin"));
    ASSERT_TRUE(writeAll(local, QByteArray()));
    const QByteArray path = terminalPath(local).toLatin1();
    QList<QByteArray> replies;
    ASSERT_TRUE(runBeside([&]() {
        Client client;
        if (!client.connectTo(port))
            return;
        replies << client.call(Request("OpenFile").str(path));
        replies << client.call(Request("WriteFile").word(1).word(5).raw("HELLO"));
        replies << client.call(Request("SeekFile").word(1).word(1));
        replies << client.call(Request("ReadFile").word(1).word(3));
        replies << client.call(Request("CloseFile").word(1));
    }));
    ASSERT_EQ(replies.size(), 5);
    EXPECT_EQ(replies[0], hex("00000001 00000001"));
    EXPECT_EQ(replies[1], hex("00000001 00000005"));
    EXPECT_EQ(replies[2], hex("00000001"));
    EXPECT_EQ(replies[3], hex("00000001 00000003") + "ELL");
    EXPECT_EQ(replies[4], hex("00000001"));
    EXPECT_EQ(readAll(local), "HELLO");
}

TEST_F(NetServerTest, HandlesBelongToTheirSession)
{
    const QString a = dir.file(QStringLiteral("a.txt"));
    const QString b = dir.file(QStringLiteral("b.txt"));
    ASSERT_TRUE(writeAll(a, "a") && writeAll(b, "b"));
    QByteArray first, second, again;
    ASSERT_TRUE(runBeside([&]() {
        Client one, two;
        if (!one.connectTo(port) || !two.connectTo(port))
            return;
        first = one.call(Request("OpenFile").str(terminalPath(a)));
        second = two.call(Request("OpenFile").str(terminalPath(b)));
        again = one.call(Request("OpenFile").str(terminalPath(b)));
    }));
    EXPECT_EQ(first, hex("00000001 00000001"));
    EXPECT_EQ(second, hex("00000001 00000001"));
    EXPECT_EQ(again, hex("00000001 00000002"));
}

struct BadPacket
{
    const char *name;
    QByteArray wire;
};

// Rows print as their names in test listings.
void PrintTo(const BadPacket &row, std::ostream *out)
{
    *out << row.name;
}

class BadRequest : public NetServerTest, public ::testing::WithParamInterface<BadPacket>
{
};

TEST_P(BadRequest, ClosesTheConnectionWithoutReply)
{
    bool connected = false, closed = false;
    ASSERT_TRUE(runBeside([&]() {
        Client client;
        if (!client.connectTo(port))
            return;
        // An earlier request stays in the receive buffer; a bad one must not reuse it.
        connected = client.call(Request("CONNECT")) == "OK";
        closed = client.sendRaw(GetParam().wire) && client.closedWithoutReply();
    }));
    EXPECT_TRUE(connected);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(sessionsGone(1));
}

INSTANTIATE_TEST_SUITE_P(
    Packets, BadRequest,
    ::testing::Values(BadPacket{"UnknownCommand", hex("00000006") + QByteArray("Hello", 6)},
                      BadPacket{"LowerCaseCommand", hex("00000008") + QByteArray("connect", 8)},
                      BadPacket{"LengthOnePastTheLimit", hex("00100001")},
                      BadPacket{"ZeroLengthPacket", hex("00000000")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(NetServerTest, SilentTerminalTimesOutAndItsTemporaryFileGoes)
{
    ScopedSettings quick([](PSettings &s) { s.networkTimeout = 1; });
    const QString temporary = dir.file(QStringLiteral("scratch.tmp"));
    ASSERT_TRUE(writeAll(temporary, "x"));
    QByteArray registered;
    bool closed = false;
    ASSERT_TRUE(runBeside([&]() {
        Client client;
        if (!client.connectTo(port))
            return;
        registered = client.call(Request("SetFuture").str(QByteArray("SetTemporaryFile"))
                                     .str(terminalPath(temporary)));
        closed = client.closedWithoutReply();
    }));
    EXPECT_EQ(registered, hex("00000001"));
    EXPECT_TRUE(closed);
    ASSERT_TRUE(sessionsGone(1));
    EXPECT_FALSE(QFile::exists(temporary));
}

TEST_F(NetServerTest, LogShowsEachSessionOpenedAndClosed)
{
    ASSERT_TRUE(runBeside([&]() {
        Client client;
        if (client.connectTo(port))
            client.call(Request("CONNECT"));
    }));
    ASSERT_TRUE(sessionsGone(1));
    const QStringList entries = log();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0], QStringLiteral("Session opened. Mode: Network (127.0.0.1)"));
    EXPECT_EQ(entries[1], QStringLiteral("CONNECT request: OK"));
    EXPECT_EQ(entries[2], QStringLiteral("Session closed. Mode: Network (127.0.0.1)"));
}

TEST_F(NetServerTest, EachTerminalGetsARowThatGoesWithIt)
{
    front.rows = TestFrontEnd::Rows::Made;
    ASSERT_TRUE(runBeside([&]() {
        Client client;
        if (client.connectTo(port))
            client.call(Request("CONNECT"));
    }));
    ASSERT_TRUE(sessionsGone(1));
    ASSERT_EQ(front.added.size(), 1);
    ASSERT_TRUE(waitFor([&]() { return front.removed.size() == 1; }));
    EXPECT_EQ(front.removed.first(), front.added.first());
    EXPECT_EQ(front.added.first()->types, QStringList{QStringLiteral("Network")});
    EXPECT_TRUE(front.added.first()->messages.contains(QStringLiteral("Connection is established")));
}

TEST_F(NetServerTest, NoRowMeansNoSessionAndTheLinkIsClosed)
{
    front.rows = TestFrontEnd::Rows::Refused;
    const int before = openDescriptorCount();
    bool closed = false;
    ASSERT_TRUE(runBeside([&]() {
        Client client;
        closed = client.connectTo(port) && client.sendPacket(Request("CONNECT"))
            && client.closedWithoutReply();
    }));
    EXPECT_TRUE(closed);
    EXPECT_EQ(tracker.created.load(), 0);
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(NetServerTest, StoppedListenerLeavesRunningSessionsAlone)
{
    Client client;
    QByteArray before, after;
    ASSERT_TRUE(runBeside([&]() {
        if (client.connectTo(port))
            before = client.call(Request("CONNECT"));
    }));
    ASSERT_TRUE(server->stop());
    EXPECT_FALSE(server->running);
    bool refused = false;
    ASSERT_TRUE(runBeside([&]() {
        after = client.call(Request("CONNECT"));
        Client late;
        refused = !late.connectTo(port);
    }));
    EXPECT_EQ(before, "OK");
    EXPECT_EQ(after, "OK");
    EXPECT_TRUE(refused);
}

TEST_F(NetServerTest, TeardownEndsSessionsThatWouldWaitForever)
{
    ScopedSettings noLimit([](PSettings &s) { s.networkTimeout = -1; });
    Client one, two;
    ASSERT_TRUE(runBeside([&]() {
        if (one.connectTo(port) && two.connectTo(port)) {
            one.call(Request("CONNECT"));
            two.call(Request("CONNECT"));
        }
    }));
    ASSERT_EQ(tracker.created.load(), 2);
    QElapsedTimer timer;
    timer.start();
    front.teardown();
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_EQ(tracker.destroyed.load(), 2);
    EXPECT_TRUE(one.closedWithoutReply());
    EXPECT_TRUE(two.closedWithoutReply());
}

TEST_F(NetServerTest, ListenerDestroyedWithLiveSessionsEndsThemFirst)
{
    ScopedSettings noLimit([](PSettings &s) { s.networkTimeout = -1; });
    Client client;
    ASSERT_TRUE(runBeside([&]() {
        if (client.connectTo(port))
            client.call(Request("CONNECT"));
    }));
    ASSERT_EQ(tracker.created.load(), 1);
    front.netServer = nullptr;
    server.reset();
    EXPECT_EQ(tracker.destroyed.load(), 1);
    EXPECT_EQ(tracker.destroyedEarly.load(), 0);
    EXPECT_TRUE(client.closedWithoutReply());
    // For the checks at the end of the case.
    server.reset(new TrackedNetServer(tracker));
}

TEST_F(NetServerTest, ManyTerminalsAtOnceAreAllServedAndLeaveNothingBehind)
{
    debugLog.stop();
    // The first session makes what Qt builds once per process; it is not a leak.
    ASSERT_TRUE(runBeside([&]() {
        Client warmUp;
        if (warmUp.connectTo(port))
            warmUp.call(Request("CONNECT"));
    }));
    ASSERT_TRUE(sessionsGone(1));
    const int descriptors = openDescriptorCount();
    const int threads = threadCount();

    constexpr int kClients = 64;
    constexpr int kRequests = 200;
    std::atomic<int> good{0};
    ASSERT_TRUE(runBeside(
        [&]() {
            std::vector<std::thread> clients;
            for (int c = 0; c < kClients; ++c) {
                clients.emplace_back([&]() {
                    Client client;
                    if (!client.connectTo(port))
                        return;
                    for (int i = 0; i < kRequests; ++i) {
                        if (i % 2 == 0) {
                            if (client.call(Request("CONNECT")) == "OK")
                                ++good;
                        } else if (client.call(Request("GetFuture").str(QByteArray("GetTransmitLength")))
                                   == hex("00000001 00000007") + "1048576") {
                            ++good;
                        }
                    }
                });
            }
            for (std::thread &t : clients)
                t.join();
        },
        120000));
    EXPECT_EQ(good.load(), kClients * kRequests);
    ASSERT_TRUE(sessionsGone(1 + kClients));
    // Finished threads leave the task list a moment after they report it.
    EXPECT_TRUE(waitFor([&]() { return openDescriptorCount() == descriptors && threadCount() == threads; }, 5000))
        << "descriptors " << openDescriptorCount() << " (was " << descriptors << "), threads "
        << threadCount() << " (was " << threads << ")";
}

struct PortRow
{
    const char *name;
    qint32 port;
};

// Rows print as their names in test listings.
void PrintTo(const PortRow &row, std::ostream *out)
{
    *out << row.name;
}

class ListenerPort : public ::testing::TestWithParam<PortRow>
{
};

TEST_P(ListenerPort, OutsideTheRangeDoesNotStart)
{
    PNetServer server(nullptr);
    server.port = GetParam().port;
    EXPECT_FALSE(server.start());
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.isListening());
}

INSTANTIATE_TEST_SUITE_P(Settings, ListenerPort,
                         ::testing::Values(PortRow{"Zero", 0}, PortRow{"Negative", -1},
                                           PortRow{"OnePastTheTop", 65536},
                                           PortRow{"WrapsToAFreePort", 65536 * 2},
                                           PortRow{"Smallest", INT_MIN}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
