#include "AboutDialog.h"
#include "DesktopSupport.h"
#include "FakeLinks.h"
#include "PActions.h"
#include "PBtServer.h"
#include "PDebugLog.h"
#include "PIrdaServer.h"
#include "PLanguages.h"
#include "PNetServer.h"
#include "PSerialServer.h"
#include "PtyTerminal.h"
#include "SerialPortList.h"
#include "ProgramInfo.h"
#include "SetupDialog.h"
#include "TempDir.h"
#include "TestSeams.h"
#include "TransportSupport.h"
#include "VorelWidget.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QTcpServer>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

namespace {

// ---- The status line ------------------------------------------------------------------------

struct StatusRow
{
    const char *name;
    bool running;
    LinkStates links;
    int connections;
    const char *expected;
};

void PrintTo(const StatusRow &row, std::ostream *out)
{
    *out << row.name;
}

class StatusLine : public ::testing::TestWithParam<StatusRow>
{
};

TEST_P(StatusLine, NamesTheRunningLinksInTheirOrder)
{
    const StatusRow &row = GetParam();
    EXPECT_EQ(VorelServer::statusText(row.running, row.links, 2000, row.connections),
              QString::fromUtf8(row.expected));
}

LinkStates links(bool net, bool bt, bool irda, bool ircomm, bool serial)
{
    LinkStates states;
    states.network = net;
    states.bluetooth = bt;
    states.irdaNormal = irda;
    states.irdaIrcomm = ircomm;
    states.serial = serial;
    return states;
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, StatusLine,
    ::testing::Values(
        StatusRow{"Stopped", false, links(false, false, false, false, false), 0, "Server is stopped"},
        StatusRow{"StoppedWithSessionsLeft", false, links(false, false, false, false, false), 3,
                  "Server is stopped"},
        StatusRow{"NetworkOnly", true, links(true, false, false, false, false), 0,
                  "Server is started. <b>Network</b> (port: 2000). Active connections: 0"},
        StatusRow{"NetworkTwoTerminals", true, links(true, false, false, false, false), 2,
                  "Server is started. <b>Network</b> (port: 2000). Active connections: 2"},
        StatusRow{"NetworkAndBluetooth", true, links(true, true, false, false, false), 0,
                  "Server is started. <b>Network</b> (port: 2000). <b>Bluetooth</b>. Active connections: 0"},
        StatusRow{"BluetoothAlone", true, links(false, true, false, false, false), 0,
                  "Server is started. <b>Bluetooth</b>. Active connections: 0"},
        StatusRow{"IrdaNormal", true, links(false, false, true, false, false), 1,
                  "Server is started. <b>Irda</b> (Normal). Active connections: 1"},
        StatusRow{"IrdaIrcomm", true, links(false, false, false, true, false), 0,
                  "Server is started. <b>Irda</b> (Ircomm). Active connections: 0"},
        StatusRow{"SerialAlone", true, links(false, false, false, false, true), 0,
                  "Server is started. <b>USB</b> (HA-N60). Active connections: 0"},
        StatusRow{"AllFive", true, links(true, true, true, true, true), 5,
                  "Server is started. <b>Network</b> (port: 2000). <b>Bluetooth</b>. <b>Irda</b> (Normal). "
                  "<b>Irda</b> (Ircomm). <b>USB</b> (HA-N60). Active connections: 5"},
        StatusRow{"AllFiveWithoutNetwork", true, links(false, true, true, true, true), 0,
                  "Server is started. <b>Bluetooth</b>. <b>Irda</b> (Normal). <b>Irda</b> (Ircomm). "
                  "<b>USB</b> (HA-N60). Active connections: 0"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- Starting and stopping ------------------------------------------------------------------

class MainWindow : public ::testing::Test
{
protected:
    TempDir dir{true};
    DialogRadio radio;
};

TEST_F(MainWindow, StartsTheNetworkLinkAndShowsItInTheStatusLineAndTray)
{
    const quint16 port = freeTcpPort();
    ScopedSettings chosen([port](PSettings &s) { s.networkPort = port; });
    BoxRecorder boxes;
    TestWindow window;
    EXPECT_EQ(vorelServer, static_cast<PFrontEnd *>(&window));
    EXPECT_EQ(window.ui.labelServerState->text(), QStringLiteral("Server is stopped"));
    EXPECT_TRUE(window.ui.toolButtonStart->isEnabled());
    EXPECT_FALSE(window.ui.toolButtonStop->isEnabled());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("VorelServer version 2.04") + QLatin1String(kBuildWidth));

    window.startButton();
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_TRUE(window.running);
    EXPECT_TRUE(window.netServer->isListening());
    EXPECT_EQ(window.netServer->serverPort(), port);
    const QString status = QStringLiteral("Server is started. <b>Network</b> (port: %1). Active connections: 0").arg(port);
    EXPECT_EQ(window.ui.labelServerState->text(), status);
    EXPECT_EQ(window.trayIcon->toolTip(),
              QStringLiteral("Server is started. Network (port: %1). Active connections: 0").arg(port));
    EXPECT_FALSE(window.ui.toolButtonStart->isEnabled());
    EXPECT_FALSE(window.actions->startAction->isEnabled());
    EXPECT_TRUE(window.ui.toolButtonStop->isEnabled());
    EXPECT_TRUE(window.actions->stopAction->isEnabled());
}

TEST_F(MainWindow, WithNoLinkEnabledStartLeavesTheServerStopped)
{
    ScopedSettings chosen([](PSettings &s) { s.networkEnable = 0; });
    BoxRecorder boxes;
    TestWindow window;
    window.startButton();
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_FALSE(window.running);
    EXPECT_TRUE(window.ui.toolButtonStart->isEnabled());
    EXPECT_EQ(window.ui.labelServerState->text(), QStringLiteral("Server is stopped"));
}

TEST_F(MainWindow, EachLinkThatFailsShowsItsOwnErrorAndTheOthersAreStillTried)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any));
    const int port = taken.serverPort();
    ScopedSettings chosen([port](PSettings &s) {
        s.networkPort = port;
        s.bluetoothEnable = 1;
        s.irdaNormalEnable = 1;
        s.irdaIrcommEnable = 1;
        s.casioN60Enable = 1;
    });
    FakeBluetoothStack bluetooth;
    bluetooth.noRadio = true;
    NoIrda irda;
    BoxRecorder boxes(QMessageBox::Ok);
    TestWindow window;
    window.startButton();
    ASSERT_FALSE(boxes.boxes.isEmpty());
    const PMessageBox::Box &first = boxes.boxes.first();
    EXPECT_EQ(first.kind, PMessageBox::Kind::Critical);
    EXPECT_EQ(first.title, QStringLiteral("Error"));
    EXPECT_EQ(first.text, QStringLiteral("Unable to start the network server on port %1").arg(port));
    EXPECT_EQ(first.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(first.parent, &window);
    EXPECT_FALSE(window.netServer->running);
    EXPECT_EQ(boxes.texts(), QStringList({QStringLiteral("Unable to start the network server on port %1").arg(port),
                                          QStringLiteral("Unable to start the bluetooth server"),
                                          QStringLiteral("Unable to start the irda server"),
                                          QStringLiteral("Unable to start the irda ircomm server")}));
    // The cradle poller always starts; it is what runs.
    EXPECT_TRUE(window.running);
    EXPECT_TRUE(window.serialServer->running);
    EXPECT_EQ(window.ui.labelServerState->text(),
              QStringLiteral("Server is started. <b>USB</b> (HA-N60). Active connections: 0"));
}

TEST_F(MainWindow, AnOccupiedPortFailsAloneWhileTheOtherLinksStart)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any));
    const int port = taken.serverPort();
    ScopedSettings chosen([port](PSettings &s) {
        s.networkPort = port;
        s.bluetoothEnable = 1;
        s.irdaNormalEnable = 1;
        s.irdaIrcommEnable = 1;
    });
    FakeBluetoothStack bluetooth;
    FakeIrdaStack irda;
    BoxRecorder boxes(QMessageBox::Yes);
    TestWindow window;
    window.startButton();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("Unable to start the network server on port %1").arg(port)});
    EXPECT_TRUE(window.running);
    EXPECT_TRUE(window.btServer->running);
    EXPECT_TRUE(window.irdaServer->running);
    EXPECT_TRUE(window.ircommServer->running);
    EXPECT_EQ(irda.listens, QList<bool>({false, true}));
    EXPECT_EQ(window.ui.labelServerState->text(),
              QStringLiteral("Server is started. <b>Bluetooth</b>. <b>Irda</b> (Normal). <b>Irda</b> (Ircomm). "
                             "Active connections: 0"));
    EXPECT_FALSE(window.ui.toolButtonStart->isEnabled());

    window.stopButton();
    EXPECT_FALSE(window.running);
    EXPECT_FALSE(window.btServer->running);
    EXPECT_FALSE(window.irdaServer->running);
    EXPECT_FALSE(window.ircommServer->running);
    EXPECT_FALSE(bluetooth.published);
}

