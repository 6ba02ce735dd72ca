#include "FakeLinks.h"
#include "PDebugLog.h"
#include "PDataPort.h"
#include "PIrdaServer.h"
#include "PSession.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct NameRow
{
    const char *name;
    bool ircomm;
    bool listFails;
    QByteArray list;
    const char *sessionName;
};

// Rows print as their names in test listings.
void PrintTo(const NameRow &row, std::ostream *out)
{
    *out << row.name;
}

class IrdaSessionName : public ::testing::TestWithParam<NameRow>
{
protected:
    void SetUp() override { ASSERT_TRUE(debugLog.start()); }
    void TearDown() override { debugLog.stop(); }

    TempDir dir{true};
    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 5; }};
    FakeIrdaStack stack;
    TestFrontEnd front{TestFrontEnd::Rows::Made};
};

TEST_P(IrdaSessionName, NamesTheDeviceInRange)
{
    const NameRow &row = GetParam();
    stack.list = row.list;
    stack.listFails = row.listFails;
    PIrdaServer server(nullptr);
    server.ircomm = row.ircomm;
    front.irdaServer = &server;
    ASSERT_TRUE(server.start());
    EXPECT_EQ(stack.listens, QList<bool>{row.ircomm});

    QByteArray reply;
    ASSERT_TRUE(runBeside([&]() {
        Client terminal;
        terminal.adopt(connectLocal(stack.name));
        reply = terminal.call(Request("CONNECT"));
    }));
    EXPECT_EQ(reply, "OK");
    ASSERT_TRUE(waitFor([&]() { return front.removed.size() == 1; }));
    front.teardown();
    ASSERT_EQ(front.added.size(), 1);
    EXPECT_EQ(front.added.first()->types, QStringList{QString::fromUtf8(row.sessionName)});
    const QStringList entries = logEntries(dir.file(QStringLiteral("VorelServer_debug.txt")));
    ASSERT_FALSE(entries.isEmpty());
    EXPECT_EQ(entries.first(), QStringLiteral("Session opened. Mode: ") + QString::fromUtf8(row.sessionName));
}

