#include "Helpers.h"
#include "PNetPort.h"
#include "TransportSupport.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <ostream>

#include <climits>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// A port over one end of a loopback connection; the test speaks through the other end.
class PortTest : public ::testing::Test
{
protected:
    void openPort(ConnectionType type)
    {
        int accepted = -1;
        int peerFd = -1;
        ASSERT_TRUE(makeTcpPair(peerFd, accepted));
        peer.adopt(peerFd);
        port.reset(new PNetPort(accepted));
        port->type = type;
        ASSERT_TRUE(port->open());
    }

    ScopedSettings defaults{[](PSettings &s) { s.networkTimeout = 5; }};
    Client peer;
    std::unique_ptr<PNetPort> port;
    std::vector<char> buffer = std::vector<char>(PDataPort::kMaxRequest + 1000);
};

TEST_F(PortTest, BinaryRequestGivesItsLengthAndBytes)
{
    openPort(ConnectionType::Network);
    ASSERT_TRUE(peer.sendRaw(hex("00000005") + "HELLO" + hex("00000000")));
    quint32 length = 0;
    ASSERT_TRUE(port->readPacket(buffer.data(), length));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(QByteArray(buffer.data(), 5), "HELLO");
    // A zero-length request is read as such; what it means is the command layer's business.
    ASSERT_TRUE(port->readPacket(buffer.data(), length));
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(port->hexMode);
}

struct LengthRow
{
    const char *name;
    quint32 length;
    bool accepted;
};

// Rows print as their names in test listings.
void PrintTo(const LengthRow &row, std::ostream *out)
{
    *out << row.name;
}

class RequestLength : public PortTest, public ::testing::WithParamInterface<LengthRow>
{
};

