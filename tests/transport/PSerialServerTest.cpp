#include "PDebugLog.h"
#include "PSerialServer.h"
#include "PSession.h"
#include "PStopEvent.h"
#include "PtyTerminal.h"
#include "SerialPortList.h"
#include "TempDir.h"
#include "TestSeams.h"
#include "TransportSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The cradle sessions' pauses for the lifetime of the object.
class ScopedPause
{
public:
    explicit ScopedPause(int ms) : saved(platform::setUsbPauseForTesting(ms)) {}
    ~ScopedPause() { platform::setUsbPauseForTesting(saved); }

private:
    int saved;
};

platform::SerialPortEntry usbPort(const QString &name, quint16 productId)
{
    platform::SerialPortEntry entry;
    entry.portName = name;
    entry.hasProductIdentifier = true;
    entry.productIdentifier = productId;
    return entry;
}

// A poller whose port listing is the test's own, a front-end with rows that knows the poller,
// and the debug log in a fresh folder.
class CradleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(terminal.isOpen()) << "no pseudo-terminal could be had";
        ASSERT_TRUE(debugLog.start());
        platform::setSerialPortLister([this]() { return listed; });
        listed = {usbPort(terminal.portName(), PSerialServer::kCradleProductId)};
        poller.reset(new PSerialServer(nullptr));
        frontEnd.serialServer = poller.get();
    }

    void TearDown() override
    {
        poller.reset();
        platform::setSerialPortLister({});
        debugLog.stop();
    }

    QString cradleName(const PtyTerminal &t) const
    {
        return QStringLiteral("Usb HA-N60/62 (") + t.portName() + QLatin1Char(')');
    }
    QStringList log() const { return logEntries(dir.file(QStringLiteral("VorelServer_debug.txt"))); }

    bool opened(const PtyTerminal &t, int times = 1)
    {
        const QString entry = QStringLiteral("Session opened. Mode: ") + cradleName(t);
        return waitFor([&]() { return log().count(entry) >= times; });
    }

    PSession *onlySession() const { return poller->sessions.size() == 1 ? poller->sessions.first() : nullptr; }

    // Until the poller has forgotten every session; each ends with its row removed.
    bool allEnded(int timeoutMs = 5000)
    {
        return waitFor([this]() { return poller->sessions.isEmpty() && poller->portNames.isEmpty(); }, timeoutMs);
    }

    TempDir dir{true};
    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 30; }};
    ScopedPause noPause{0};
    PtyTerminal terminal;
    QList<platform::SerialPortEntry> listed;
    TestFrontEnd frontEnd{TestFrontEnd::Rows::Made};
    std::unique_ptr<PSerialServer> poller;
};