TEST_F(MainWindow, APortOutsideTheRangeFailsWithItsNumberInTheBox)
{
    ScopedSettings chosen([](PSettings &s) { s.networkPort = -5; });
    BoxRecorder boxes(QMessageBox::Ok);
    TestWindow window;
    window.startButton();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("Unable to start the network server on port -5")});
    EXPECT_FALSE(window.running);
}

TEST_F(MainWindow, ASecondStartWhileTheFirstShowsABoxIsIgnored)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any));
    const int port = taken.serverPort();
    ScopedSettings chosen([port](PSettings &s) { s.networkPort = port; });
    BoxRecorder boxes(QMessageBox::Ok);
    TestWindow window;
    int nested = 0;
    boxes.during = [&] {
        if (nested++ == 0)
            window.actions->startAction->trigger();
    };
    window.startButton();
    EXPECT_EQ(boxes.boxes.size(), 1);
    // Once the first is over, Start works again.
    window.startButton();
    EXPECT_EQ(boxes.boxes.size(), 2);
}

TEST_F(MainWindow, StopAsksFirstAndOnlyYesStopsTheLinks)
{
    const quint16 port = freeTcpPort();
    ScopedSettings chosen([port](PSettings &s) { s.networkPort = port; });
    BoxRecorder boxes;
    TestWindow window;
    window.startButton();
    ASSERT_TRUE(window.running);

    boxes.answers = {QMessageBox::No};
    window.stopButton();
    ASSERT_EQ(boxes.boxes.size(), 1);
    const PMessageBox::Box &question = boxes.boxes.first();
    EXPECT_EQ(question.kind, PMessageBox::Kind::Question);
    EXPECT_EQ(question.title, QStringLiteral("Confirmation"));
    EXPECT_EQ(question.text, QStringLiteral("Stop the server?"));
    EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(window.running);
    EXPECT_TRUE(window.netServer->isListening());

    boxes.answers = {QMessageBox::Yes};
    window.actions->stopAction->trigger();
    EXPECT_EQ(boxes.boxes.size(), 2);
    EXPECT_FALSE(window.running);
    EXPECT_FALSE(window.netServer->isListening());
    EXPECT_EQ(window.ui.labelServerState->text(), QStringLiteral("Server is stopped"));
    EXPECT_TRUE(window.ui.toolButtonStart->isEnabled());
    EXPECT_FALSE(window.ui.toolButtonStop->isEnabled());
}