TEST_P(RequestLength, IsCheckedBeforeThePayload)
{
    const LengthRow row = GetParam();
    openPort(ConnectionType::Network);
    char head[4];
    writeUInt32BE(head, row.length);
    ASSERT_TRUE(peer.sendRaw(QByteArray(head, 4)));
    QByteArray payload;
    if (row.accepted)
        payload = QByteArray(int(row.length), 'x');
    // The payload may not fit the socket buffers: it goes while the port reads.
    std::thread writer([&]() { peer.sendRaw(payload); });
    quint32 length = 0;
    const bool ok = port->readPacket(buffer.data(), length);
    writer.join();
    EXPECT_EQ(ok, row.accepted);
    EXPECT_EQ(length, row.length);
    if (row.accepted) {
        EXPECT_EQ(QByteArray(buffer.data(), int(length)), payload);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, RequestLength,
                         ::testing::Values(LengthRow{"AtTheLimit", 0x100000, true},
                                           LengthRow{"OnePastTheLimit", 0x100001, false},
                                           LengthRow{"AllOnes", 0xFFFFFFFF, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PortTest, BluetoothHexRequestSwitchesToHexReplies)
{
    openPort(ConnectionType::Bluetooth);
    ASSERT_TRUE(port->hasHexBuffer());
    ASSERT_TRUE(peer.sendRaw("00000003414243"));
    quint32 length = 0;
    ASSERT_TRUE(port->readPacket(buffer.data(), length));
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(QByteArray(buffer.data(), 3), "ABC");
    EXPECT_TRUE(port->hexMode);

    const QByteArray reply = hex("00 01 AB FF 7E");
    ASSERT_TRUE(port->writePacket(reply.constData(), quint32(reply.size())));
    QByteArray wire;
    ASSERT_TRUE(peer.readExact(8 + 10, wire));
    EXPECT_EQ(wire, "000000050001ABFF7E");

    // Later binary lengths are taken as such, but the payload stays hex text; lower-case
    // digits count 0.
    ASSERT_TRUE(peer.sendRaw(hex("00000002") + "4a4B"));
    ASSERT_TRUE(port->readPacket(buffer.data(), length));
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(QByteArray(buffer.data(), 2), hex("404B"));

    ASSERT_TRUE(port->close());
    EXPECT_FALSE(port->hexMode);
    EXPECT_FALSE(port->hasHexBuffer());
}

TEST_F(PortTest, BluetoothBinaryRequestKeepsBinaryReplies)
{
    openPort(ConnectionType::Bluetooth);
    ASSERT_TRUE(peer.sendRaw(hex("00000002") + "OK"));
    quint32 length = 0;
    ASSERT_TRUE(port->readPacket(buffer.data(), length));
    EXPECT_EQ(QByteArray(buffer.data(), int(length)), "OK");
    EXPECT_FALSE(port->hexMode);
    ASSERT_TRUE(port->writePacket("OK", 2));
    QByteArray wire;
    ASSERT_TRUE(peer.readExact(6, wire));
    EXPECT_EQ(wire, hex("00000002") + "OK");
}

TEST_F(PortTest, HexTextOnANetworkPortIsAnOversizedLength)
{
    openPort(ConnectionType::Network);
    EXPECT_FALSE(port->hasHexBuffer());
    ASSERT_TRUE(peer.sendRaw("00000003414243"));
    quint32 length = 0;
    EXPECT_FALSE(port->readPacket(buffer.data(), length));
    EXPECT_EQ(length, 0x30303030u);
    EXPECT_FALSE(port->hexMode);
}

TEST_F(PortTest, LongHexReplyGoesOutWholeThroughTheBuffer)
{
    openPort(ConnectionType::Bluetooth);
    ASSERT_TRUE(peer.sendRaw("0000000141"));
    quint32 length = 0;
    ASSERT_TRUE(port->readPacket(buffer.data(), length));

    // The largest reply the command layer can make: three times what the buffer holds in hex.
    QByteArray reply(0x300000, Qt::Uninitialized);
    std::mt19937 random(7);
    for (char &c : reply)
        c = char(random());
    QByteArray wire;
    std::thread reader([&]() { peer.readExact(8 + 2 * reply.size(), wire); });
    const bool written = port->writePacket(reply.constData(), quint32(reply.size()));
    reader.join();
    EXPECT_TRUE(written);
    ASSERT_EQ(wire.size(), 8 + 2 * reply.size());
    EXPECT_EQ(wire.left(8), "00300000");
    EXPECT_TRUE(wire.mid(8) == reply.toHex().toUpper());
}

TEST_F(PortTest, SilentPeerEndsTheReadAfterTheTimeout)
{
    ScopedSettings quick([](PSettings &s) { s.networkTimeout = 1; });
    openPort(ConnectionType::Network);
    ASSERT_TRUE(peer.sendRaw(hex("00000010") + "abc"));
    QElapsedTimer timer;
    timer.start();
    quint32 length = 0;
    EXPECT_FALSE(port->readPacket(buffer.data(), length));
    EXPECT_GE(timer.elapsed(), 900);
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST_F(PortTest, TricklingRequestKeepsTheReadAlive)
{
    ScopedSettings quick([](PSettings &s) { s.networkTimeout = 1; });
    openPort(ConnectionType::Network);
    // Four bytes 400 ms apart: longer than one time-out in all, never that long without data.
    std::thread writer([&]() {
        peer.sendRaw(hex("00000004"));
        for (char c : QByteArray("WAIT")) {
            QThread::msleep(400);
            peer.sendRaw(QByteArray(1, c));
        }
    });
    quint32 length = 0;
    const bool ok = port->readPacket(buffer.data(), length);
    writer.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(QByteArray(buffer.data(), int(length)), "WAIT");
}

TEST_F(PortTest, NegativeTimeoutWaitsWithoutLimit)
{
    ScopedSettings endless([](PSettings &s) { s.networkTimeout = -1; });
    openPort(ConnectionType::Network);
    std::thread writer([&]() {
        QThread::msleep(300);
        peer.sendRaw(hex("00000002") + "OK");
    });
    quint32 length = 0;
    EXPECT_TRUE(port->readPacket(buffer.data(), length));
    writer.join();
    EXPECT_EQ(QByteArray(buffer.data(), int(length)), "OK");
}

TEST_F(PortTest, ChangedTimeoutAppliesToTheNextWait)
{
    openPort(ConnectionType::Network);
    ASSERT_TRUE(peer.sendRaw(hex("00000002") + "OK"));
    quint32 length = 0;
    ASSERT_TRUE(port->readPacket(buffer.data(), length)); // waited under the five seconds
    ScopedSettings quick([](PSettings &s) { s.networkTimeout = 1; });
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(port->readPacket(buffer.data(), length));
    EXPECT_GE(timer.elapsed(), 900);
    EXPECT_LT(timer.elapsed(), 4000);
}

TEST_F(PortTest, ReplyLengthLeavesWithItsPayload)
{
    openPort(ConnectionType::Network);
    ASSERT_TRUE(port->writePacket("HELLO", 5));
    // One receive gets the whole reply: the length word did not go out alone.
    char bytes[64];
    const ssize_t n = ::recv(peer.fd(), bytes, sizeof bytes, 0);
    ASSERT_EQ(n, 9);
    EXPECT_EQ(QByteArray(bytes, 9), hex("00000005") + "HELLO");
}

TEST_F(PortTest, LargeReplyReachesASlowReaderWhole)
{
    openPort(ConnectionType::Network);
    // Far more than the socket buffers take: the sends go out in parts as the reader drains them.
    QByteArray reply(4 << 20, Qt::Uninitialized);
    std::mt19937 random(11);
    for (char &c : reply)
        c = char(random());
    QByteArray wire;
    std::thread reader([&]() {
        QByteArray part;
        while (wire.size() < 4 + reply.size() && peer.readExact(qMin(1 << 16, 4 + reply.size() - wire.size()), part)) {
            wire += part;
            QThread::msleep(1);
        }
    });
    const bool written = port->writePacket(reply.constData(), quint32(reply.size()));
    reader.join();
    EXPECT_TRUE(written);
    ASSERT_EQ(wire.size(), 4 + reply.size());
    EXPECT_EQ(wire.left(4), hex("00400000"));
    EXPECT_TRUE(wire.mid(4) == reply);
}

TEST_F(PortTest, ZeroTimeoutDoesNotWait)
{
    ScopedSettings quick([](PSettings &s) { s.networkTimeout = 0; });
    openPort(ConnectionType::Network);
    QElapsedTimer timer;
    timer.start();
    quint32 length = 0;
    EXPECT_FALSE(port->readPacket(buffer.data(), length));
    // Short of the five seconds that a zero read as the default would wait.
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST_F(PortTest, ClosedPeerFailsTheRead)
{
    openPort(ConnectionType::Network);
    ASSERT_TRUE(peer.sendRaw(hex("00000004") + "ab"));
    peer.close();
    quint32 length = 0;
    EXPECT_FALSE(port->readPacket(buffer.data(), length));
    EXPECT_TRUE(port->close());
}

TEST_F(PortTest, WriteToAVanishedPeerFails)
{
    ScopedSettings quick([](PSettings &s) { s.networkTimeout = 1; });
    openPort(ConnectionType::Network);
    // Unread bytes on the peer make its close a reset.
    ASSERT_TRUE(port->write("x", 1));
    peer.close();
    const QByteArray big(4 << 20, 'z');
    EXPECT_FALSE(port->write(big.constData(), big.size()));
}

TEST(NetPort, ZeroLengthWriteTouchesNoSocket)
{
    PNetPort port(-1);
    EXPECT_TRUE(port.write(nullptr, 0));
    EXPECT_TRUE(port.read(nullptr, 0));
    EXPECT_FALSE(port.write("x", 1));
}

TEST(NetPort, DescriptorThatIsNotOpenFailsTheOpen)
{
    // Beyond any descriptor limit: no other thread can be given this number meanwhile.
    const int fd = 1 << 30;
    PNetPort port(fd);
    port.type = ConnectionType::Bluetooth;
    EXPECT_FALSE(port.open());
    EXPECT_FALSE(port.hasHexBuffer());
}

struct WaitRow
{
    const char *name;
    qint32 seconds;
    int milliseconds;
};

// Rows print as their names in test listings.
void PrintTo(const WaitRow &row, std::ostream *out)
{
    *out << row.name;
}

class WaitMilliseconds : public ::testing::TestWithParam<WaitRow>
{
};

TEST_P(WaitMilliseconds, AreTheSecondsTimesAThousandWithinInt)
{
    EXPECT_EQ(PNetPort::waitMilliseconds(GetParam().seconds), GetParam().milliseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, WaitMilliseconds,
    ::testing::Values(WaitRow{"Default", 30, 30000}, WaitRow{"Zero", 0, 0},
                      WaitRow{"NegativeMeansNoLimit", -1, -1},
                      WaitRow{"VeryNegative", INT_MIN, -1},
                      WaitRow{"LargestExact", 2147483, 2147483000},
                      WaitRow{"FirstOverflow", 2147484, INT_MAX},
                      WaitRow{"LargestSetting", INT_MAX, INT_MAX}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
