#include "FakeLinks.h"
#include "PBtServer.h"
#include "PDataPort.h"
#include "PDebugLog.h"
#include "PSession.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One request in the hex-text framing: eight hex digits of length, then the payload in hex.
QByteArray hexPacket(const QByteArray &payload)
{
    return QByteArray::number(payload.size(), 16).rightJustified(8, '0').toUpper() + payload.toHex().toUpper();
}

// The Bluetooth listener over the stand-in stack, with a front-end that gives every terminal a
// row, and the debug log in a fresh folder.
class BtServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(debugLog.start());
        front.btServer = &server;
        ASSERT_TRUE(server.start());
    }

    void TearDown() override
    {
        front.teardown();
        EXPECT_FALSE(server.isListening());
        EXPECT_TRUE(server.findChildren<PSession *>().isEmpty());
        debugLog.stop();
    }

    // A terminal's connection; the fixture closes it at the end.
    Client &connectTerminal()
    {
        terminals.emplace_back(new Client);
        terminals.back()->adopt(connectLocal(stack.name));
        return *terminals.back();
    }

    bool sessionsEnd(int rows)
    {
        return waitFor([&]() { return front.removed.size() == rows; });
    }

    QStringList log() const { return logEntries(dir.file(QStringLiteral("VorelServer_debug.txt"))); }

    TempDir dir{true};
    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 5; }};
    FakeBluetoothStack stack;
    TestFrontEnd front{TestFrontEnd::Rows::Made};
    PBtServer server{nullptr};
    std::vector<std::unique_ptr<Client>> terminals;
};

TEST_F(BtServerTest, HexTerminalIsAnsweredInHexAndItsRowMarkedOnce)
{
    QByteArray first, second, binaryLength;
    ASSERT_TRUE(runBeside([&]() {
        Client &terminal = connectTerminal();
        if (!terminal.sendRaw("00000008434F4E4E45435400") || !terminal.readExact(12, first))
            return;
        if (!terminal.sendRaw(hexPacket(QByteArray("CONNECT", 8))) || !terminal.readExact(12, second))
            return;
        // Hex mode stays on: a binary length is read as such, but its payload is still hex
        // text and the reply goes out in hex.
        if (!terminal.sendRaw(hex("00000008") + QByteArray("CONNECT", 8).toHex().toUpper()))
            return;
        terminal.readExact(12, binaryLength);
        terminal.close();
    }));
    EXPECT_EQ(first, "000000024F4B");
    EXPECT_EQ(second, "000000024F4B");
    EXPECT_EQ(binaryLength, "000000024F4B");
    ASSERT_TRUE(sessionsEnd(1));
    ASSERT_EQ(front.added.size(), 1);
    EXPECT_EQ(front.added.first()->types,
              (QStringList{QStringLiteral("Bluetooth (00:11:22:33:44:AA)"),
                           QStringLiteral("Bluetooth (00:11:22:33:44:AA) [DT-930 mode]")}));
    const QStringList entries = log();
    ASSERT_FALSE(entries.isEmpty());
    EXPECT_EQ(entries.first(), QStringLiteral("Session opened. Mode: Bluetooth (00:11:22:33:44:AA)"));
    EXPECT_EQ(entries.last(), QStringLiteral("Session closed. Mode: Bluetooth (00:11:22:33:44:AA)"));
}

// A radio link takes a send only when its frames fit the small send buffer (the stand-in charges
// them as the kernel does): the 2 MiB of hex text leave piece by piece, well within one time-out.
TEST_F(BtServerTest, LargestFileReadGoesOutWholeInHexThroughASmallSendBuffer)
{
    QByteArray data(PDataPort::kMaxRequest, Qt::Uninitialized);
    std::mt19937 random(11);
    for (char &c : data)
        c = char(random());
    const QString path = dir.file(QStringLiteral("big.bin"));
    ASSERT_TRUE(writeAll(path, data));

    QByteArray opened, head, body;
    qint64 replyMs = -1;
    ASSERT_TRUE(runBeside([&]() {
        Client &terminal = connectTerminal();
        if (!terminal.sendRaw(hexPacket(Request("OpenFile").str(terminalPath(path))))
            || !terminal.readExact(24, opened))
            return;
        QElapsedTimer timer;
        timer.start();
        if (!terminal.sendRaw(hexPacket(Request("ReadFile").word(1).word(quint32(data.size())))))
            return;
        if (terminal.readExact(8, head) && terminal.readExact(2 * (8 + data.size()), body))
            replyMs = timer.elapsed();
    }));
    EXPECT_EQ(stack.sendBuffer, 2 * kRadioSendBuffer) << "the kernel doubles what it is asked";
    EXPECT_EQ(opened, "000000080000000100000001");
    // 1048584 bytes: the result word, the count and the data.
    EXPECT_EQ(head, "00100008");
    ASSERT_EQ(body.size(), 2 * (8 + data.size()));
    EXPECT_EQ(body.left(16), "0000000100100000");
    EXPECT_TRUE(body.mid(16) == data.toHex().toUpper());
    EXPECT_GE(replyMs, 0);
    EXPECT_LT(replyMs, 5000) << "the networkTimeout of the fixture";
}