// One link of the window's table: its switch, its own flag read straight from its object, and
// the status line when it alone runs (%1 the network port).
struct WindowLinkRow
{
    const char *name;
    quint8 PSettings::*enable;
    bool (*ownFlag)(const VorelServer &);
    const char *status;
};

void PrintTo(const WindowLinkRow &row, std::ostream *out)
{
    *out << row.name;
}

const WindowLinkRow kWindowLinks[] = {
    {"Network", &PSettings::networkEnable,
     [](const VorelServer &w) { return w.netServer->running; },
     "Server is started. <b>Network</b> (port: %1). Active connections: 0"},
    {"Bluetooth", &PSettings::bluetoothEnable,
     [](const VorelServer &w) { return w.btServer->running; }, "Server is started. <b>Bluetooth</b>. Active connections: 0"},
    {"IrdaNormal", &PSettings::irdaNormalEnable,
     [](const VorelServer &w) { return w.irdaServer->running; },
     "Server is started. <b>Irda</b> (Normal). Active connections: 0"},
    {"IrdaIrcomm", &PSettings::irdaIrcommEnable,
     [](const VorelServer &w) { return w.ircommServer->running; },
     "Server is started. <b>Irda</b> (Ircomm). Active connections: 0"},
    {"Serial", &PSettings::casioN60Enable,
     [](const VorelServer &w) { return w.serialServer->running; },
     "Server is started. <b>USB</b> (HA-N60). Active connections: 0"},
};

