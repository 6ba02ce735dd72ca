#include "PIrdaServer.h"
#include "PSettings.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <ostream>

#include <csignal>

namespace {

const QString kSettingsName = QStringLiteral("VorelServer_settings.xml");
const QString kLogName = QStringLiteral("VorelServer_debug.txt");

// The built program copied into a folder of its own and started from another working folder,
// as a process manager would start it.
class ServiceProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        program = home.file(QStringLiteral("VorelService"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(VOREL_SERVICE_BINARY), program));
        process.setWorkingDirectory(elsewhere.path());
    }

    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    void writeSettings(quint16 port)
    {
        PSettings s;
        s.setDefaults();
        s.networkPort = port;
        // No time limit: only the program's own end can end a silent terminal's session.
        s.networkTimeout = -1;
        s.createDebug = 1;
        ASSERT_TRUE(s.save(home.file(kSettingsName)));
    }

    bool start(const QStringList &arguments)
    {
        process.start(program, arguments);
        return process.waitForStarted(5000);
    }

    // Runs an invocation that must end by itself; its exit code, or -1.
    int runToEnd(const QStringList &arguments)
    {
        if (!start(arguments) || !process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }

    // True once the program has its stop-signal handler: a signal from then on is a request.
    bool listensForStop()
    {
        const QString status = QStringLiteral("/proc/%1/status").arg(process.processId());
        return waitFor([&]() {
            const QList<QByteArray> lines = readAll(status).split('\n');
            for (const QByteArray &line : lines) {
                if (line.startsWith("SigCgt:")) {
                    bool ok = false;
                    const quint64 caught = line.mid(7).trimmed().toULongLong(&ok, 16);
                    return ok && (caught & (quint64(1) << (SIGTERM - 1)));
                }
            }
            return false;
        });
    }

    bool stopsPromptlyWithZero(int signalNumber)
    {
        QElapsedTimer timer;
        timer.start();
        ::kill(pid_t(process.processId()), signalNumber);
        const bool ended = process.waitForFinished(5000);
        EXPECT_LT(timer.elapsed(), 3000);
        return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    TempDir home;
    TempDir elsewhere;
    QString program;
    QProcess process;
};

class StopsOnSignal : public ServiceProcess, public ::testing::WithParamInterface<int>
{
};

TEST_P(StopsOnSignal, WhileATerminalIsConnected)
{
    const quint16 port = freeTcpPort();
    writeSettings(port);
    ASSERT_TRUE(start({QStringLiteral("-e")}));

    Client terminal;
    ASSERT_TRUE(waitFor([&]() { return terminal.connectTo(port); }, 10000));
    EXPECT_EQ(terminal.call(Request("CONNECT")), "OK");
    EXPECT_EQ(terminal.call(Request("GetFuture").str(QByteArray("ServerVersion"))),
              hex("00000001 00000004") + "2.05");

    EXPECT_TRUE(stopsPromptlyWithZero(GetParam()));
    EXPECT_TRUE(terminal.closedWithoutReply());

    const QByteArray log = readAll(home.file(kLogName));
    EXPECT_TRUE(log.startsWith("\xEF\xBB\xBF" "VorelServer version: 2.05 (x64) edition\n")) << log.left(80).constData();
    EXPECT_TRUE(log.contains("Session opened. Mode: Network (127.0.0.1)"));
    EXPECT_TRUE(log.contains("Session closed. Mode: Network (127.0.0.1)"));
    EXPECT_FALSE(log.contains("Debug stopped")) << "the service's log ends with its last entry";
    // Nothing lands in the working folder.
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

std::string signalName(int number)
{
    return number == SIGTERM ? "Terminate" : number == SIGINT ? "Interrupt" : "HangUp";
}

INSTANTIATE_TEST_SUITE_P(Signals, StopsOnSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto &info) { return signalName(info.param); });

TEST_F(ServiceProcess, FirstRunWritesTheDefaultsBesideTheProgram)
{
    ASSERT_TRUE(start({}));
    ASSERT_TRUE(listensForStop());
    EXPECT_TRUE(stopsPromptlyWithZero(SIGTERM));

    PSettings written;
    ASSERT_TRUE(written.load(home.file(kSettingsName)));
    PSettings defaults;
    defaults.setDefaults();
    EXPECT_TRUE(written == defaults);
    EXPECT_TRUE(readAll(home.file(kSettingsName)).contains("<VorelServer version=\"2.05\">"));
    EXPECT_FALSE(QFile::exists(home.file(kLogName)));
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

struct OptionRow
{
    const char *name;
    const char *option;
    int exitCode;
    const char *says;
    // Every invocation loads the settings but those that only print the version or the options.
    bool loadsSettings;
};

// Rows print as their names in test listings.
void PrintTo(const OptionRow &row, std::ostream *out)
{
    *out << row.name;
}

class Option : public ServiceProcess, public ::testing::WithParamInterface<OptionRow>
{
protected:
    // Runs the row's option and checks that it ends as the row says.
    void runOption()
    {
        EXPECT_EQ(runToEnd({QString::fromLatin1(GetParam().option)}), GetParam().exitCode);
        const QByteArray output = process.readAllStandardOutput() + process.readAllStandardError();
        EXPECT_TRUE(output.contains(GetParam().says)) << output.constData();
    }
};

TEST_P(Option, WritesTheDefaultsBesideTheProgramUnlessItOnlyPrints)
{
    writeAll(home.file(kLogName), "earlier entries");
    runOption();
    EXPECT_EQ(QFile::exists(home.file(kSettingsName)), GetParam().loadsSettings);
    if (GetParam().loadsSettings) {
        PSettings written;
        ASSERT_TRUE(written.load(home.file(kSettingsName)));
        PSettings defaults;
        defaults.setDefaults();
        EXPECT_TRUE(written == defaults);
    }
    EXPECT_EQ(readAll(home.file(kLogName)), "earlier entries");
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

TEST_P(Option, NeverTruncatesTheLogOfARunningService)
{
    writeSettings(freeTcpPort());
    const QByteArray before = readAll(home.file(kSettingsName));
    writeAll(home.file(kLogName), "earlier entries");
    runOption();
    EXPECT_EQ(readAll(home.file(kLogName)), "earlier entries");
    // A readable settings file is only read.
    EXPECT_EQ(readAll(home.file(kSettingsName)), before);
}

INSTANTIATE_TEST_SUITE_P(
    Options, Option,
    ::testing::Values(OptionRow{"Version", "-v", 0, "2.05", false},
                      OptionRow{"VersionLong", "-version", 0, "Vorel service", false},
                      OptionRow{"Help", "-h", 0, "-exec", false},
                      OptionRow{"HelpLong", "-help", 0, "-version", false},
                      OptionRow{"Install", "-i", 1, "process manager", true},
                      OptionRow{"InstallLong", "-install", 1, "process manager", true},
                      OptionRow{"Uninstall", "-u", 1, "process manager", true},
                      OptionRow{"UninstallLong", "-uninstall", 1, "process manager", true},
                      OptionRow{"Start", "-s", 1, "process manager", true},
                      OptionRow{"StartLong", "-start", 1, "process manager", true},
                      OptionRow{"Terminate", "-t", 1, "process manager", true},
                      OptionRow{"TerminateLong", "-terminate", 1, "process manager", true},
                      OptionRow{"Pause", "-p", 1, "process manager", true},
                      OptionRow{"PauseLong", "-pause", 1, "process manager", true},
                      OptionRow{"Resume", "-r", 1, "process manager", true},
                      OptionRow{"ResumeLong", "-resume", 1, "process manager", true},
                      OptionRow{"Command", "-c", 1, "process manager", true},
                      OptionRow{"CommandLong", "-command", 1, "process manager", true},
                      OptionRow{"Unknown", "-x", 2, "Usage:", true}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- Links that cannot start ------------------------------------------------------------------

TEST_F(ServiceProcess, ATakenPortIsReportedOnStandardErrorAndTheServiceKeepsRunning)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any));
    writeSettings(taken.serverPort());
    ASSERT_TRUE(start({QStringLiteral("-e")}));

    const QByteArray line = "Vorel service: error: Unable to start the network server on port "
                            + QByteArray::number(taken.serverPort()) + "\n";
    QByteArray errors;
    ASSERT_TRUE(waitFor([&]() {
        process.waitForReadyRead(10);
        errors += process.readAllStandardError();
        return errors.contains(line) || process.state() == QProcess::NotRunning;
    }));
    EXPECT_EQ(errors, line);
    EXPECT_EQ(process.state(), QProcess::Running);
    ASSERT_TRUE(listensForStop());
    EXPECT_TRUE(stopsPromptlyWithZero(SIGTERM));
    EXPECT_EQ(errors + process.readAllStandardError(), line);
    // The debug log keeps its own texts.
    EXPECT_FALSE(readAll(home.file(kLogName)).contains("Unable to start"));
}

TEST_F(ServiceProcess, EachLinkThatCannotStartHasItsLineAndTheOthersServe)
{
    {
        // IrDA left the Linux kernel in 4.17: the service's IrDA links cannot start here.
        PIrdaServer probe(nullptr);
        if (probe.start()) {
            probe.stop();
            GTEST_SKIP() << "this machine has IrDA";
        }
    }
    const quint16 port = freeTcpPort();
    PSettings s;
    s.setDefaults();
    s.networkPort = port;
    s.irdaNormalEnable = 1;
    s.irdaIrcommEnable = 1;
    ASSERT_TRUE(s.save(home.file(kSettingsName)));
    ASSERT_TRUE(start({QStringLiteral("-e")}));

    Client terminal;
    ASSERT_TRUE(waitFor([&]() { return terminal.connectTo(port); }, 10000));
    EXPECT_EQ(terminal.call(Request("CONNECT")), "OK");
    terminal.close();
    ASSERT_TRUE(listensForStop());
    EXPECT_TRUE(stopsPromptlyWithZero(SIGTERM));
    EXPECT_EQ(process.readAllStandardError(), QByteArray("Vorel service: error: Unable to start the irda server\n"
                                                         "Vorel service: error: Unable to start the irda ircomm server\n"));
}

} // namespace
