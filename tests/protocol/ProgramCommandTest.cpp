// ExecuteCommand: programs run without a shell, with their one argument as sent, on null
// standard streams, waited for or left to run on their own.

#include "ProtocolFixture.h"

#include "ExecuteCommand.h"
#include "PProgressSink.h"
#include "ResourceLimits.h"
#include "TestSeams.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <atomic>
#include <thread>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ProgramCommand : public ProtocolTest
{
protected:
    // An executable script in the test folder; its name as the terminal writes it.
    QString script(const char *name, const QByteArray &body)
    {
        const QString path = local(QString::fromLatin1(name));
        EXPECT_TRUE(writeAll(path, "#!/bin/sh\n" + body));
        EXPECT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        return terminal(QString::fromLatin1(name));
    }
    QByteArray execute(const QString &program, const QByteArray &parameters, quint32 wait)
    {
        return call(Request("ExecuteCommand").str(program.toLatin1()).str(parameters).word(wait));
    }
};

// A session that is told to stop at a given moment.
class StoppingSink : public PProgressSink
{
public:
    void setIndicator(int) override {}
    void setMessage(const QString &) override {}
    void setType(const QString &) override {}
    bool stopRequested() const override { return stop.load(); }
    std::atomic<bool> stop{false};
};

// The children of this process that are left: zombies included.
int childrenLeft()
{
    int count = 0;
    const QByteArray self = QByteArray::number(::getpid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QList<QByteArray> fields = readAll(QStringLiteral("/proc/%1/stat").arg(entry)).split(')');
        if (fields.size() >= 2 && fields.last().trimmed().split(' ').value(1) == self)
            ++count;
    }
    return count;
}

const QByteArray kShowArguments = "printf '%s|%s' \"$#\" \"$1\" > args.txt\nexit 7\n";

} // namespace

TEST_F(ProgramCommand, WaitGivesTheExitCodeAndOneVerbatimArgument)
{
    const QString program = script("show.sh", kShowArguments);
    const QByteArray parameters = "a  b 'c' \"d\" $HOME;touch hacked `id` *";
    EXPECT_EQ(execute(program, parameters, 1), hex("00000001 00000007"));
    EXPECT_EQ(lastEntry(), "ExecuteCommand (" + program + ", " + QString::fromLatin1(parameters) + ", 1)\nresult = 1");
    EXPECT_EQ(readAll(local("args.txt")), "1|" + parameters);
    EXPECT_FALSE(QFile::exists(local("hacked")));
}

TEST_F(ProgramCommand, EmptyParametersAreOneEmptyArgument)
{
    const QString program = script("show.sh", kShowArguments);
    EXPECT_EQ(execute(program, "", 2), hex("00000001 00000007"));
    EXPECT_EQ(lastEntry(), "ExecuteCommand (" + program + ", , 1)\nresult = 1"); // flag 2 logs as 1
    EXPECT_EQ(readAll(local("args.txt")), QByteArray("1|"));
}

TEST_F(ProgramCommand, WithoutWaitTheAnswerComesAtOnceAndTheProgramCompletesLater)
{
    const QString program = script("later.sh", "sleep 1\necho done > later.txt\nexit 5\n");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(execute(program, "x", 0), hex("00000001 00000000"));
    EXPECT_LT(timer.elapsed(), 900);
    EXPECT_EQ(lastEntry(), "ExecuteCommand (" + program + ", x, 0)\nresult = 1");
    EXPECT_FALSE(QFile::exists(local("later.txt")));
    // Nothing keeps the program after the answer, and nothing ends it either.
    EXPECT_TRUE(QTest::qWaitFor([this] { return readAll(local("later.txt")) == "done\n"; }, 10000));
    // Nor is it, or whatever started it, left as a child of the server.
    EXPECT_EQ(childrenLeft(), 0);
}

// As a server's stop or a terminal that leaves cuts the wait: the program runs on to its end and
// is then reaped without another request, never left as a zombie of the server.
TEST_F(ProgramCommand, WaitEndsWhenTheSessionIsToldToStopAndTheProgramIsReapedAtItsEnd)
{
    const QString program = script("long.sh", "echo $$ > long.pid\nsleep 2\necho done > long.txt\nexit 5\n");
    StoppingSink sink;
    protocol.setSession(&sink);
    std::thread stopper([&sink]() {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sink.stop = true;
    });
    // The program goes on; the answer does not wait for it.
    EXPECT_EQ(execute(program, "", 1), hex("00000001 00000000"));
    stopper.join();
    protocol.setSession(nullptr);
    const pid_t cut = pid_t(readAll(local("long.pid")).trimmed().toInt());
    ASSERT_GT(cut, 0);
    EXPECT_TRUE(QTest::qWaitFor([this] { return readAll(local("long.txt")) == "done\n"; }, 10000));
    // Looked at without reaping it: gone once nobody has the child any more.
    const auto reaped = [cut]() {
        siginfo_t info{};
        return ::waitid(P_PID, id_t(cut), &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno == ECHILD;
    };
    EXPECT_TRUE(QTest::qWaitFor(reaped, 10000)) << "left as a zombie";
}
TEST_F(ProgramCommand, StandardStreamsAreTheNullDevice)
{
    // Reads its input to the end and writes more than any pipe holds: neither may hang.
    const QString program = script("streams.sh", "cat > input.txt\nhead -c 2000000 /dev/zero\n"
                                                 "head -c 2000000 /dev/zero >&2\nexit 3\n");
    EXPECT_EQ(execute(program, "", 1), hex("00000001 00000003"));
    EXPECT_TRUE(QFile::exists(local("input.txt")));
    EXPECT_EQ(readAll(local("input.txt")), QByteArray());
}

// Whatever the server changed for itself (a raised open-file limit, SIGPIPE ignored) stays its own.
TEST_F(ProgramCommand, ProgramsStartWithTheServersFirstLimitAndNoSignalIgnoredOrBlocked)
{
    const QString program = script("state.sh", "grep -E '^Sig(Blk|Ign)' /proc/self/status >s.txt; ulimit -n >>s.txt");
    const rlim_t first = platform::startingOpenFileLimit();
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit changed = before;
    changed.rlim_cur = before.rlim_max > first ? before.rlim_max : first / 2; // lowered if it cannot rise
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &changed), 0);
    const auto pipeAction = std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(execute(program, "", 1), hex("00000001 00000000"));
    EXPECT_EQ(readAll(local("s.txt")).toStdString(),
              "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n" + std::to_string(first) + "\n");
    std::signal(SIGPIPE, pipeAction);
    ::setrlimit(RLIMIT_NOFILE, &before);
}