class WindowLinkTable : public ::testing::TestWithParam<WindowLinkRow>
{
protected:
    TempDir dir{true};
};

TEST_P(WindowLinkTable, EachSwitchStartsOnlyItsOwnLinkAndStopEndsIt)
{
    const WindowLinkRow &wanted = GetParam();
    const quint16 port = freeTcpPort();
    ScopedSettings chosen([&](PSettings &s) {
        for (const WindowLinkRow &row : kWindowLinks)
            s.*row.enable = 0;
        s.*wanted.enable = 1;
        s.networkPort = port;
    });
    FakeBluetoothStack bluetooth;
    FakeIrdaStack irda;
    BoxRecorder boxes(QMessageBox::Yes);
    TestWindow window;
    window.startButton();
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_TRUE(window.running);
    for (const WindowLinkRow &row : kWindowLinks) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.ownFlag(window), row.enable == wanted.enable);
    }
    QString status = QString::fromLatin1(wanted.status);
    if (wanted.enable == &PSettings::networkEnable)
        status = status.arg(port);
    EXPECT_EQ(window.ui.labelServerState->text(), status);

    window.stopButton();
    EXPECT_FALSE(window.running);
    for (const WindowLinkRow &row : kWindowLinks) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(row.ownFlag(window));
    }
    EXPECT_EQ(window.ui.labelServerState->text(), QStringLiteral("Server is stopped"));
}

