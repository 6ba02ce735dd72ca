// One terminal that sends what makes a server keep memory: temporary-file names as long as a
// packet allows, and folder searches it never closes. The service program itself runs it, and
// its resident memory must stay under the session's buffers plus 64 MiB.

#include "PSettings.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VOREL_SANITIZED 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VOREL_SANITIZED 1
#endif
#endif

namespace {

constexpr qint64 kMiB = 1024 * 1024;
// What one session may make the server hold beyond its buffers.
constexpr qint64 kSessionBound = 64 * kMiB;
// The receive buffer (1 MiB and 1000 bytes) and the work and reply buffers (3 MiB each).
constexpr qint64 kSessionBuffers = kMiB + 1000 + 6 * kMiB;
constexpr int kNames = 300;
#ifdef VOREL_SANITIZED
// Resident memory is not measured there (see below); enough searches that the oldest give way,
// without a sanitized server's minute of listing folders.
constexpr int kSearches = 200;
#else
constexpr int kSearches = 2000;
#endif
constexpr int kFolderFiles = 2000;

// A value of the process's /proc status in bytes ("VmRSS", "VmHWM"); -1 when it cannot be read.
qint64 statusBytes(qint64 pid, const char *field)
{
    const QList<QByteArray> lines = readAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(field) && line.size() > int(qstrlen(field)) && line.at(int(qstrlen(field))) == ':') {
            bool ok = false;
            const qint64 kib = line.mid(int(qstrlen(field)) + 1).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? kib * 1024 : -1;
        }
    }
    return -1;
}