TEST_F(BtServerTest, BinaryTerminalKeepsThePlainFraming)
{
    QByteArray reply;
    ASSERT_TRUE(runBeside([&]() {
        Client &terminal = connectTerminal();
        reply = terminal.call(Request("CONNECT"));
        terminal.close();
    }));
    EXPECT_EQ(reply, "OK");
    ASSERT_TRUE(sessionsEnd(1));
    EXPECT_EQ(front.added.first()->types, QStringList{QStringLiteral("Bluetooth (00:11:22:33:44:AA)")});
}

TEST_F(BtServerTest, PeerWithoutAddressIsNamedBluetoothAlone)
{
    stack.knowsPeer = false;
    ASSERT_TRUE(runBeside([&]() {
        Client &terminal = connectTerminal();
        terminal.call(Request("CONNECT"));
        terminal.close();
    }));
    ASSERT_TRUE(sessionsEnd(1));
    EXPECT_EQ(front.added.first()->types, QStringList{QStringLiteral("Bluetooth")});
    EXPECT_EQ(log().first(), QStringLiteral("Session opened. Mode: Bluetooth"));
}

TEST_F(BtServerTest, StopAndStartAgainPublishesAFreshRecordAndClosesEachSocketOnce)
{
    EXPECT_TRUE(server.running);
    EXPECT_EQ(server.socket, -1) << "the listening socket is Qt's once handed over";
    EXPECT_EQ(stack.registrations, 1);
    const QByteArray oldName = stack.name;
    const int oldSocket = stack.handedOut;

    // A terminal served before the stop keeps its session.
    Client &early = connectTerminal();
    QByteArray before, after;
    ASSERT_TRUE(runBeside([&]() { before = early.call(Request("CONNECT")); }));

    ASSERT_TRUE(server.stop());
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.isListening());
    EXPECT_EQ(stack.withdrawals, 1);
    EXPECT_FALSE(stack.published);
    // Qt closed the socket before the record went; the number was not closed again after.
    EXPECT_EQ(stack.sentinel, oldSocket);
    EXPECT_TRUE(isOpen(stack.sentinel));
    const int refused = connectLocal(oldName);
    EXPECT_EQ(refused, -1);
    if (refused >= 0)
        ::close(refused);

    ASSERT_TRUE(server.start());
    EXPECT_TRUE(server.running);
    EXPECT_EQ(stack.registrations, 2);
    EXPECT_TRUE(stack.published);
    EXPECT_NE(stack.name, oldName);
    QByteArray fresh;
    ASSERT_TRUE(runBeside([&]() {
        after = early.call(Request("CONNECT"));
        fresh = connectTerminal().call(Request("CONNECT"));
    }));
    EXPECT_EQ(before, "OK");
    EXPECT_EQ(after, "OK");
    EXPECT_EQ(fresh, "OK");

    ASSERT_TRUE(server.stop());
    EXPECT_EQ(stack.withdrawals, 2);
    EXPECT_TRUE(isOpen(stack.sentinel));
}

TEST(BtServerStart, NoRadioFailsAndLeavesNothingBehind)
{
    FakeBluetoothStack stack;
    stack.noRadio = true;
    PBtServer server(nullptr);
    EXPECT_FALSE(server.start());
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.isListening());
    EXPECT_EQ(stack.registrations, 0);
}

TEST(BtServerStart, RefusedHandOverTakesTheRecordBack)
{
    FakeBluetoothStack stack;
    stack.deadDescriptor = true;
    PBtServer server(nullptr);
    EXPECT_FALSE(server.start());
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.isListening());
    EXPECT_EQ(stack.registrations, 1);
    EXPECT_EQ(stack.withdrawals, 1);
    EXPECT_FALSE(stack.published);
    EXPECT_EQ(server.socket, -1);
}

TEST(BtServerStart, SecondStartLeavesTheRunningListenerAlone)
{
    FakeBluetoothStack stack;
    PBtServer server(nullptr);
    ASSERT_TRUE(server.start());
    EXPECT_FALSE(server.start());
    EXPECT_TRUE(server.running);
    EXPECT_TRUE(server.isListening());
    EXPECT_EQ(stack.registrations, 1);
    EXPECT_EQ(stack.withdrawals, 0);
    server.stop();
}

// The system's own layer on a machine without Bluetooth.
TEST(BtServerStart, SystemWithoutBluetoothFailsWithoutLeakingADescriptor)
{
    const int probe = ::socket(31 /* AF_BLUETOOTH */, SOCK_STREAM, 3 /* RFCOMM */);
    if (probe >= 0) {
        ::close(probe);
        GTEST_SKIP() << "this machine's kernel has Bluetooth sockets; the no-radio path is not reachable";
    }
    const int before = openDescriptorCount();
    PBtServer server(nullptr);
    EXPECT_FALSE(server.start());
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.isListening());
    EXPECT_EQ(server.socket, -1);
    EXPECT_EQ(openDescriptorCount(), before);
}

} // namespace
