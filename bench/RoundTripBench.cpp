// Round trips: CONNECT requests, and ReadFile requests of 64 bytes, per second, with 1 terminal
// and with 64 at once, against the reference server in the same run.

#include "BenchGroups.h"
#include "BenchOptions.h"
#include "BenchReport.h"
#include "BenchTerminal.h"
#include "ServerProcess.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr quint32 kReadSize = 64;
// Each terminal reads the file from its start; at most this many reads fit before its end.
constexpr qint64 kFileBytes = 16LL << 20;
constexpr qint64 kMaxReadsPerTerminal = kFileBytes / kReadSize;
constexpr int kReadyWaitSeconds = 30;

enum class Kind { Connect, Read64 };

struct Load
{
    qint64 requests = 0;
    double seconds = 0;
    double cpuSeconds = 0; // the server's, user and system
    QString error;
    double rate() const { return seconds > 0 ? double(requests) / seconds : 0; }
    double cpuPerRequest() const { return requests > 0 ? cpuSeconds / double(requests) : 0; }
};

// One terminal's part: connects (and opens the file) before the start, then asks until told to
// stop, checking every answer.
void terminalLoop(quint16 port, Kind kind, const QByteArray &openRequest, std::atomic<int> &ready,
                  std::atomic<bool> &go, std::atomic<bool> &stop, std::atomic<qint64> &total, QString &error)
{
    BenchTerminal terminal;
    std::vector<char> reply(256);
    quint32 length = 0;
    QByteArray request = BenchRequest("CONNECT");
    bool ok = terminal.connectTo(port);
    if (ok && kind == Kind::Read64) {
        ok = terminal.call(openRequest, reply, length) && replyWord(reply, length, 0) == 1;
        request = BenchRequest("ReadFile").word(replyWord(reply, length, 1)).word(kReadSize);
    }
    if (!ok)
        error = QStringLiteral("a terminal could not connect or open the file");
    ++ready;
    const auto deadline = Clock::now() + std::chrono::seconds(kReadyWaitSeconds);
    while (!go.load() && Clock::now() < deadline)
        std::this_thread::yield();
    if (!ok || !go.load())
        return;

    qint64 count = 0;
    const quint32 expected = kind == Kind::Connect ? 2 : 8 + kReadSize;
    while (!stop.load(std::memory_order_relaxed) && count < kMaxReadsPerTerminal) {
        if (!terminal.call(request, reply, length) || length != expected
            || (kind == Kind::Read64 && replyWord(reply, length, 0) != 1)) {
            error = QStringLiteral("a request failed or was answered wrongly");
            break;
        }
        ++count;
    }
    total += count;
}

Load measure(const ServerProcess &server, Kind kind, int terminals, const QByteArray &openRequest, double seconds)
{
    const quint16 port = server.port();
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::atomic<qint64> total{0};
    std::vector<QString> errors(static_cast<size_t>(terminals));
    std::vector<std::thread> threads;
    for (int i = 0; i < terminals; ++i)
        threads.emplace_back(terminalLoop, port, kind, std::cref(openRequest), std::ref(ready), std::ref(go),
                             std::ref(stop), std::ref(total), std::ref(errors[size_t(i)]));
    const auto readyBy = Clock::now() + std::chrono::seconds(kReadyWaitSeconds);
    while (ready.load() < terminals && Clock::now() < readyBy)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double cpuBefore = server.cpuSeconds();
    const auto start = Clock::now();
    go = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (std::thread &thread : threads)
        thread.join();
    Load load;
    load.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    load.cpuSeconds = server.cpuSeconds() - cpuBefore;
    load.requests = total.load();
    for (const QString &error : errors)
        if (!error.isEmpty())
            load.error = error;
    return load;
}

bool writeDataFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char('A' + i % 26);
    for (qint64 done = 0; done < kFileBytes; done += block.size())
        if (file.write(block) != block.size())
            return false;
    return file.flush();
}

} // namespace

void runRoundTrips(const BenchOptions &options, const QString &folder, BenchReport &report)
{
    const QString dataPath = QDir(folder).filePath(QStringLiteral("roundtrip.dat"));
    const QString engineFolder = QDir(folder).filePath(QStringLiteral("engine-roundtrips"));
    QDir().mkpath(engineFolder);
    QString error;
    ServerProcess engine, reference;
    if (!writeDataFile(dataPath))
        error = QStringLiteral("cannot write ") + dataPath;
    if (error.isEmpty() && engine.start(ServerProcess::Kind::Engine, engineFolder, 60, error))
        reference.start(ServerProcess::Kind::Reference, QString(), 60, error);
    const QByteArray openRequest = BenchRequest("OpenFile").text(terminalPathOf(dataPath).toLatin1());

    const struct
    {
        Kind kind;
        int terminals;
        const char *name;
        bool goal;
    } cases[] = {
        {Kind::Connect, 1, "Round trips, CONNECT, 1 terminal", false},
        {Kind::Connect, 64, "Round trips, CONNECT, 64 terminals", true},
        {Kind::Read64, 1, "Round trips, ReadFile 64 B, 1 terminal", false},
        {Kind::Read64, 64, "Round trips, ReadFile 64 B, 64 terminals", true},
    };
    for (const auto &c : cases) {
        if (!error.isEmpty()) {
            report.fail(QLatin1String(c.name), error);
            continue;
        }
        Load best[2];
        // The server's processor time per request moves less with the load of the machine than
        // the rate does; each side keeps its lowest.
        double cpu[2] = {0, 0};
        QString failure;
        for (int round = 0; round < options.rounds && failure.isEmpty(); ++round) {
            ServerProcess *sides[2] = {&reference, &engine};
            for (int side = 0; side < 2; ++side) {
                const Load load = measure(*sides[side], c.kind, c.terminals, openRequest, options.seconds);
                if (!load.error.isEmpty())
                    failure = QStringLiteral("%1: %2").arg(QLatin1String(side ? "engine" : "reference"), load.error);
                if (load.rate() > best[side].rate())
                    best[side] = load;
                if (load.cpuPerRequest() > 0 && (cpu[side] == 0 || load.cpuPerRequest() < cpu[side]))
                    cpu[side] = load.cpuPerRequest();
            }
        }
        if (!failure.isEmpty()) {
            report.fail(QLatin1String(c.name), failure);
            continue;
        }
        BenchReport::Figure figure;
        figure.name = QLatin1String(c.name);
        figure.engine = best[1].rate();
        figure.reference = best[0].rate();
        figure.unit = QStringLiteral("req/s");
        figure.referenceName = QStringLiteral("raw TCP server");
        if (c.goal) {
            figure.goal = BenchReport::Goal::AtLeast;
            figure.goalRatio = 0.8;
        }
        report.add(figure);

        BenchReport::Figure cost;
        cost.name = QLatin1String(c.name) + QStringLiteral(", server CPU");
        cost.engine = cpu[1] * 1e6;
        cost.reference = cpu[0] * 1e6;
        cost.unit = QStringLiteral("us/req");
        cost.referenceName = QStringLiteral("raw TCP server");
        if (cost.engine > 0 && cost.reference > 0)
            report.add(cost);
    }
    QFile::remove(dataPath);
}