INSTANTIATE_TEST_SUITE_P(Links, WindowLinkTable, ::testing::ValuesIn(kWindowLinks),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Exit -----------------------------------------------------------------------------------

struct ExitRow
{
    const char *name;
    bool running;
    bool hidden;
    QMessageBox::StandardButton answer;
};

void PrintTo(const ExitRow &row, std::ostream *out)
{
    *out << row.name;
}

class ExitQuestion : public ::testing::TestWithParam<ExitRow>
{
protected:
    TempDir dir{true};
};

TEST_P(ExitQuestion, AsksAndEndsOnlyOnYes)
{
    const ExitRow &row = GetParam();
    const quint16 port = freeTcpPort();
    ScopedSettings chosen([port](PSettings &s) { s.networkPort = port; });
    BoxRecorder boxes;
    TestWindow window(true);
    window.show();
    if (row.running)
        window.startButton();
    if (row.hidden)
        window.hide();
    QApplication::setQuitOnLastWindowClosed(false);

    bool shownWhileAsking = false;
    boxes.during = [&] { shownWhileAsking = window.isVisible(); };
    boxes.answers = {row.answer};
    const bool closed = window.close();

    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes.first().title, QStringLiteral("Confirmation"));
    EXPECT_EQ(boxes.boxes.first().text, row.running ? QStringLiteral("Server is running. Stop and exit the VorelServer?")
                                                    : QStringLiteral("Exit the VorelServer?"));
    EXPECT_EQ(boxes.boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(shownWhileAsking);
    if (row.answer == QMessageBox::Yes) {
        EXPECT_TRUE(closed);
        EXPECT_FALSE(window.isVisible());
        EXPECT_FALSE(window.running);
        EXPECT_FALSE(window.netServer->isListening());
        EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    } else {
        EXPECT_FALSE(closed);
        EXPECT_EQ(window.isVisible(), !row.hidden);
        EXPECT_EQ(window.running, row.running);
        EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    }
    // Other tests create windows of their own; the next confirmed close must not end them.
    QApplication::setQuitOnLastWindowClosed(false);
}

INSTANTIATE_TEST_SUITE_P(Answers, ExitQuestion,
                         ::testing::Values(ExitRow{"StoppedYes", false, false, QMessageBox::Yes},
                                           ExitRow{"StoppedNo", false, false, QMessageBox::No},
                                           ExitRow{"RunningYes", true, false, QMessageBox::Yes},
                                           ExitRow{"RunningNo", true, false, QMessageBox::No},
                                           ExitRow{"HiddenInTrayNo", false, true, QMessageBox::No},
                                           ExitRow{"HiddenInTrayYes", true, true, QMessageBox::Yes}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MainWindow, ConfirmedExitStopsTheDebugLog)
{
    ScopedSettings chosen([](PSettings &s) {
        s.networkEnable = 0;
        s.createDebug = 1;
    });
    ASSERT_TRUE(debugLog.start());
    BoxRecorder boxes(QMessageBox::Yes);
    TestWindow window;
    window.show();
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(debugLog.isStarted());
    QApplication::setQuitOnLastWindowClosed(false);
}

TEST_F(MainWindow, AConfirmedCloseEndsTheEventLoopAndDeclinedOneDoesNot)
{
    ScopedSettings chosen([](PSettings &s) { s.networkEnable = 0; });
    BoxRecorder boxes;
    TestWindow window;
    window.show();
    QApplication::setQuitOnLastWindowClosed(false);
    bool visibleAfterDecline = false;
    // First a declined close: the loop must go on to the accepted one.
    boxes.answers = {QMessageBox::No, QMessageBox::Yes};
    QTimer::singleShot(0, &window, [&] { window.close(); });
    QTimer::singleShot(10, &window, [&] {
        visibleAfterDecline = window.isVisible();
        window.close();
    });
    // A loop that is still running after this is a failure, not a hang of the suite.
    QTimer::singleShot(5000, &window, [] { QApplication::exit(7); });
    const int result = QApplication::exec();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(visibleAfterDecline);
    EXPECT_EQ(boxes.boxes.size(), 2);
    QApplication::setQuitOnLastWindowClosed(false);
}

// ---- Session rows ---------------------------------------------------------------------------

TEST_F(MainWindow, ATerminalGetsARowWhileItIsConnected)
{
    const quint16 port = freeTcpPort();
    ScopedSettings chosen([port](PSettings &s) { s.networkPort = port; });
    BoxRecorder boxes;
    TestWindow window;
    window.show();
    window.startButton();
    ASSERT_TRUE(window.running);

    Client first;
    Client second;
    ASSERT_TRUE(first.connectTo(port));
    ASSERT_TRUE(second.connectTo(port));
    ASSERT_TRUE(waitFor([&] { return window.widgets.size() == 2; }));
    QTableWidget *table = window.ui.tableWidgetGlobal;
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->rowHeight(0), 65);
    auto *row = qobject_cast<VorelWidget *>(table->cellWidget(0, 0));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row, window.widgets.first());
    ASSERT_TRUE(waitFor([&] { return row->messageText() == QStringLiteral("Connection is established"); }));
    EXPECT_EQ(row->typeText(), QStringLiteral("<font color = red>Network</font>"));
    EXPECT_EQ(window.ui.labelServerState->text(),
              QStringLiteral("Server is started. <b>Network</b> (port: %1). Active connections: 2").arg(port));
    EXPECT_EQ(window.trayIcon->toolTip(),
              QStringLiteral("Server is started. Network (port: %1). Active connections: 2").arg(port));
    // The window is visible: no tray message.
    EXPECT_TRUE(window.trayMessages.isEmpty());

    first.close();
    ASSERT_TRUE(waitFor([&] { return window.widgets.size() == 1; }));
    EXPECT_EQ(table->rowCount(), 1);
    second.close();
    ASSERT_TRUE(waitFor([&] { return window.widgets.isEmpty(); }));
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_EQ(window.ui.labelServerState->text(),
              QStringLiteral("Server is started. <b>Network</b> (port: %1). Active connections: 0").arg(port));
}

