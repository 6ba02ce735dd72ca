#include "ExecuteCommand.h"

#include "ResourceLimits.h"
#include "RetryEintr.h"
#include "TestSeams.h"
#include "UniqueFd.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace platform {

namespace {

// How often a waiting start looks whether the program has ended and whether to stop waiting.
constexpr long kPollNs = 10 * 1000 * 1000;

// Everything the child needs, made before the fork: between fork and exec a process with many
// threads may only make async-signal-safe calls (another thread may have held the allocator's
// lock at the fork, and nobody would ever release it in the child).
struct Launch
{
    QByteArray path;
    QByteArray argument0;
    QByteArray argument1;
    char *argv[3] = {nullptr, nullptr, nullptr};
    char **envp = nullptr;
    // The open-file limit the server was started with: the raised one would break programs that
    // use select() or close every descriptor up to the limit.
    rlimit openFiles{};
    bool restoreOpenFiles = false;
    UniqueFd nullDevice;
    // Close-on-exec: the parent reads EOF once the program runs, or the errno of a failed start.
    UniqueFd reportRead;
    UniqueFd reportWrite;
};

bool prepare(const QString &program, const QString &parameters, Launch &launch)
{
    QString path = program;
    if (!program.contains(QLatin1Char('/'))) {
        path = QStandardPaths::findExecutable(program);
        if (path.isEmpty())
            return false;
    }
    launch.path = QFile::encodeName(path);
    launch.argument0 = launch.path;
    launch.argument1 = parameters.toLocal8Bit();
    launch.argv[0] = launch.argument0.data();
    launch.argv[1] = launch.argument1.data();
    launch.envp = environ;
    if (::getrlimit(RLIMIT_NOFILE, &launch.openFiles) == 0) {
        launch.openFiles.rlim_cur = std::min<rlim_t>(startingOpenFileLimit(), launch.openFiles.rlim_max);
        launch.restoreOpenFiles = true;
    }
    launch.nullDevice.reset(::open("/dev/null", O_RDWR | O_CLOEXEC));
    int report[2];
    if (!launch.nullDevice.isValid() || ::pipe2(report, O_CLOEXEC) != 0)
        return false;
    launch.reportRead.reset(report[0]);
    launch.reportWrite.reset(report[1]);
    return true;
}

// From here on only async-signal-safe calls.
[[noreturn]] void failChild(int reportFd)
{
    const int error = errno;
    ssize_t ignored = ::write(reportFd, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

[[noreturn]] void becomeProgram(const Launch &launch)
{
    const int reportFd = launch.reportWrite.get();
    // Nothing of the server's own set-up carries over (its handlers would write to its own stop
    // pipe): the program starts as a service manager starts one, with the open-file limit the
    // server was started with, every signal at its default action (ignored ones too: a script's
    // `producer | head` needs SIGPIPE) and nothing blocked. SIGKILL and SIGSTOP refuse, unchanged.
    if (launch.restoreOpenFiles)
        ::setrlimit(RLIMIT_NOFILE, &launch.openFiles);
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (int number = 1; number < NSIG; ++number)
        ::sigaction(number, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    const int null = launch.nullDevice.get();
    for (int stream = 0; stream < 3; ++stream) {
        if (null == stream ? ::fcntl(stream, F_SETFD, 0) != 0 : ::dup2(null, stream) < 0)
            failChild(reportFd);
    }
    ::execve(launch.path.constData(), launch.argv, launch.envp);
    failChild(reportFd);
}

// Every signal blocked in the calling thread for its lifetime: the child starts with no handler
// able to run before it has put the default actions back.
class BlockedSignals
{
public:
    BlockedSignals()
    {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &saved);
    }
    ~BlockedSignals() { ::pthread_sigmask(SIG_SETMASK, &saved, nullptr); }
    BlockedSignals(const BlockedSignals &) = delete;
    BlockedSignals &operator=(const BlockedSignals &) = delete;

private:
    sigset_t saved;
};

pid_t waitChild(pid_t pid, int &status, int flags)
{
    return retryEintr([&] { return ::waitpid(pid, &status, flags); });
}

// True when the program runs: the report pipe closed by the exec without a word.
bool started(Launch &launch)
{
    launch.reportWrite.reset();
    int error = 0;
    return retryEintr([&] { return ::read(launch.reportRead.get(), &error, sizeof error); }) == 0;
}

// Detached: an intermediate child starts the program and ends at once; the server reaps it, and
// the program, whose parent has gone, is reaped by the system when it ends.
bool startDetached(Launch &launch)
{
    pid_t middle;
    {
        BlockedSignals blocked;
        middle = ::fork();
        if (middle == 0) {
            // A session of its own: a signal to the server's process group does not reach it.
            ::setsid();
            const pid_t program = ::fork();
            if (program == 0)
                becomeProgram(launch);
            if (program < 0)
                failChild(launch.reportWrite.get());
            ::_exit(0);
        }
    }
    if (middle < 0)
        return false;
    const bool ok = started(launch);
    int status = 0;
    waitChild(middle, status, 0);
    return ok;
}

qint32 exitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
}

} // namespace

bool executeCommand(const QString &program, const QString &parameters, bool wait, qint32 &exitCode,
                    const std::function<bool()> &stopWaiting)
{
    if (const ProgramRunner runner = programRunner())
        return runner(program, parameters, wait, exitCode);
    exitCode = 0;
    Launch launch;
    if (program.isEmpty() || !prepare(program, parameters, launch))
        return false;
    if (!wait)
        return startDetached(launch);

    pid_t pid;
    {
        BlockedSignals blocked;
        pid = ::fork();
        if (pid == 0)
            becomeProgram(launch);
    }
    if (pid < 0)
        return false;
    if (!started(launch)) {
        int status = 0;
        waitChild(pid, status, 0);
        return false;
    }
    for (;;) {
        int status = 0;
        const pid_t done = waitChild(pid, status, WNOHANG);
        if (done == pid) {
            exitCode = exitCodeOf(status);
            return true;
        }
        // Nobody to wait for any more (reaped elsewhere): the program's code is lost.
        if (done < 0)
            return true;
        if (stopWaiting && stopWaiting())
            return true;
        const timespec pause{0, kPollNs};
        ::nanosleep(&pause, nullptr);
    }
}

} // namespace platform