TEST_F(CradleTest, ACradlePortIsServedByOneSessionUnderItsName)
{
    ASSERT_TRUE(terminal.setSpeed(B38400));
    EXPECT_FALSE(poller->running);
    ASSERT_TRUE(poller->start());
    EXPECT_TRUE(poller->running);
    ASSERT_TRUE(opened(terminal));
    ASSERT_NE(onlySession(), nullptr);
    EXPECT_EQ(onlySession()->name, cradleName(terminal));
    EXPECT_EQ(onlySession()->type, ConnectionType::Usb);

    // However many polls pass, the port keeps its one session.
    for (int i = 0; i < 20; ++i)
        poller->timerSet();
    EXPECT_EQ(poller->sessions.size(), 1);
    EXPECT_EQ(poller->portNames, QList<QString>{terminal.portName()});
    ASSERT_EQ(frontEnd.added.size(), 1);

    termios line{};
    ASSERT_TRUE(terminal.lineSettings(line));
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    EXPECT_FALSE(line.c_iflag & (IXON | IXOFF));
    EXPECT_FALSE(line.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(cfgetospeed(&line), speed_t(B38400));

    const QString local = dir.file(QStringLiteral("data.bin"));
    ASSERT_TRUE(writeAll(local, QByteArray()));
    const QByteArray path = terminalPath(local).toLatin1();
    EXPECT_EQ(terminal.call(Request("CONNECT")), "OK");
    EXPECT_EQ(terminal.call(Request("OpenFile").str(path)), hex("00000001 00000001"));
    EXPECT_EQ(terminal.call(Request("WriteFile").word(1).word(5).raw("HELLO")), hex("00000001 00000005"));
    EXPECT_EQ(terminal.call(Request("SeekFile").word(1).word(1)), hex("00000001"));
    EXPECT_EQ(terminal.call(Request("ReadFile").word(1).word(3)), hex("00000001 00000003") + "ELL");
    // The header and the payload of one request in separate pieces.
    const QByteArray close = Request("CloseFile").word(1);
    ASSERT_TRUE(terminal.sendRaw(hex("000000")));
    ASSERT_TRUE(terminal.silentFor(50));
    ASSERT_TRUE(terminal.sendRaw(QByteArray(1, char(close.size())) + close.left(4)));
    ASSERT_TRUE(terminal.silentFor(50));
    ASSERT_TRUE(terminal.sendRaw(close.mid(4)));
    QByteArray reply;
    ASSERT_TRUE(terminal.readPacket(reply));
    EXPECT_EQ(reply, hex("00000001"));
    EXPECT_EQ(readAll(local), "HELLO");

    TestRow *row = frontEnd.added.first();
    QCoreApplication::processEvents();
    EXPECT_EQ(row->types, QStringList{cradleName(terminal)});
    EXPECT_EQ(row->messages, (QStringList{QStringLiteral("Waiting port"), QStringLiteral("Connection is established")}));
}

TEST_F(CradleTest, ATerminalLeavingTheCradleEndsItsSessionPromptly)
{
    poller->timerSet();
    ASSERT_TRUE(opened(terminal));
    EXPECT_EQ(terminal.call(Request("CONNECT")), "OK");
    QPointer<PSession> session = onlySession();
    // Listed no more, so that no new session tries the vanished port.
    listed.clear();
    QElapsedTimer timer;
    timer.start();
    terminal.close();
    ASSERT_TRUE(allEnded(8000));
    EXPECT_LT(timer.elapsed(), 8000);
    ASSERT_TRUE(waitFor([&]() { return session.isNull(); }));
    EXPECT_EQ(log().last(), QStringLiteral("Session closed. Mode: ") + cradleName(terminal));
    EXPECT_EQ(frontEnd.removed.size(), 1);
}

TEST_F(CradleTest, StopEndsASessionInMidReadAtOnceAndAStartServesTheCradleAnew)
{
    ASSERT_TRUE(poller->start());
    ASSERT_TRUE(opened(terminal));
    EXPECT_EQ(terminal.call(Request("CONNECT")), "OK");
    const std::shared_ptr<PStopEvent> firstRun = poller->stopEvent;
    {
        // A closing pause would now show: the stop must skip it.
        ScopedPause longPause(20000);
        QElapsedTimer timer;
        timer.start();
        // Started again at once: the old session still ends, with the old run's event.
        poller->stop();
        EXPECT_FALSE(poller->running);
        poller->start();
        EXPECT_TRUE(firstRun->isSet());
        EXPECT_NE(poller->stopEvent, firstRun);
        EXPECT_FALSE(poller->stopEvent->isSet());
        ASSERT_TRUE(waitFor([&]() { return log().count(QStringLiteral("Session closed. Mode: ") + cradleName(terminal)) == 1; }, 8000));
        EXPECT_LT(timer.elapsed(), 8000);
    }
    // The next tick of the new run serves the terminal again.
    ASSERT_TRUE(opened(terminal, 2));
    EXPECT_EQ(terminal.call(Request("CONNECT")), "OK");
    EXPECT_EQ(poller->sessions.size(), 1);
}

TEST_F(CradleTest, StopEndsTheOpeningPauseWithoutOpeningThePort)
{
    ScopedPause longPause(20000);
    ASSERT_TRUE(poller->start());
    poller->timerSet();
    ASSERT_EQ(frontEnd.added.size(), 1);
    TestRow *row = frontEnd.added.first();
    ASSERT_TRUE(waitFor([&]() { return row->messages.contains(QStringLiteral("Waiting port")); }));
    QElapsedTimer timer;
    timer.start();
    poller->stop();
    ASSERT_TRUE(allEnded(8000));
    EXPECT_LT(timer.elapsed(), 8000);
    EXPECT_TRUE(log().isEmpty());
    EXPECT_EQ(frontEnd.removed, QList<QObject *>{row});
    // The port was never touched: it is still as cooked as it came.
    termios line{};
    ASSERT_TRUE(terminal.lineSettings(line));
    EXPECT_TRUE(line.c_lflag & ICANON);
}

TEST_F(CradleTest, EndingASessionCutsItsClosingPauseShort)
{
    poller->timerSet();
    ASSERT_TRUE(opened(terminal));
    QPointer<PSession> session = onlySession();
    ScopedPause longPause(20000);
    listed.clear();
    terminal.close();
    TestRow *row = frontEnd.added.first();
    ASSERT_TRUE(waitFor([&]() { return row->messages.contains(QStringLiteral("Stopping port")); }));
    // In its closing pause now, since the poller is not stopping.
    ASSERT_FALSE(session.isNull());
    EXPECT_FALSE(session->isFinished());
    QElapsedTimer timer;
    timer.start();
    session->stop();
    ASSERT_TRUE(allEnded(8000));
    EXPECT_LT(timer.elapsed(), 8000);
}

TEST_F(CradleTest, TeardownEndsTheCradleSessions)
{
    // Polled by hand: the poller is not running, so only the sessions' own stops end them.
    poller->timerSet();
    ASSERT_TRUE(opened(terminal));
    QPointer<PSession> session = onlySession();
    ScopedPause longPause(20000);
    QElapsedTimer timer;
    timer.start();
    frontEnd.teardown();
    EXPECT_TRUE(session.isNull());
    EXPECT_LT(timer.elapsed(), 8000);
    EXPECT_EQ(log().last(), QStringLiteral("Session closed. Mode: ") + cradleName(terminal));
}

TEST_F(CradleTest, OnlyCradlePortsAreOpenedAndTwoCradlesGetTwoSessions)
{
    PtyTerminal second;
    PtyTerminal other;
    PtyTerminal plain;
    ASSERT_TRUE(second.isOpen() && other.isOpen() && plain.isOpen());
    platform::SerialPortEntry noUsb;
    noUsb.portName = plain.portName();
    listed = {usbPort(other.portName(), 0x3306), noUsb,
              usbPort(terminal.portName(), PSerialServer::kCradleProductId),
              usbPort(second.portName(), PSerialServer::kCradleProductId)};
    frontEnd.rows = TestFrontEnd::Rows::None;
    poller->timerSet();
    ASSERT_TRUE(opened(terminal));
    ASSERT_TRUE(opened(second));
    EXPECT_EQ(poller->portNames, (QList<QString>{terminal.portName(), second.portName()}));
    EXPECT_EQ(terminal.call(Request("CONNECT")), "OK");
    EXPECT_EQ(second.call(Request("CONNECT")), "OK");

    for (PtyTerminal *untouched : {&other, &plain}) {
        termios line{};
        ASSERT_TRUE(untouched->lineSettings(line));
        EXPECT_TRUE(line.c_lflag & ICANON) << untouched->portName().toStdString();
        const int fd = ::open(untouched->path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }
}

TEST_F(CradleTest, APortWithoutARowOrThatDoesNotOpenIsTriedAgainLater)
{
    frontEnd.rows = TestFrontEnd::Rows::Refused;
    poller->timerSet();
    EXPECT_TRUE(poller->portNames.isEmpty());
    EXPECT_TRUE(poller->sessions.isEmpty());

    // A port that cannot be opened: its session ends, serving nothing, with only the reason in the
    // log, and the port is released.
    frontEnd.rows = TestFrontEnd::Rows::Made;
    listed = {usbPort(QStringLiteral("ttyNoSuchCradle"), PSerialServer::kCradleProductId)};
    poller->timerSet();
    ASSERT_TRUE(allEnded());
    EXPECT_EQ(frontEnd.added.size(), 1);
    EXPECT_EQ(frontEnd.removed.size(), 1);
    EXPECT_EQ(log(), QStringList{QStringLiteral("open /dev/ttyNoSuchCradle: ")
                                 + QString::fromLocal8Bit(std::strerror(ENOENT))});
    poller->timerSet();
    ASSERT_TRUE(allEnded());
    EXPECT_EQ(frontEnd.added.size(), 2);

    listed = {usbPort(terminal.portName(), PSerialServer::kCradleProductId)};
    poller->timerSet();
    EXPECT_TRUE(opened(terminal));
}

} // namespace