TEST_F(MainWindow, ABluetoothTerminalsRowNamesItsAddress)
{
    ScopedSettings chosen([](PSettings &s) {
        s.networkEnable = 0;
        s.bluetoothEnable = 1;
    });
    FakeBluetoothStack bluetooth;
    BoxRecorder boxes;
    TestWindow window;
    window.show();
    window.startButton();
    ASSERT_TRUE(window.btServer->running);
    Client terminal;
    terminal.adopt(connectLocal(bluetooth.name));
    ASSERT_GE(terminal.fd(), 0);
    ASSERT_TRUE(waitFor([&] { return window.widgets.size() == 1; }));
    auto *row = qobject_cast<VorelWidget *>(window.widgets.first());
    ASSERT_NE(row, nullptr);
    ASSERT_TRUE(waitFor([&] { return row->messageText() == QStringLiteral("Connection is established"); }));
    EXPECT_EQ(row->typeText(), QStringLiteral("<font color = red>Bluetooth (00:11:22:33:44:AA)</font>"));
    EXPECT_EQ(window.ui.labelServerState->text(),
              QStringLiteral("Server is started. <b>Bluetooth</b>. Active connections: 1"));
    terminal.close();
    ASSERT_TRUE(waitFor([&] { return window.widgets.isEmpty(); }));
}

TEST_F(MainWindow, ATerminalInTheCradleGetsARowUntilTheLinkStops)
{
    ScopedSettings chosen([](PSettings &s) {
        s.networkEnable = 0;
        s.casioN60Enable = 1;
    });
    PtyTerminal terminal;
    ASSERT_TRUE(terminal.isOpen());
    const QString portName = terminal.portName();
    platform::setSerialPortLister([portName] {
        platform::SerialPortEntry cradle;
        cradle.portName = portName;
        cradle.hasProductIdentifier = true;
        cradle.productIdentifier = PSerialServer::kCradleProductId;
        return QList<platform::SerialPortEntry>{cradle};
    });
    // Put back however the test ends.
    struct Restore
    {
        int pause = platform::setUsbPauseForTesting(0);
        ~Restore()
        {
            platform::setUsbPauseForTesting(pause);
            platform::setSerialPortLister({});
        }
    } restore;
    {
        BoxRecorder boxes(QMessageBox::Yes);
        TestWindow window;
        window.show();
        window.startButton();
        ASSERT_TRUE(window.serialServer->running);
        ASSERT_TRUE(waitFor([&] { return window.widgets.size() == 1; }));
        auto *row = qobject_cast<VorelWidget *>(window.widgets.first());
        ASSERT_NE(row, nullptr);
        // The row comes first; its session names it from its own thread.
        ASSERT_TRUE(waitFor([&] { return row->messageText() == QStringLiteral("Connection is established"); }));
        EXPECT_EQ(row->typeText(), QStringLiteral("<font color = red>Usb HA-N60/62 (%1)</font>").arg(portName));
        EXPECT_EQ(window.ui.labelServerState->text(),
                  QStringLiteral("Server is started. <b>USB</b> (HA-N60). Active connections: 1"));
        // Stopping the poller ends its sessions at once, unlike the listeners'.
        window.stopButton();
        EXPECT_TRUE(waitFor([&] { return window.widgets.isEmpty(); }));
        EXPECT_EQ(window.ui.labelServerState->text(), QStringLiteral("Server is stopped"));
    }
}

TEST_F(MainWindow, ARunningSessionEndsWithTheWindow)
{
    const quint16 port = freeTcpPort();
    ScopedSettings chosen([port](PSettings &s) { s.networkPort = port; });
    Client client;
    {
        BoxRecorder boxes;
        TestWindow window;
        window.startButton();
        ASSERT_TRUE(client.connectTo(port));
        ASSERT_TRUE(waitFor([&] { return window.widgets.size() == 1; }));
    }
    EXPECT_EQ(vorelServer, nullptr);
    EXPECT_TRUE(client.closedWithoutReply());
}

