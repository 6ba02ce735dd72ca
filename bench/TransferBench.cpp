// File transfer: ReadFile and WriteFile of a large file in requests of 1 MiB over loopback,
// against raw loopback streaming of the same bytes and against the reference server's answers to
// the same requests. Both are held to the reference server's answers to the same requests.

#include "BenchGroups.h"
#include "BenchOptions.h"
#include "BenchReport.h"
#include "BenchTerminal.h"
#include "Helpers.h"
#include "ServerProcess.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr quint32 kPiece = 1 << 20;
// A WriteFile request of 1 MiB: the payload limit less the name, its NUL and the two words.
constexpr quint32 kWritePiece = kPiece - quint32(sizeof "WriteFile") - 8;

struct Transfer
{
    double seconds = 0;
    QString error;
};

// Block i of the file: the shared random bytes with i in its first word, so that a block read
// from the wrong place does not compare equal.
class Blocks
{
public:
    Blocks() : bytes(kPiece, '\0')
    {
        std::mt19937 random(2024);
        for (char &c : bytes)
            c = char(random());
    }
    const QByteArray &block(quint32 i)
    {
        writeUInt32BE(bytes.data(), i);
        return bytes;
    }

private:
    QByteArray bytes;
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool openOn(BenchTerminal &terminal, quint16 port, const QString &path, quint32 &handle, QString &error)
{
    std::vector<char> reply(16);
    quint32 length = 0;
    if (!terminal.connectTo(port)
        || !terminal.call(BenchRequest("OpenFile").text(terminalPathOf(path).toLatin1()), reply, length)
        || replyWord(reply, length, 0) != 1) {
        error = QStringLiteral("cannot open ") + path;
        return false;
    }
    handle = replyWord(reply, length, 1);
    return true;
}

Transfer readWhole(quint16 port, const QString &path, qint64 total, Blocks &blocks)
{
    Transfer result;
    BenchTerminal terminal;
    quint32 handle = 0;
    if (!openOn(terminal, port, path, handle, result.error))
        return result;
    const QByteArray request = BenchRequest("ReadFile").word(handle).word(kPiece);
    std::vector<char> reply(8 + kPiece);
    const quint32 count = quint32(total / kPiece);
    const auto start = Clock::now();
    for (quint32 i = 0; i < count; ++i) {
        quint32 length = 0;
        // The block number in each block's first word tells a block from the wrong place; the
        // whole of a block is compared for the first and the last only, so that the terminal
        // does no more work per block than the streaming reference's receiver.
        const bool whole = i == 0 || i + 1 == count;
        if (!terminal.call(request, reply, length) || length != 8 + kPiece || replyWord(reply, length, 0) != 1
            || replyWord(reply, length, 2) != i
            || (whole && std::memcmp(reply.data() + 8, blocks.block(i).constData(), kPiece) != 0)) {
            result.error = QStringLiteral("ReadFile %1 failed or read wrong bytes").arg(i);
            return result;
        }
    }
    result.seconds = secondsSince(start);
    return result;
}

Transfer writeWhole(quint16 port, const QString &path, qint64 total, Blocks &blocks)
{
    Transfer result;
    QFile target(path);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        result.error = QStringLiteral("cannot create ") + path;
        return result;
    }
    target.close();
    BenchTerminal terminal;
    quint32 handle = 0;
    if (!openOn(terminal, port, path, handle, result.error))
        return result;
    // The same bytes as the file read: the blocks one after the other, cut into request pieces.
    QByteArray source;
    source.reserve(int(total));
    for (quint32 i = 0; qint64(i) * kPiece < total; ++i)
        source.append(blocks.block(i));
    std::vector<char> reply(16);
    const QByteArray head = BenchRequest("WriteFile").word(handle);
    const auto start = Clock::now();
    for (qint64 done = 0; done < total;) {
        const quint32 n = quint32(qMin<qint64>(kWritePiece, total - done));
        QByteArray request = head;
        char count[4];
        writeUInt32BE(count, n);
        request.append(count, 4);
        quint32 length = 0;
        if (!terminal.sendPacket(request, source.constData() + done, n) || !terminal.readPacket(reply, length)
            || replyWord(reply, length, 0) != 1
            || replyWord(reply, length, 1) != n) {
            result.error = QStringLiteral("WriteFile at %1 failed").arg(done);
            return result;
        }
        done += n;
    }
    result.seconds = secondsSince(start);
    terminal.close();
    // Checked after the clock has stopped: the file holds the blocks, in order.
    QFile written(path);
    if (written.size() != total || !written.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("the written file has %1 bytes").arg(written.size());
        return result;
    }
    for (quint32 i = 0; qint64(i) * kPiece < total; ++i) {
        if (written.read(kPiece) != blocks.block(i)) {
            result.error = QStringLiteral("block %1 of the written file differs").arg(i);
            break;
        }
    }
    return result;
}