INSTANTIATE_TEST_SUITE_P(
    Devices, IrdaSessionName,
    ::testing::Values(
        NameRow{"NamedDevice", false, false, irdaList(1, {{0x12345678, "TERMINAL"}}),
                "Irda (TERMINAL) [00:00:12:34:56:78]"},
        NameRow{"NamedDeviceOverIrcomm", true, false, irdaList(1, {{0x12345678, "TERMINAL"}}),
                "Irda (ircomm) (TERMINAL) [00:00:12:34:56:78]"},
        NameRow{"DeviceWithoutName", false, false, irdaList(1, {{0x12345678, ""}}), "Irda [00:00:12:34:56:78]"},
        NameRow{"NoDeviceInRange", false, false, irdaList(0, {}), "Irda "},
        NameRow{"NoDeviceInRangeOverIrcomm", true, false, irdaList(0, {}), "Irda (ircomm) "},
        NameRow{"ListCannotBeRead", false, true, QByteArray(), "Irda "}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(IrdaServer, HexTextIsNoFramingOfItsOwn)
{
    ScopedSettings timeouts([](PSettings &s) { s.networkTimeout = 5; });
    FakeIrdaStack stack;
    TestFrontEnd front;
    PIrdaServer server(nullptr);
    front.irdaServer = &server;
    ASSERT_TRUE(server.start());
    bool closed = false;
    ASSERT_TRUE(runBeside([&]() {
        Client terminal;
        terminal.adopt(connectLocal(stack.name));
        // Read as a binary length far above the limit.
        closed = terminal.sendRaw("00000008434F4E4E45435400") && terminal.closedWithoutReply();
    }));
    EXPECT_TRUE(closed);
    front.teardown();
    EXPECT_FALSE(server.running);
}

// Rows: the send buffer asked of the kernel.
class IrdaRadioPieces : public ::testing::TestWithParam<int>
{
};

// The binary framing over a radio link whose kernel builds each send whole as frames of 127 bytes,
// charged about 770 bytes each: the length word and the payload of a 1 MiB reply leave in pieces
// whose frames fit the send buffer, none above 4 KiB.
TEST_P(IrdaRadioPieces, LargestFileReadGoesOutWhole)
{
    TempDir dir;
    ScopedSettings timeouts([](PSettings &s) { s.networkTimeout = 5; });
    FakeIrdaStack stack;
    stack.askedSendBuffer = GetParam();
    TestFrontEnd front;
    PIrdaServer server(nullptr);
    front.irdaServer = &server;
    ASSERT_TRUE(server.start());
    QByteArray data(int(PDataPort::kMaxRequest), Qt::Uninitialized);
    std::mt19937 random(5);
    for (char &c : data)
        c = char(random());
    const QString path = dir.file(QStringLiteral("big.bin"));
    ASSERT_TRUE(writeAll(path, data));

    QByteArray opened, reply;
    ASSERT_TRUE(runBeside([&]() {
        Client terminal;
        terminal.adopt(connectLocal(stack.name));
        opened = terminal.call(Request("OpenFile").str(terminalPath(path)));
        reply = terminal.call(Request("ReadFile").word(1).word(quint32(data.size())));
    }));
    front.teardown();
    EXPECT_EQ(stack.sendBuffer, 2 * GetParam()) << "the kernel doubles what it is asked";
    EXPECT_EQ(opened, QByteArray::fromHex("0000000100000001"));
    ASSERT_EQ(reply.size(), 8 + data.size());
    EXPECT_EQ(reply.left(8), QByteArray::fromHex("0000000100100000"));
    EXPECT_TRUE(reply.mid(8) == data);
    EXPECT_GT(largestRadioSend(), 0);
    EXPECT_LE(largestRadioSend(), 4096);
}

// 25,400 gives 50,800 bytes, RFCOMM's own buffer for its default frame.
INSTANTIATE_TEST_SUITE_P(SendBuffers, IrdaRadioPieces, ::testing::Values(kRadioSendBuffer, 25400),
                         [](const auto &info) { return std::string(info.index == 0 ? "Small" : "RfcommDefault"); });

TEST(IrdaServer, StopReleasesTheSocketAndStartMakesANewOne)
{
    FakeIrdaStack stack;
    PIrdaServer server(nullptr);
    server.ircomm = true;
    ASSERT_TRUE(server.start());
    const QByteArray first = stack.name;
    EXPECT_EQ(server.socket, -1) << "the listening socket is Qt's once handed over";
    ASSERT_TRUE(server.stop());
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.isListening());
    const int refused = connectLocal(first);
    EXPECT_EQ(refused, -1);
    if (refused >= 0)
        ::close(refused);
    ASSERT_TRUE(server.start());
    EXPECT_NE(stack.name, first);
    EXPECT_EQ(stack.listens, (QList<bool>{true, true}));
    server.stop();
}

TEST(IrdaServer, NoHardwareFailsTheStart)
{
    FakeIrdaStack stack;
    stack.noDevice = true;
    PIrdaServer server(nullptr);
    EXPECT_FALSE(server.start());
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.isListening());
}

class IrdaSystemStart : public ::testing::TestWithParam<bool>
{
};

// The system's own layer: Linux has had no IrDA since release 4.17.
TEST_P(IrdaSystemStart, FailsWithoutLeakingADescriptor)
{
    const int probe = ::socket(23 /* AF_IRDA */, SOCK_STREAM, 0);
    if (probe >= 0) {
        ::close(probe);
        GTEST_SKIP() << "this machine's kernel still has IrDA sockets; the failing path is not reachable";
    }
    const int before = openDescriptorCount();
    PIrdaServer server(nullptr);
    server.ircomm = GetParam();
    EXPECT_FALSE(server.start());
    EXPECT_FALSE(server.running);
    EXPECT_FALSE(server.isListening());
    EXPECT_EQ(server.socket, -1);
    EXPECT_EQ(openDescriptorCount(), before);
}

INSTANTIATE_TEST_SUITE_P(Modes, IrdaSystemStart, ::testing::Values(false, true),
                         [](const auto &info) { return std::string(info.param ? "Ircomm" : "Normal"); });

} // namespace
