// Sessions at scale: many terminals connected and idle, then all making requests: the time to
// accept them all, the resident memory each idle session costs, and the requests per second with
// all of them connected; the reference server takes the same terminals in the same run. Every
// turn starts a fresh server with fresh terminals, so each terminal's first requests, which are
// real work, count in every turn.

#include "BenchGroups.h"
#include "BenchOptions.h"
#include "BenchReport.h"
#include "BenchTerminal.h"
#include "PSession.h"
#include "ServerProcess.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectors = 8;
constexpr int kWorkers = 16;
constexpr int kReadsPerTerminal = 8;
constexpr int kWarmTerminals = 8;
constexpr int kSettleMs = 300;
constexpr int kThreadWaitMs = 30000;

struct Scale
{
    qint64 baseline = 0;
    qint64 idle = 0;
    qint64 busy = 0;
    double acceptSeconds = 0;
    double requestSeconds = 0;
    double requestCpuSeconds = 0;
    qint64 requests = 0;
    QString error;

    double rate() const { return requestSeconds > 0 ? requests / requestSeconds : 0; }
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The thread count once it has stayed the same for a while: the sessions of terminals that have
// just left end on their own time.
int settledThreads(const ServerProcess &server)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kThreadWaitMs);
    int last = server.threadCount();
    auto since = Clock::now();
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const int now = server.threadCount();
        if (now != last) {
            last = now;
            since = Clock::now();
        } else if (Clock::now() - since >= std::chrono::milliseconds(kSettleMs)) {
            break;
        }
    }
    return last;
}

// Waits until the server has at most (or, with `atLeast`, at least) `count` threads.
bool waitForThreads(const ServerProcess &server, int count, bool atLeast)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kThreadWaitMs);
    while (Clock::now() < deadline) {
        const int now = server.threadCount();
        if (now >= 0 && (atLeast ? now >= count : now <= count))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Runs `work(i)` for i in 0..count-1 on `threads` threads, each taking every threads-th index;
// false when any call was false.
template <typename Work>
bool spread(int count, int threads, Work work)
{
    std::atomic<bool> ok{true};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t]() {
            for (int i = t; i < count && ok.load(); i += threads)
                if (!work(i))
                    ok = false;
        });
    for (std::thread &thread : pool)
        thread.join();
    return ok.load();
}

bool connectAndGreet(BenchTerminal &terminal, quint16 port)
{
    std::vector<char> reply(16);
    quint32 length = 0;
    return terminal.connectTo(port) && terminal.call(BenchRequest("CONNECT"), reply, length) && length == 2;
}

// What each terminal does once all are there: opens the file and reads a few pieces of it.
bool useSession(BenchTerminal &terminal, const QByteArray &openRequest, std::atomic<qint64> &requests)
{
    std::vector<char> reply(128);
    quint32 length = 0;
    if (!terminal.call(openRequest, reply, length) || replyWord(reply, length, 0) != 1)
        return false;
    const QByteArray read = BenchRequest("ReadFile").word(replyWord(reply, length, 1)).word(64);
    for (int i = 0; i < kReadsPerTerminal; ++i)
        if (!terminal.call(read, reply, length) || length != 72)
            return false;
    requests += 1 + kReadsPerTerminal;
    return true;
}

Scale measureScale(ServerProcess &server, int terminals, const QByteArray &openRequest)
{
    Scale scale;
    const quint16 port = server.port();
    // A server that has served before: what the first sessions set up once is not counted.
    {
        std::atomic<qint64> unused{0};
        std::vector<std::unique_ptr<BenchTerminal>> warm;
        for (int i = 0; i < kWarmTerminals; ++i) {
            warm.emplace_back(new BenchTerminal);
            if (!connectAndGreet(*warm.back(), port) || !useSession(*warm.back(), openRequest, unused)) {
                scale.error = QStringLiteral("the warm-up terminals were not served");
                return scale;
            }
        }
    }
    const int initialThreads = settledThreads(server);
    scale.baseline = server.residentBytes();

    std::vector<std::unique_ptr<BenchTerminal>> all;
    for (int i = 0; i < terminals; ++i)
        all.emplace_back(new BenchTerminal);
    auto start = Clock::now();
    if (!spread(terminals, kConnectors, [&](int i) { return connectAndGreet(*all[size_t(i)], port); })) {
        scale.error = QStringLiteral("not every terminal was accepted and answered");
        return scale;
    }
    scale.acceptSeconds = secondsSince(start);
    if (!waitForThreads(server, initialThreads + terminals, true)) {
        scale.error = QStringLiteral("the server has fewer threads than terminals");
        return scale;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    scale.idle = server.residentBytes();

    std::atomic<qint64> requests{0};
    const double cpuBefore = server.threadCpuSeconds();
    start = Clock::now();
    if (!spread(terminals, kWorkers, [&](int i) { return useSession(*all[size_t(i)], openRequest, requests); })) {
        scale.error = QStringLiteral("a request of a connected terminal failed");
        return scale;
    }
    scale.requestSeconds = secondsSince(start);
    scale.requests = requests.load();
    const double cpuAfter = server.threadCpuSeconds();
    if (cpuBefore >= 0 && cpuAfter >= cpuBefore)
        scale.requestCpuSeconds = cpuAfter - cpuBefore;
    scale.busy = server.residentBytes();

    all.clear();
    if (!waitForThreads(server, initialThreads, false))
        scale.error = QStringLiteral("the sessions did not end after their terminals left");
    return scale;
}

} // namespace