TEST_F(ProgramCommand, ACrashedProgramNeverReadsAsZero)
{
    const QString program = script("crash.sh", "kill -SEGV $$\n");
    const QByteArray reply = execute(program, "", 1);
    EXPECT_EQ(reply, hex("00000001") + QByteArray::fromHex("FFFFFFF5")); // -11, the signal
    EXPECT_EQ(lastEntry(), "ExecuteCommand (" + program + ", , 1)\nresult = 1");
}

TEST_F(ProgramCommand, BareNamesAreLookedUpInTheSearchPath)
{
    EXPECT_EQ(execute("true", "", 1), hex("00000001 00000000"));
    EXPECT_EQ(execute("false", "", 1), hex("00000001 00000001"));
}

// A server started with its standard streams closed gives their numbers to the descriptors it
// opens; a program that cannot start must still be told from one that did, waited for or not.
TEST_F(ProgramCommand, AFailedStartIsToldWithTheStandardStreamsClosed)
{
    const QString missing = local("none.exe");
    const pid_t child = ::fork();
    if (child == 0) {
        // A hang would keep the test from ending: the child ends by itself.
        ::alarm(60);
        for (int stream = 0; stream < 3; ++stream)
            ::close(stream);
        int started = 0;
        for (const bool wait : {true, false}) {
            qint32 exitCode = 0;
            started = started * 2 + (platform::executeCommand(missing, QString(), wait, exitCode) ? 1 : 0);
        }
        ::_exit(started);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    // One bit per start that read as a success: waited for (2), detached (1).
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ProgramCommand, AProgramThatDoesNotStartAnswersZeroes)
{
    EXPECT_EQ(execute(terminal("none.exe"), "a", 1), hex("00000000 00000000"));
    EXPECT_EQ(lastEntry(), "ExecuteCommand (" + terminal("none.exe") + ", a, 1)\nresult = 0");
    EXPECT_EQ(execute(terminal("none.exe"), "a", 0), hex("00000000 00000000"));
    EXPECT_EQ(execute("no-such-program-here", "", 0), hex("00000000 00000000"));
    EXPECT_EQ(execute("", "", 1), hex("00000000 00000000"));
    // A file that is not executable does not start either.
    ASSERT_TRUE(writeAll(local("plain.txt"), "text"));
    EXPECT_EQ(execute(terminal("plain.txt"), "", 1), hex("00000000 00000000"));
}

namespace {

QString ranProgram;
QString ranParameters;
bool ranWaiting = false;

bool standInRunner(const QString &program, const QString &parameters, bool wait, qint32 &exitCode)
{
    ranProgram = program;
    ranParameters = parameters;
    ranWaiting = wait;
    exitCode = 42;
    return true;
}

} // namespace

// A stand-in takes the place of starting programs, as the fuzz targets need; removed, programs
// start again.
TEST_F(ProgramCommand, AStandInRunsInsteadOfThePrograms)
{
    const QString program = script("show.sh", kShowArguments);
    struct Unset
    {
        ~Unset() { platform::setProgramRunnerForTesting(nullptr); } // even when a check fails early
    } unset;
    EXPECT_EQ(platform::setProgramRunnerForTesting(standInRunner), nullptr);
    EXPECT_EQ(execute(program, "p q", 1), hex("00000001 0000002A"));
    EXPECT_EQ(platform::setProgramRunnerForTesting(nullptr), &standInRunner);
    EXPECT_EQ(ranProgram, local("show.sh"));
    EXPECT_EQ(ranParameters, QStringLiteral("p q"));
    EXPECT_TRUE(ranWaiting);
    EXPECT_FALSE(QFile::exists(local("args.txt")));

    EXPECT_EQ(execute(program, "p", 1), hex("00000001 00000007"));
    EXPECT_EQ(readAll(local("args.txt")), QByteArray("1|p"));
}
