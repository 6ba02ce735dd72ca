#include "PDebugLog.h"
#include "PSerialPort.h"
#include "PStopEvent.h"
#include "PtyTerminal.h"
#include "SerialDevice.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Result = platform::SerialDevice::Result;

// Runs `action` on a thread of its own after `delayMs`, so that it lands while the test's
// thread is inside a wait; joined at the end of the scope.
class Later
{
public:
    Later(int delayMs, std::function<void()> action)
        : worker([delayMs, action]() {
              std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
              action();
          })
    {
    }
    ~Later() { worker.join(); }

private:
    std::thread worker;
};

// A port on the slave side of a fresh pseudo-terminal pair.
class SerialPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(terminal.isOpen()) << "no pseudo-terminal could be had";
        ASSERT_TRUE(serverStop->isValid());
        port.reset(new PSerialPort(terminal.portName(), serverStop));
    }

    qint64 msSince(const QElapsedTimer &timer) const { return timer.elapsed(); }

    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 30; }};
    PtyTerminal terminal;
    std::shared_ptr<PStopEvent> serverStop = PStopEvent::create();
    std::unique_ptr<PSerialPort> port;
};

TEST_F(SerialPortTest, OpenSetsRawEightNoneOneWithoutFlowControlAndKeepsTheSpeed)
{
    ASSERT_TRUE(terminal.setSpeed(B19200));
    termios before{};
    ASSERT_TRUE(terminal.lineSettings(before));
    // A fresh pseudo-terminal starts cooked: line editing and echo on.
    ASSERT_TRUE(before.c_lflag & ICANON);
    ASSERT_TRUE(port->open()) << port->lastError().toStdString();

    termios after{};
    ASSERT_TRUE(terminal.lineSettings(after));
    EXPECT_EQ(after.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(after.c_cflag & PARENB);
    EXPECT_FALSE(after.c_cflag & CSTOPB);
    EXPECT_FALSE(after.c_cflag & CRTSCTS);
    EXPECT_TRUE(after.c_cflag & CREAD);
    EXPECT_FALSE(after.c_iflag & (IXON | IXOFF | IXANY));
    EXPECT_FALSE(after.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | INPCK));
    EXPECT_FALSE(after.c_oflag & OPOST);
    EXPECT_FALSE(after.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_EQ(cfgetispeed(&after), speed_t(B19200));
    EXPECT_EQ(cfgetospeed(&after), speed_t(B19200));
}

TEST_F(SerialPortTest, APortServesOneUserAtATime)
{
    ASSERT_TRUE(port->open());
    PSerialPort second(terminal.portName(), serverStop);
    EXPECT_FALSE(second.open());
    EXPECT_FALSE(second.lastError().isEmpty());
    // Another program that asks for the lock is refused as well.
    const int other = ::open(terminal.path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (other >= 0) {
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }
    EXPECT_TRUE(port->close());
    EXPECT_TRUE(second.open()) << second.lastError().toStdString();
}

TEST(SerialPortOpen, WhatIsNoTerminalOrNotThereDoesNotOpen)
{
    const auto stop = PStopEvent::create();
    PSerialPort missing(QStringLiteral("ttyNoSuchCradle"), stop);
    EXPECT_FALSE(missing.open());
    EXPECT_TRUE(missing.lastError().contains(QStringLiteral("/dev/ttyNoSuchCradle")));
    PSerialPort notATerminal(QStringLiteral("null"), stop);
    EXPECT_FALSE(notATerminal.open());
    EXPECT_TRUE(notATerminal.lastError().startsWith(QStringLiteral("tcgetattr")));
    // Without a usable stop event of the poller the port could not be ended from outside.
    PtyTerminal terminal;
    PSerialPort unstoppable(terminal.portName(), nullptr);
    EXPECT_FALSE(unstoppable.open());
}

enum class OpenFailure { NotThere, NoTerminal, NoRights, Taken };

std::string failureName(OpenFailure failure)
{
    static const char *const names[] = {"NotThere", "NoTerminal", "NoRights", "Taken"};
    return names[int(failure)];
}

// Rows print as their names in test listings.
void PrintTo(OpenFailure failure, std::ostream *out)
{
    *out << failureName(failure);
}

// A port that cannot be opened leaves the failed call, the port and the system's reason in the
// debug log; the session that owns it ends without another word.
class SerialPortOpenLog : public ::testing::TestWithParam<OpenFailure>
{
protected:
    void SetUp() override { ASSERT_TRUE(debugLog.start()); }
    void TearDown() override { debugLog.stop(); }

    QStringList log() const { return logEntries(dir.file(QStringLiteral("VorelServer_debug.txt"))); }

    TempDir dir{true};
    std::shared_ptr<PStopEvent> stop = PStopEvent::create();
};

QString reason(const char *call, const QString &path, int error)
{
    return QStringLiteral("%1 %2: %3").arg(QLatin1String(call), path, QString::fromLocal8Bit(std::strerror(error)));
}

TEST_P(SerialPortOpenLog, TheReasonIsInTheLog)
{
    PtyTerminal terminal;
    ASSERT_TRUE(terminal.isOpen());
    std::unique_ptr<PSerialPort> holder;
    QString name = terminal.portName();
    QString expected;
    switch (GetParam()) {
    case OpenFailure::NotThere:
        name = QStringLiteral("ttyNoSuchCradle");
        expected = reason("open", QStringLiteral("/dev/ttyNoSuchCradle"), ENOENT);
        break;
    case OpenFailure::NoTerminal:
        name = QStringLiteral("null");
        expected = reason("tcgetattr", QStringLiteral("/dev/null"), ENOTTY);
        break;
    case OpenFailure::NoRights:
        if (::geteuid() == 0)
            GTEST_SKIP() << "root may open any port; the refusal a user outside dialout meets is not reachable";
        ASSERT_EQ(::chmod(terminal.path().toLocal8Bit().constData(), 0), 0);
        expected = reason("open", terminal.path(), EACCES);
        break;
    case OpenFailure::Taken:
        holder.reset(new PSerialPort(terminal.portName(), stop));
        ASSERT_TRUE(holder->open());
        // Exclusive mode refuses every unprivileged second open; root passes it and meets the lock.
        expected = ::geteuid() == 0 ? reason("flock", terminal.path(), EWOULDBLOCK)
                                    : reason("open", terminal.path(), EBUSY);
        break;
    }
    PSerialPort port(name, stop);
    EXPECT_FALSE(port.open());
    const QStringList entries = log();
    EXPECT_EQ(entries.value(0).toStdString(), expected.toStdString());
    EXPECT_EQ(entries.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Failures, SerialPortOpenLog,
                         ::testing::Values(OpenFailure::NotThere, OpenFailure::NoTerminal, OpenFailure::NoRights,
                                           OpenFailure::Taken),
                         [](const auto &info) { return failureName(info.param); });

TEST(SerialPortOpenQuiet, APortThatOpensLeavesNoEntry)
{
    TempDir dir(true);
    ASSERT_TRUE(debugLog.start());
    PtyTerminal terminal;
    PSerialPort port(terminal.portName(), PStopEvent::create());
    EXPECT_TRUE(port.open()) << port.lastError().toStdString();
    port.close();
    debugLog.stop();
    EXPECT_TRUE(logEntries(dir.file(QStringLiteral("VorelServer_debug.txt"))).isEmpty());
}

TEST_F(SerialPortTest, PacketsArriveWholeInOneBurstOrInPieces)
{
    ASSERT_TRUE(port->open());
    std::vector<char> buffer(16, '\x55');
    quint32 length = 0;

    ASSERT_TRUE(terminal.sendRaw(hex("00000005") + "HELLO"));
    ASSERT_TRUE(port->readPacket(buffer.data(), length));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(QByteArray(buffer.data(), 5), "HELLO");

    // Two bytes of the length, then the rest, then the payload a byte at a time.
    Later pieces(0, [this]() {
        for (const QByteArray &piece : {hex("0000"), hex("0003"), QByteArray("a"), QByteArray("b"), QByteArray("c")}) {
            terminal.sendRaw(piece);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    ASSERT_TRUE(port->readPacket(buffer.data(), length));
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(QByteArray(buffer.data(), 3), "abc");
    // Nothing was written past the payload.
    EXPECT_EQ(buffer[5], '\x55');
}

TEST_F(SerialPortTest, RepliesReachTheTerminalAsPackets)
{
    ASSERT_TRUE(port->open());
    const QByteArray big(5000, 'x'); // more than a pseudo-terminal buffers at once
    QByteArray got;
    {
        Later reader(0, [&]() { terminal.readExact(4 + big.size(), got); });
        ASSERT_TRUE(port->writePacket(big.constData(), quint32(big.size())));
    }
    EXPECT_EQ(got, hex("00001388") + big);
}

TEST_F(SerialPortTest, ZeroLengthTransfersSucceedWithoutThePort)
{
    char byte = 0;
    EXPECT_TRUE(port->read(&byte, 0));
    EXPECT_TRUE(port->write(&byte, 0));
    EXPECT_FALSE(port->read(&byte, 1));
}

TEST_F(SerialPortTest, ASilentTerminalTimesOutAfterTheSetting)
{
    ScopedSettings oneSecond([](PSettings &s) { s.networkTimeout = 1; });
    ASSERT_TRUE(port->open());
    char head[4];
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(port->read(head, 4));
    EXPECT_GE(msSince(timer), 950);
    EXPECT_LT(msSince(timer), 5000);
}

TEST_F(SerialPortTest, EitherStopEventEndsAPendingReadAtOnceAndEveryLaterTransfer)
{
    ASSERT_TRUE(port->open());
    char head[4];
    QElapsedTimer timer;
    timer.start();
    {
        Later stop(100, [this]() { port->stop(); });
        EXPECT_FALSE(port->read(head, 4));
    }
    EXPECT_LT(msSince(timer), 3000);
    // Data that is there does not outweigh the stop.
    ASSERT_TRUE(terminal.sendRaw("abcd"));
    EXPECT_FALSE(port->read(head, 4));
    EXPECT_FALSE(port->write("abcd", 4));

    PSerialPort second(terminal.portName(), serverStop);
    ASSERT_TRUE(port->close());
    ASSERT_TRUE(second.open());
    timer.restart();
    {
        Later stop(100, [this]() { serverStop->set(); });
        EXPECT_FALSE(second.read(head, 4));
    }
    EXPECT_LT(msSince(timer), 3000);
    EXPECT_FALSE(second.write("abcd", 4));
}

TEST_F(SerialPortTest, ATerminalThatLeavesEndsTheReadAtOnce)
{
    ASSERT_TRUE(port->open());
    char head[4];
    QElapsedTimer timer;
    timer.start();
    {
        Later leave(100, [this]() { terminal.close(); });
        EXPECT_FALSE(port->read(head, 4));
    }
    EXPECT_LT(msSince(timer), 3000);
    EXPECT_FALSE(port->write("abcd", 4));
}

// The modem lines of the test: a pseudo-terminal has none.
std::atomic<quint64> fakeLines{0};
bool readFakeLines(int, quint64 &stamp)
{
    stamp = fakeLines.load();
    return true;
}

class ModemLines : public SerialPortTest
{
protected:
    void SetUp() override
    {
        SerialPortTest::SetUp();
        platform::setModemLineReader(&readFakeLines);
    }
    void TearDown() override { platform::setModemLineReader(nullptr); }
};

TEST_F(ModemLines, AChangeWhileWaitingForDataEndsTheRead)
{
    ASSERT_TRUE(port->open());
    // Steady lines do not disturb a read.
    char head[4];
    ASSERT_TRUE(terminal.sendRaw("abcd"));
    ASSERT_TRUE(port->read(head, 4));

    QElapsedTimer timer;
    timer.start();
    {
        Later lifted(100, []() { fakeLines++; });
        EXPECT_FALSE(port->read(head, 4));
    }
    EXPECT_LT(msSince(timer), 3000);
    // The next read measures from its own start.
    ASSERT_TRUE(terminal.sendRaw("efgh"));
    EXPECT_TRUE(port->read(head, 4));
    EXPECT_EQ(QByteArray(head, 4), "efgh");
}

TEST(StopEvent, WaitEndsOnEitherEventOrItsTime)
{
    PStopEvent first;
    PStopEvent second;
    ASSERT_TRUE(first.isValid() && second.isValid());
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(PStopEvent::waitAny(&first, &second, 50));
    EXPECT_GE(timer.elapsed(), 45);
    EXPECT_FALSE(first.isSet());

    timer.restart();
    {
        Later set(50, [&second]() { second.set(); });
        EXPECT_TRUE(PStopEvent::waitAny(&first, &second, -1));
    }
    EXPECT_LT(timer.elapsed(), 3000);
    // Manual reset: it stays set for every later wait, and a null partner is allowed.
    EXPECT_TRUE(second.isSet());
    EXPECT_TRUE(PStopEvent::waitAny(nullptr, &second, 10000));
    EXPECT_FALSE(PStopEvent::waitAny(&first, nullptr, 0));
}

} // namespace