void runSessions(const BenchOptions &options, const QString &folder, BenchReport &report)
{
    int terminals = options.terminals;
    // The engine serves at once only as many terminals as its descriptor limit allows (it raises
    // its own to the hard limit, which this process shares): more would only count refusals.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_max != RLIM_INFINITY) {
        const int cap = PSession::sessionCap(qint64(limit.rlim_max));
        if (cap < terminals) {
            std::printf("sessions at scale: %d terminals, the most the engine serves at once under a hard limit of "
                        "%lld open files\n",
                        cap, static_cast<long long>(limit.rlim_max));
            terminals = cap;
        }
    }
    const QString dataPath = QDir(folder).filePath(QStringLiteral("sessions.dat"));
    const QString engineFolder = QDir(folder).filePath(QStringLiteral("engine-sessions"));
    QDir().mkpath(engineFolder);
    const QString memoryName = QStringLiteral("Sessions, memory per idle session (%1)").arg(terminals);
    const QString acceptName = QStringLiteral("Sessions, time to accept %1 terminals").arg(terminals);
    const QString requestName = QStringLiteral("Sessions, requests with %1 connected").arg(terminals);
    const QString usedName = QStringLiteral("Sessions, memory per session after requests");

    QString error;
    {
        QFile data(dataPath);
        if (!data.open(QIODevice::WriteOnly | QIODevice::Truncate) || data.write(QByteArray(4096, 'S')) != 4096)
            error = QStringLiteral("cannot write ") + dataPath;
    }
    const QByteArray openRequest = BenchRequest("OpenFile").text(terminalPathOf(dataPath).toLatin1());
    // Engine and reference take turns, each on a fresh server, one or the other first; each side
    // keeps its turn of the most requests per second, and the figures of that turn.
    Scale results[2];
    const ServerProcess::Kind kinds[2] = {ServerProcess::Kind::Reference, ServerProcess::Kind::Engine};
    for (int round = 0; round < options.rounds && error.isEmpty(); ++round) {
        for (int turn = 0; turn < 2 && error.isEmpty(); ++turn) {
            const int side = round % 2 == 0 ? turn : 1 - turn;
            ServerProcess server;
            // Long enough that no idle session times out while the others are counted.
            if (!server.start(kinds[side], engineFolder, 600, error))
                break;
            const Scale scale = measureScale(server, terminals, openRequest);
            if (!scale.error.isEmpty())
                error = QLatin1String(ServerProcess::name(kinds[side])) + QStringLiteral(": ") + scale.error;
            else if (scale.rate() > results[side].rate())
                results[side] = scale;
        }
    }
    QFile::remove(dataPath);
    if (!error.isEmpty()) {
        for (const QString &name : {memoryName, acceptName, requestName})
            report.fail(name, error);
        return;
    }
    const Scale &engine = results[1];
    const Scale &reference = results[0];
    const auto perSession = [terminals](qint64 from, qint64 to) { return double(to - from) / terminals / 1024.0; };

    BenchReport::Figure memory;
    memory.name = memoryName;
    memory.engine = perSession(engine.baseline, engine.idle);
    memory.reference = 1024;
    memory.unit = QStringLiteral("KiB");
    memory.referenceName = QStringLiteral("goal");
    memory.goal = BenchReport::Goal::AtMost;
    memory.goalRatio = 1;
    report.add(memory);

    BenchReport::Figure rawMemory = memory;
    rawMemory.name = memoryName + QStringLiteral(", raw server");
    rawMemory.engine = perSession(reference.baseline, reference.idle);
    report.add(rawMemory);

    BenchReport::Figure used = memory;
    used.name = usedName;
    used.engine = perSession(engine.baseline, engine.busy);
    used.reference = perSession(reference.baseline, reference.busy);
    used.referenceName = QStringLiteral("raw TCP server");
    used.goal = BenchReport::Goal::None;
    report.add(used);

    BenchReport::Figure accept;
    accept.name = acceptName;
    accept.engine = engine.acceptSeconds * 1000;
    accept.reference = reference.acceptSeconds * 1000;
    accept.unit = QStringLiteral("ms");
    accept.referenceName = QStringLiteral("raw TCP server");
    report.add(accept);

    BenchReport::Figure requests;
    requests.name = requestName;
    requests.engine = engine.rate();
    requests.reference = reference.rate();
    requests.unit = QStringLiteral("req/s");
    requests.referenceName = QStringLiteral("raw TCP server");
    requests.goal = BenchReport::Goal::AtLeast;
    requests.goalRatio = 0.8;
    report.add(requests);

    // Processor time moves less with the load of the machine than the rate does.
    BenchReport::Figure cost;
    cost.name = requestName + QStringLiteral(", server CPU");
    cost.engine = engine.requestCpuSeconds / engine.requests * 1e6;
    cost.reference = reference.requestCpuSeconds / reference.requests * 1e6;
    cost.unit = QStringLiteral("us/req");
    cost.referenceName = QStringLiteral("raw TCP server");
    if (cost.engine > 0 && cost.reference > 0)
        report.add(cost);
}