class MemoryBound : public ::testing::Test
{
protected:
    void SetUp() override
    {
        program = home.file(QStringLiteral("VorelService"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(VOREL_SERVICE_BINARY), program));
        port = freeTcpPort();
        PSettings s;
        s.setDefaults();
        s.networkPort = port;
        // A log entry per 1 MiB name would only fill the disk.
        s.createDebug = 0;
        ASSERT_TRUE(s.save(home.file(QStringLiteral("VorelServer_settings.xml"))));
        process.setWorkingDirectory(home.path());
        process.start(program, {QStringLiteral("-e")});
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(10000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

    qint64 pid() const { return process.processId(); }

    TempDir home;
    TempDir folder;
    QString program;
    QProcess process;
    quint16 port = 0;
};

TEST_F(MemoryBound, LongTemporaryNamesAndForgottenSearches)
{
    for (int i = 0; i < kFolderFiles; ++i)
        ASSERT_TRUE(writeAll(folder.file(QStringLiteral("file%1.txt").arg(i, 4, 10, QLatin1Char('0'))), ""));
    const QByteArray pattern = terminalPath(folder.path()).toLatin1() + "\\*.txt";

    Client terminal;
    ASSERT_TRUE(waitFor([&]() { return terminal.connectTo(port); }, 10000));
    ASSERT_EQ(terminal.call(Request("CONNECT")), "OK");
    const qint64 baseline = statusBytes(pid(), "VmRSS");
    ASSERT_GT(baseline, 0);
    qint64 highest = baseline;
    auto sample = [&]() { highest = std::max(highest, statusBytes(pid(), "VmRSS")); };

    QElapsedTimer clock;
    clock.start();
    // Each name fills a whole packet: far longer than any path, so each is refused.
    const QByteArray head = Request("SetFuture").str(QByteArray("SetTemporaryFile")).bytes();
    int accepted = 0;
    for (int i = 0; i < kNames; ++i) {
        QByteArray name(int(kMiB) - head.size() - 1, char('a' + i % 26));
        name[0] = char('A' + i % 26);
        const QByteArray reply = terminal.call(Request("SetFuture").str(QByteArray("SetTemporaryFile")).str(name));
        ASSERT_EQ(reply.size(), 4) << i;
        accepted += reply == hex("00000001") ? 1 : 0;
        if (i % 50 == 0)
            sample();
    }
    sample();
    EXPECT_EQ(accepted, 0);
    const qint64 namesMs = clock.restart();

    // Searches never closed: each answers, and the oldest give way to the new ones.
    for (int i = 1; i <= kSearches; ++i) {
        const QByteArray reply = terminal.call(Request("FindFirstFile").str(pattern));
        ASSERT_EQ(reply.left(8), hex("00000001") + hex(QByteArray::number(i, 16).rightJustified(8, '0').constData())) << i;
        if (i % 100 == 0)
            sample();
    }
    // The newest searches still give their names; the oldest are closed.
    EXPECT_EQ(terminal.call(Request("FindNextFile").word(kSearches)).left(4), hex("00000001"));
    EXPECT_EQ(terminal.call(Request("FindNextFile").word(1)), hex("00000000 00000002 0000"));
    sample();
    const qint64 peak = std::max(highest, statusBytes(pid(), "VmHWM"));
    const qint64 searchesMs = clock.elapsed();
    terminal.close();

    // With the session gone, the process serves the next terminal.
    Client next;
    ASSERT_TRUE(next.connectTo(port));
    EXPECT_EQ(next.call(Request("CONNECT")), "OK");
    const qint64 after = statusBytes(pid(), "VmRSS");

    const qint64 bound = baseline + kSessionBuffers + kSessionBound;
    std::cout << "resident: " << baseline / 1024 << " KiB at the start, " << peak / 1024 << " KiB at the highest, "
              << after / 1024 << " KiB after the session; bound " << bound / 1024 << " KiB; names " << namesMs
              << " ms, searches " << searchesMs << " ms" << std::endl;
#ifdef VOREL_SANITIZED
    GTEST_SKIP() << "the resident memory of a sanitized program is mostly the sanitizer's shadow and quarantine";
#endif
    EXPECT_LT(peak, bound);
    EXPECT_LT(after, bound);
}

TEST_F(MemoryBound, SortedV3ConversionOfALargeTextFile)
{
#ifdef VOREL_SANITIZED
    GTEST_SKIP() << "the resident memory of a sanitized program is mostly the sanitizer's shadow and quarantine";
#endif
    // A text file of about 100 MiB, its first fields in falling order so that the sort has work.
    constexpr int kLines = 1000000;
    const QString text = folder.file(QStringLiteral("big.txt"));
    {
        QFile out(text);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        QByteArray chunk;
        const QByteArray tail = ';' + QByteArray(80, 'x') + "\r\n";
        for (int i = kLines; i > 0; --i) {
            chunk += QByteArray::number(i).rightJustified(9, '0') + tail;
            if (chunk.size() > 1 << 20) {
                ASSERT_EQ(out.write(chunk), chunk.size());
                chunk.clear();
            }
        }
        ASSERT_EQ(out.write(chunk), chunk.size());
    }
    // A V3 table of a 9-byte text field and an 80-byte one.
    const QString table = folder.file(QStringLiteral("sorted"));
    QByteArray hdr(1, char(2));
    hdr += QByteArray::fromHex("01090000") + QByteArray::fromHex("01500000");
    ASSERT_TRUE(writeAll(table + QStringLiteral(".hdr"), hdr));
    ASSERT_TRUE(writeAll(table + QStringLiteral(".bin"), QByteArray()));

    Client terminal;
    ASSERT_TRUE(waitFor([&]() { return terminal.connectTo(port); }, 10000));
    ASSERT_EQ(terminal.call(Request("CONNECT")), "OK");
    const qint64 baseline = statusBytes(pid(), "VmRSS");
    ASSERT_GT(baseline, 0);
    ASSERT_EQ(terminal.call(Request("SetFuture").str(QByteArray("SetSortV3Table")).str(QByteArray("1"))), hex("00000001"));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(terminal.sendPacket(
        Request("ConvertTableV3TextToBin").str(terminalPath(text).toLatin1()).str(terminalPath(table).toLatin1())));
    // Longer than one wait of the client: nothing arrives before the conversion ends.
    QByteArray reply;
    ASSERT_TRUE(waitFor([&]() { return terminal.readPacket(reply); }, 120000));
    ASSERT_EQ(reply, hex("00000001"));
    const qint64 convertMs = clock.elapsed();
    const qint64 peak = statusBytes(pid(), "VmHWM");
    // Every record stored, the lowest key first.
    const QByteArray records = readAll(table + QStringLiteral(".bin"));
    ASSERT_EQ(records.size(), qint64(kLines) * 89);
    EXPECT_EQ(records.left(9), QByteArray("000000001"));
    EXPECT_EQ(records.mid(88 * 89, 9), QByteArray("000000089"));

    const qint64 bound = baseline + kSessionBuffers + kSessionBound;
    std::cout << "resident: " << baseline / 1024 << " KiB at the start, " << peak / 1024 << " KiB at the highest; bound "
              << bound / 1024 << " KiB; conversion " << convertMs << " ms" << std::endl;
    EXPECT_LT(peak, bound);
}

} // namespace