TEST_F(MainWindow, RowsAddedWhileHiddenAreAnnouncedInTheTray)
{
    BoxRecorder boxes;
    TestWindow window(true);
    window.show();
    QObject *shown = window.addWidget();
    EXPECT_TRUE(window.trayMessages.isEmpty());
    window.hide();
    QObject *hidden = window.addWidget();
    EXPECT_EQ(window.trayMessages, QStringList{QStringLiteral("Terminal connected")});
    window.removeWidget(shown);
    window.removeWidget(hidden);
    EXPECT_EQ(window.trayMessages, QStringList({QStringLiteral("Terminal connected"),
                                                QStringLiteral("Terminal disconnected"),
                                                QStringLiteral("Terminal disconnected")}));
    EXPECT_EQ(window.ui.tableWidgetGlobal->rowCount(), 0);
    // A row that is no longer listed changes nothing.
    window.removeWidget(shown);
    EXPECT_TRUE(window.widgets.isEmpty());
}

// ---- Showing, minimising, the tray ----------------------------------------------------------

struct ShowRow
{
    const char *name;
    quint8 runMinimized;
    quint8 minimizeToTray;
    bool tray;
    bool visible;
    bool minimized;
};

void PrintTo(const ShowRow &row, std::ostream *out)
{
    *out << row.name;
}

class StartupShow : public ::testing::TestWithParam<ShowRow>
{
};

TEST_P(StartupShow, FollowsTheSettingsAndNeverHidesWithoutATray)
{
    const ShowRow &row = GetParam();
    ScopedSettings chosen([&](PSettings &s) {
        s.runMinimized = row.runMinimized;
        s.minimizeToTray = row.minimizeToTray;
    });
    TestWindow window(row.tray);
    window.showAtStartup();
    EXPECT_EQ(window.isVisible(), row.visible);
    EXPECT_EQ(window.isMinimized(), row.minimized);
}

