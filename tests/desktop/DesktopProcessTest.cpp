#include "PSettings.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

// The program itself, offscreen: a logout or a session manager's stop ends it as its confirmed
// close does, without asking.
TEST(DesktopProgram, StopSignalsEndItAsTheConfirmedCloseDoes)
{
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        TempDir home;
        PSettings s;
        s.setDefaults();
        s.runAtStartup = s.createDebug = 1;
        s.networkPort = freeTcpPort();
        s.networkTimeout = -1; // only the program's end can end the terminal's session
        ASSERT_TRUE(s.save(home.file(QStringLiteral("VorelServer_settings.xml"))));
        QProcess program;
        program.setWorkingDirectory(home.path());
        // Under LeakSanitizer: the offscreen platform never frees its screens, as GuiTestMain says.
        const QString suppressions = home.file(QStringLiteral("lsan.txt"));
        ASSERT_TRUE(writeAll(suppressions, "leak:libqoffscreen.so\n"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LSAN_OPTIONS"), "fast_unwind_on_malloc=0:suppressions=" + suppressions);
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(VOREL_DESKTOP_BINARY), {QStringLiteral("-platform"), QStringLiteral("offscreen")});
        Client terminal;
        ASSERT_TRUE(waitFor([&]() { return terminal.connectTo(quint16(s.networkPort)); }));
        EXPECT_EQ(terminal.call(QByteArray("CONNECT", 8)), "OK");
        ::kill(pid_t(program.processId()), signalNumber);
        ASSERT_TRUE(program.waitForFinished(5000)) << signalNumber;
        EXPECT_TRUE(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0) << signalNumber;
        EXPECT_TRUE(terminal.closedWithoutReply());
        EXPECT_TRUE(readAll(home.file(QStringLiteral("VorelServer_debug.txt"))).endsWith(" <<<Debug stopped>>>\n"));
    }
}