Transfer stream(quint16 port, bool out, qint64 total)
{
    Transfer result;
    BenchTerminal terminal;
    std::vector<char> bytes(kPiece, 'x');
    std::vector<char> reply(16);
    quint32 length = 0;
    if (!terminal.connectTo(port)) {
        result.error = QStringLiteral("cannot connect");
        return result;
    }
    const auto start = Clock::now();
    bool ok = terminal.sendPacket(BenchRequest(out ? "StreamOut" : "StreamIn").word(quint32(total)).word(kPiece));
    for (qint64 done = 0; ok && done < total; done += kPiece) {
        const size_t n = size_t(qMin<qint64>(kPiece, total - done));
        ok = out ? terminal.receiveAll(bytes.data(), n) : terminal.sendAll(bytes.data(), n);
    }
    if (ok && !out)
        ok = terminal.readPacket(reply, length) && length == 2;
    if (!ok)
        result.error = QStringLiteral("streaming failed");
    result.seconds = secondsSince(start);
    return result;
}

bool writeSourceFile(const QString &path, qint64 total, Blocks &blocks)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (quint32 i = 0; qint64(i) * kPiece < total; ++i)
        if (file.write(blocks.block(i)) != kPiece)
            return false;
    return file.flush();
}

void keepBest(Transfer &best, const Transfer &next)
{
    if (!best.error.isEmpty())
        return;
    if (!next.error.isEmpty() || best.seconds == 0 || next.seconds < best.seconds)
        best = next;
}

} // namespace

void runTransfer(const BenchOptions &options, const QString &folder, BenchReport &report)
{
    // Whole pieces of 1 MiB: the reads ask for that much each time.
    const qint64 total = qMax<qint64>(kPiece, options.transferBytes / kPiece * kPiece);
    const QString source = QDir(folder).filePath(QStringLiteral("transfer-source.dat"));
    const QString target = QDir(folder).filePath(QStringLiteral("transfer-target.dat"));
    const QString engineFolder = QDir(folder).filePath(QStringLiteral("engine-transfer"));
    QDir().mkpath(engineFolder);
    Blocks blocks;
    QString error;
    ServerProcess engine, reference;
    if (!writeSourceFile(source, total, blocks))
        error = QStringLiteral("cannot write ") + source;
    if (error.isEmpty() && engine.start(ServerProcess::Kind::Engine, engineFolder, 60, error))
        reference.start(ServerProcess::Kind::Reference, QString(), 60, error);

    const QString size = QStringLiteral("%1 MiB").arg(total >> 20);
    const QString names[2] = {QStringLiteral("File transfer, ReadFile ") + size,
                              QStringLiteral("File transfer, WriteFile ") + size};
    if (!error.isEmpty()) {
        for (const QString &name : names)
            report.fail(name, error);
        return;
    }
    for (int direction = 0; direction < 2; ++direction) {
        const bool reading = direction == 0;
        Transfer engineBest, streamBest, framedBest;
        // The engine's and the reference server's turns of one round, as pairs: the pace of the
        // machine moves both alike within a round.
        std::vector<std::pair<double, double>> pairs;
        const auto transfer = [&](const ServerProcess &server) {
            return reading ? readWhole(server.port(), source, total, blocks)
                           : writeWhole(server.port(), target, total, blocks);
        };
        for (int round = 0; round < options.transferRounds; ++round) {
            keepBest(streamBest, stream(reference.port(), reading, total));
            // Each goes first every other round: neither always finds the other's traces.
            Transfer ours, theirs;
            if (round % 2 == 1) {
                ours = transfer(engine);
                theirs = transfer(reference);
            } else {
                theirs = transfer(reference);
                ours = transfer(engine);
            }
            keepBest(engineBest, ours);
            keepBest(framedBest, theirs);
            if (ours.error.isEmpty() && theirs.error.isEmpty())
                pairs.emplace_back(ours.seconds, theirs.seconds);
        }
        const QString failure = !engineBest.error.isEmpty() ? QStringLiteral("engine: ") + engineBest.error
            : !streamBest.error.isEmpty()                   ? QStringLiteral("stream: ") + streamBest.error
            : !framedBest.error.isEmpty()                   ? QStringLiteral("reference: ") + framedBest.error
                                                            : QString();
        if (!failure.isEmpty()) {
            report.fail(names[direction], failure);
            continue;
        }
        const double mib = double(total) / double(1 << 20);
        BenchReport::Figure figure;
        figure.name = names[direction];
        figure.engine = mib / engineBest.seconds;
        figure.reference = mib / streamBest.seconds;
        figure.unit = QStringLiteral("MiB/s");
        figure.referenceName = QStringLiteral("raw loopback stream");
        // The round of the middle ratio: a burst of load that spoils one side of a round moves
        // that round to an end of the order, not the figure.
        std::sort(pairs.begin(), pairs.end(), [](const auto &a, const auto &b) {
            return a.second / a.first < b.second / b.first;
        });
        const std::pair<double, double> middle = pairs.at(pairs.size() / 2);
        BenchReport::Figure framed = figure;
        framed.name = names[direction] + QStringLiteral(" (same requests)");
        framed.engine = mib / middle.first;
        framed.reference = mib / middle.second;
        framed.referenceName = QStringLiteral("raw TCP server");
        // Each is held to the minimal server answering the same requests: a stream of bytes
        // without requests and replies moves twice as fast on loopback, for the minimal server
        // as for the engine, so it stays beside them as information. A write's pace is the file
        // system's. A read's reply leaves through a socket that waits with the session's time-out
        // rather than blocking, a few system calls more per MiB than the minimal server's.
        framed.goal = BenchReport::Goal::AtLeast;
        framed.goalRatio = reading ? 0.8 : 0.95;
        report.add(figure);
        report.add(framed);
    }
    QFile::remove(source);
    QFile::remove(target);
}
