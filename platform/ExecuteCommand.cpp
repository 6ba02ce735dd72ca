#include "ExecuteCommand.h"

#include "ResourceLimits.h"
#include "RetryEintr.h"
#include "TestSeams.h"
#include "UniqueFd.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <mutex>
#include <vector>

#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
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

// A server started with its standard streams closed hands their numbers out to its own
// descriptors: the child's null streams would replace one of these, and a failed start written
// into the null device would read as a start. Close-on-exec, as the descriptor was.
UniqueFd aboveStandardStreams(int fd)
{
    UniqueFd held(fd);
    if (fd < 0 || fd > 2)
        return held;
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
}

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
    launch.nullDevice = aboveStandardStreams(::open("/dev/null", O_RDWR | O_CLOEXEC));
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    launch.reportRead = aboveStandardStreams(report[0]);
    launch.reportWrite = aboveStandardStreams(report[1]);
    return launch.nullDevice.isValid() && launch.reportRead.isValid() && launch.reportWrite.isValid();
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

    // Both descriptors lie above the three streams, so neither is replaced here.
    for (int stream = 0; stream < 3; ++stream) {
        if (::dup2(launch.nullDevice.get(), stream) < 0)
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

// Programs whose wait was cut short are still the server's children: each must be reaped when it
// ends, or it stays a zombie for as long as the server runs. One thread looks a few times a second
// while there are any and ends with the last. Only the pids handed over are waited for, never
// "any child": the detached start and Qt's own processes reap theirs themselves. A pid stays
// the server's until it is reaped here, so it cannot be reused for another child meanwhile.
class CutWaits
{
public:
    static void reapWhenEnded(pid_t pid)
    {
        // Never destroyed: the thread may still look when the process exits.
        static CutWaits *const cut = new CutWaits;
        cut->add(pid);
    }

private:
    static constexpr long kLookNs = 100 * 1000 * 1000;

    void add(pid_t pid)
    {
        std::lock_guard<std::mutex> guard(lock);
        children.push_back(pid);
        if (looking)
            return;
        // The thread takes no signal: the server's handlers run on its other threads.
        BlockedSignals blocked;
        pthread_attr_t attributes;
        if (::pthread_attr_init(&attributes) != 0)
            return;
        pthread_t thread;
        ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        // Without a thread now, the next cut wait tries again and takes this pid along.
        looking = ::pthread_create(&thread, &attributes, &CutWaits::look, this) == 0;
        ::pthread_attr_destroy(&attributes);
    }

    static void *look(void *self)
    {
        CutWaits &cut = *static_cast<CutWaits *>(self);
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(cut.lock);
                const auto ended = [](pid_t pid) {
                    int status = 0;
                    return waitChild(pid, status, WNOHANG) != 0;
                };
                cut.children.erase(std::remove_if(cut.children.begin(), cut.children.end(), ended),
                                   cut.children.end());
                if (cut.children.empty()) {
                    cut.looking = false;
                    return nullptr;
                }
            }
            const timespec pause{0, kLookNs};
            ::nanosleep(&pause, nullptr);
        }
    }

    std::mutex lock;
    std::vector<pid_t> children;
    bool looking = false;
};

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
        if (stopWaiting && stopWaiting()) {
            CutWaits::reapWhenEnded(pid);
            return true;
        }
        const timespec pause{0, kPollNs};
        ::nanosleep(&pause, nullptr);
    }
}

} // namespace platform