INSTANTIATE_TEST_SUITE_P(Settings, StartupShow,
                         ::testing::Values(ShowRow{"Normal", 0, 1, true, true, false},
                                           ShowRow{"MinimizedIntoTray", 1, 1, true, false, true},
                                           ShowRow{"MinimizedOnTaskBar", 1, 0, true, true, true},
                                           ShowRow{"MinimizedWithoutTray", 1, 1, false, true, true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MainWindow, MinimisingHidesIntoTheTrayOnlyWhenThereIsOne)
{
    ScopedSettings chosen([](PSettings &s) { s.minimizeToTray = 1; });
    TestWindow withTray(true);
    withTray.show();
    withTray.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    EXPECT_FALSE(withTray.isVisible());

    TestWindow withoutTray(false);
    withoutTray.show();
    withoutTray.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    EXPECT_TRUE(withoutTray.isVisible());
    EXPECT_TRUE(withoutTray.isMinimized());
}

TEST_F(MainWindow, DoubleClickOnTheTrayTogglesTheWindow)
{
    {
        ScopedSettings chosen([](PSettings &s) { s.minimizeToTray = 1; });
        TestWindow window(true);
        window.show();
        window.trayActivated(QSystemTrayIcon::Trigger);
        EXPECT_TRUE(window.isVisible());
        window.trayActivated(QSystemTrayIcon::DoubleClick);
        EXPECT_FALSE(window.isVisible());
        window.trayActivated(QSystemTrayIcon::DoubleClick);
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.isMinimized());
    }
    {
        ScopedSettings chosen([](PSettings &s) { s.minimizeToTray = 0; });
        TestWindow window(true);
        window.show();
        window.trayActivated(QSystemTrayIcon::DoubleClick);
        EXPECT_TRUE(window.isMinimized());
        window.trayActivated(QSystemTrayIcon::DoubleClick);
        EXPECT_FALSE(window.isMinimized());
        EXPECT_TRUE(window.isVisible());
    }
}

// ---- Settings and about from the window -----------------------------------------------------

TEST_F(MainWindow, AcceptedLanguageSwitchRetranslatesTheWindowAndCancelRestoresIt)
{
    ASSERT_TRUE(QFile::copy(QStringLiteral(FIXTURE_QM_DIR "/vorelserver_de.qm"), dir.file("vorelserver_de.qm")));
    languages.scan();
    const QString german = QLocale::languageToString(QLocale::German);
    ScopedSettings chosen([](PSettings &s) {
        s.networkEnable = 0;
        s.language = QStringLiteral("English");
    });
    BoxRecorder boxes(QMessageBox::Yes);
    TestWindow window;

    // Cancelled after switching: back to English, the window untouched.
    whenModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<SetupDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->ui.comboBoxLanguage->setCurrentText(german);
        EXPECT_EQ(languages.currentLanguage(), german);
        dialog->reject();
    });
    window.setupButton();
    EXPECT_EQ(languages.currentLanguage(), QStringLiteral("English"));
    EXPECT_EQ(window.ui.toolButtonStart->text(), QStringLiteral("Start"));

    // Accepted: buttons, tray actions and status line in German; the title is the form's.
    whenModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<SetupDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->ui.comboBoxLanguage->setCurrentText(german);
        dialog->accept();
    });
    window.setupButton();
    EXPECT_EQ(languages.currentLanguage(), german);
    EXPECT_EQ(settings.snapshot().language, german);
    EXPECT_EQ(window.ui.toolButtonStart->text(), QStringLiteral("Starten"));
    EXPECT_EQ(window.ui.toolButtonSetup->text(), QStringLiteral("Einstellungen"));
    EXPECT_EQ(window.actions->startAction->text(), QStringLiteral("Starten (Menü)"));
    EXPECT_EQ(window.actions->exitAction->text(), QStringLiteral("Beenden"));
    EXPECT_EQ(window.ui.labelServerState->text(), QStringLiteral("Server ist gestoppt"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("VorelServer"));
    languages.init();
}

TEST_F(MainWindow, TheDebugLogFollowsTheSwitchAfterTheDialog)
{
    ScopedSettings chosen([](PSettings &s) { s.networkEnable = 0; });
    BoxRecorder boxes(QMessageBox::Yes);
    TestWindow window;
    ASSERT_FALSE(debugLog.isStarted());
    whenModal([](QWidget *modal) {
        auto *dialog = qobject_cast<SetupDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->ui.checkBoxCreateDebug->setChecked(true);
        dialog->accept();
    });
    window.setupButton();
    EXPECT_TRUE(debugLog.isStarted());
    EXPECT_TRUE(QFile::exists(dir.file("VorelServer_debug.txt")));

    whenModal([](QWidget *modal) {
        auto *dialog = qobject_cast<SetupDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->ui.checkBoxCreateDebug->setChecked(false);
        dialog->accept();
    });
    window.actions->settingsAction->trigger();
    EXPECT_FALSE(debugLog.isStarted());
}

TEST_F(MainWindow, ASecondSettingsWhileTheDialogIsOpenIsIgnored)
{
    ScopedSettings chosen;
    TestWindow window;
    int dialogs = 0;
    whenModal([&](QWidget *modal) {
        window.actions->settingsAction->trigger();
        for (QWidget *widget : QApplication::topLevelWidgets())
            dialogs += qobject_cast<SetupDialog *>(widget) != nullptr;
        qobject_cast<QDialog *>(modal)->reject();
    });
    window.setupButton();
    EXPECT_EQ(dialogs, 1);
}

TEST_F(MainWindow, AboutOpensTheAboutBox)
{
    TestWindow window;
    QString title;
    whenModal([&](QWidget *modal) {
        title = modal->windowTitle();
        EXPECT_NE(qobject_cast<AboutDialog *>(modal), nullptr);
        qobject_cast<QDialog *>(modal)->accept();
    });
    window.actions->aboutAction->trigger();
    EXPECT_EQ(title, QStringLiteral("About..."));
}

} // namespace
