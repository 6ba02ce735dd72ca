// The soak run: the service program, started from a folder of its own, serves many terminals that
// do mixed commands for minutes on end: files, searches, folders, table conversions, SQL bases,
// indicators and messages, with reconnections. Every reply is checked; the memory, threads and
// descriptors of the server are sampled as it goes. Run by scripts/soak.sh, not by CI.
//
//   vorel_soak --server <VorelService> [--minutes 10] [--terminals 64]
//
// Exits with 0 when no request failed and the server ended cleanly.

#include "Helpers.h"
#include "PSession.h"
#include "PSettings.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <signal.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

constexpr int kLinesPerText = 20;
constexpr int kConversionsBeforeReset = 10;

struct Totals
{
    std::atomic<long> requests{0};
    std::atomic<long> failed{0};
    std::atomic<long> sessions{0};
    std::mutex logLock;
    int logged = 0;

    void fail(int terminal, const QString &what)
    {
        ++failed;
        std::lock_guard<std::mutex> guard(logLock);
        if (++logged <= 50)
            std::fprintf(stderr, "terminal %d: %s\n", terminal, qPrintable(what));
    }
};

struct ServerSample
{
    qint64 rssKiB = -1;
    int threads = -1;
    int descriptors = -1;
};

ServerSample sample(qint64 pid)
{
    ServerSample s;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                s.rssKiB = line.mid(6).trimmed().split(' ').first().toLongLong();
            else if (line.startsWith("Threads:"))
                s.threads = line.mid(8).trimmed().toInt();
        }
    }
    s.descriptors = QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
    return s;
}

QByteArray word(quint32 value)
{
    char bytes[4];
    writeUInt32BE(bytes, value);
    return QByteArray(bytes, 4);
}

QByteArray v4Header()
{
    // Two fields, both imported and exported: a text and an integer with 2 decimals.
    QByteArray header = QByteArray("PLDB") + word(100) + word(70) + word(2) + word(0);
    for (int kind : {1, 3}) {
        QByteArray descriptor(21, '\0');
        descriptor += char(kind);
        descriptor += char(kind == 3 ? 2 : 0);
        descriptor += char(1);
        descriptor += char(1);
        header += descriptor;
    }
    return header;
}

QByteArray linesText(int terminal)
{
    QByteArray text;
    for (int i = 0; i < kLinesPerText; ++i)
        text += "t" + QByteArray::number(terminal) + "-item" + QByteArray::number(i) + ";" + QByteArray::number(i) + ".50\r\n";
    return text;
}

bool makeSqlBase(const QString &path)
{
    sqlite3 *db = nullptr;
    const bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK
        && sqlite3_exec(db, "CREATE TABLE GOODS(N INTEGER PRIMARY KEY AUTOINCREMENT, NAME TEXT, PRICE TEXT)", nullptr,
                        nullptr, nullptr)
            == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// One terminal: its own folder with a data file, texts, a V4 table and an SQL base, and a loop
// of mixed commands with a check of every reply.
class Terminal
{
public:
    Terminal(int index, const QString &folder, quint16 port, Totals &totals)
        : index(index), folder(folder), port(port), totals(totals), random(std::mt19937::result_type(index * 7919 + 1))
    {
    }

    bool prepare()
    {
        return QDir().mkpath(folder) && writeAll(local("DATA.BIN"), QByteArray()) && writeAll(local("LINES.TXT"), linesText(index))
            && writeAll(local("NOTES.TXT"), "notes\r\n") && writeAll(local("GOODS.bin"), v4Header())
            && writeAll(local("GOODS.ind"), QByteArray()) && makeSqlBase(local("BASE.DB"));
    }

    void run(const std::atomic<bool> &stop)
    {
        while (!stop.load()) {
            if (!client.connectTo(port)) {
                totals.fail(index, QStringLiteral("cannot connect"));
                QThread::msleep(100);
                continue;
            }
            ++totals.sessions;
            sessionStart();
            const int requestsThisSession = 50 + int(random() % 400);
            for (int n = 0; n < requestsThisSession && !stop.load(); ++n)
                step();
            client.close();
        }
    }

private:
    static bool waitUntilGone(const QString &file)
    {
        for (int i = 0; i < 500 && QFile::exists(file); ++i)
            QThread::msleep(10);
        return !QFile::exists(file);
    }

    QString local(const char *name) const { return folder + QLatin1Char('/') + QLatin1String(name); }
    QByteArray path(const char *name) const { return terminalPath(local(name)).toLatin1(); }

    bool expect(const QByteArray &request, const QByteArray &expected, const char *what)
    {
        ++totals.requests;
        const QByteArray reply = client.call(request);
        if (reply == expected)
            return true;
        totals.fail(index, QStringLiteral("%1: got %2, expected %3")
                               .arg(QLatin1String(what), QString::fromLatin1(reply.left(40).toHex()),
                                    QString::fromLatin1(expected.left(40).toHex())));
        return false;
    }

    // A reply whose result word is `result`; the rest is the caller's to check.
    bool call(const QByteArray &request, quint32 result, const char *what, QByteArray &reply)
    {
        ++totals.requests;
        reply = client.call(request);
        if (reply.size() >= 4 && readUInt32BE(reply.constData()) == result)
            return true;
        totals.fail(index, QStringLiteral("%1: got %2").arg(QLatin1String(what), QString::fromLatin1(reply.left(40).toHex())));
        return false;
    }

    // Every session registers a temporary file; the previous session's must be gone by now.
    void sessionStart()
    {
        expect(Request("CONNECT"), "OK", "CONNECT");
        // The server removes it once it has seen the previous link end, which may be a moment
        // after this one began.
        if (temporaryRegistered && !waitUntilGone(local("SESSION.TMP")))
            totals.fail(index, QStringLiteral("the temporary file of the previous session is still there"));
        writeAll(local("SESSION.TMP"), "t");
        expect(Request("SetFuture").str(QByteArray("SetTemporaryFile")).str(path("SESSION.TMP")), word(1),
               "SetTemporaryFile");
        temporaryRegistered = true;
    }

    void step()
    {
        switch (random() % 9) {
        case 0:
            expect(Request("GetFuture").str(QByteArray("ServerVersion")), word(1) + word(4) + "2.05", "ServerVersion");
            expect(Request("GetDelimeter"), word(1) + word(59), "GetDelimeter");
            break;
        case 1:
            fileRoundTrip(false);
            break;
        case 2:
            fileRoundTrip(true);
            break;
        case 3:
            search();
            break;
        case 4:
            expect(Request("CreateDir").str(path("SUB")), word(1), "CreateDir");
            expect(Request("CreateFile").str(path("SUB\\NEW.TXT")), word(1), "CreateFile");
            expect(Request("ExistFile").str(path("SUB\\NEW.TXT")), word(1), "ExistFile");
            expect(Request("DeleteFile").str(path("SUB\\NEW.TXT")), word(1), "DeleteFile");
            expect(Request("DeleteDir").str(path("SUB")), word(1), "DeleteDir");
            break;
        case 5: {
            QByteArray reply;
            call(Request("GetFileDate").str(path("LINES.TXT")), 1, "GetFileDate", reply);
            break;
        }
        case 6:
            v4Conversions();
            break;
        case 7:
            sqlConversion();
            break;
        default:
            expect(Request("SetIndicator").word(random() % 101), word(1), "SetIndicator");
            expect(Request("SetMessage").str(QByteArray("soak ") + QByteArray::number(index)), word(1), "SetMessage");
            break;
        }
    }

    void fileRoundTrip(bool asText)
    {
        const QByteArray data = patternOf(1 + int(random() % 60000));
        const quint32 n = quint32(data.size());
        QByteArray reply;
        if (!call(Request("OpenFile").str(path("DATA.BIN")), 1, "OpenFile", reply) || reply.size() != 8)
            return;
        const quint32 h = readUInt32BE(reply.constData() + 4);
        if (asText) {
            expect(Request("WriteFileText").word(h).word(n).raw(data.toHex().toUpper()), word(1) + word(n), "WriteFileText");
            expect(Request("SeekFile").word(h).word(0), word(1), "SeekFile");
            expect(Request("ReadFileText").word(h).word(n), word(1) + word(2 * n) + data.toHex().toUpper(), "ReadFileText");
        } else {
            expect(Request("WriteFile").word(h).word(n).raw(data), word(1) + word(n), "WriteFile");
            expect(Request("SeekFile").word(h).word(0), word(1), "SeekFile");
            expect(Request("ReadFile").word(h).word(n), word(1) + word(n) + data, "ReadFile");
        }
        expect(Request("LengthFile").word(h), word(1) + word(n), "LengthFile");
        expect(Request("TrimFile").word(h).word(0), word(1), "TrimFile");
        expect(Request("CloseFile").word(h), word(1), "CloseFile");
    }

    void search()
    {
        QByteArray reply;
        if (!call(Request("FindFirstFile").str(path("*.TXT")), 1, "FindFirstFile", reply) || reply.size() < 8)
            return;
        const quint32 h = readUInt32BE(reply.constData() + 4);
        // LINES.TXT, NOTES.TXT and the exported OUT.TXT once it exists.
        int found = 1;
        QByteArray next;
        for (;;) {
            ++totals.requests;
            next = client.call(Request("FindNextFile").word(h));
            if (next.size() < 4 || readUInt32BE(next.constData()) != 1)
                break;
            ++found;
        }
        if (next != word(0) + word(2) + QByteArray(2, '\0'))
            totals.fail(index, QStringLiteral("FindNextFile at the end: %1").arg(QString::fromLatin1(next.toHex())));
        const int expected = QFile::exists(local("OUT.TXT")) ? 3 : 2;
        if (found != expected)
            totals.fail(index, QStringLiteral("FindFirstFile found %1 files, not %2").arg(found).arg(expected));
        expect(Request("FindClose").word(h), word(1), "FindClose");
    }

    void v4Conversions()
    {
        if (conversions == kConversionsBeforeReset) {
            resetTable();
            conversions = 0;
        }
        if (!expect(Request("ConvertTableTextToBin").str(path("LINES.TXT")).str(path("GOODS")), word(1), "ConvertTableTextToBin"))
            return;
        ++conversions;
        if (!expect(Request("ConvertTableBinToText").str(path("GOODS")).str(path("OUT.TXT")), word(1), "ConvertTableBinToText"))
            return;
        const QByteArray out = readAll(local("OUT.TXT"));
        if (out.count('\n') != conversions * kLinesPerText || !out.startsWith("t" + QByteArray::number(index) + "-item0;0.50\r\n"))
            totals.fail(index, QStringLiteral("exported text of %1 lines after %2 conversions").arg(out.count('\n')).arg(conversions));
    }

    // Back to an empty table through the file commands.
    void resetTable()
    {
        for (const char *name : {"GOODS.bin", "GOODS.ind"}) {
            QByteArray reply;
            if (!call(Request("OpenFile").str(path(name)), 1, "OpenFile of the table", reply) || reply.size() != 8)
                return;
            const quint32 h = readUInt32BE(reply.constData() + 4);
            expect(Request("TrimFile").word(h).word(name[6] == 'b' ? 70 : 0), word(1), "TrimFile of the table");
            expect(Request("CloseFile").word(h), word(1), "CloseFile of the table");
        }
    }

    void sqlConversion()
    {
        QByteArray reply;
        if (!call(Request("OpenSqlBase").str(path("BASE.DB")), 1, "OpenSqlBase", reply) || reply.size() != 8)
            return;
        const quint32 h = readUInt32BE(reply.constData() + 4);
        expect(Request("ConvertSqlTableTextToBin").str(path("LINES.TXT")).str(QByteArray("GOODS")), word(1),
               "ConvertSqlTableTextToBin");
        expect(Request("CloseSqlBase").word(h), word(1), "CloseSqlBase");
    }

    QByteArray patternOf(int size)
    {
        QByteArray bytes(size, '\0');
        const char seed = char(random());
        for (int i = 0; i < size; ++i)
            bytes[i] = char(seed + i * 13);
        return bytes;
    }

    const int index;
    const QString folder;
    const quint16 port;
    Totals &totals;
    std::mt19937 random;
    Client client;
    int conversions = 0;
    bool temporaryRegistered = false;
};

bool waitForPort(quint16 port)
{
    for (int i = 0; i < 100; ++i) {
        Client probe;
        if (probe.connectTo(port) && probe.call(Request("CONNECT")) == "OK")
            return true;
        QThread::msleep(100);
    }
    return false;
}

QString formatSample(const ServerSample &s)
{
    return QStringLiteral("rss %1 KiB, threads %2, descriptors %3").arg(s.rssKiB).arg(s.threads).arg(s.descriptors);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString serverBinary;
    int minutes = 10;
    int terminals = 64;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--server"))
            serverBinary = args[i + 1];
        else if (args[i] == QLatin1String("--minutes"))
            minutes = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--terminals"))
            terminals = args[i + 1].toInt();
    }
    if (serverBinary.isEmpty() || minutes <= 0 || terminals <= 0) {
        std::fprintf(stderr, "usage: vorel_soak --server <VorelService> [--minutes 10] [--terminals 64]\n");
        return 2;
    }
    // The service serves at once only as many terminals as its descriptor limit (the hard limit,
    // which it shares with this process) allows; the others would be refused, not served.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_max != RLIM_INFINITY
        && PSession::sessionCap(qint64(limit.rlim_max)) < terminals) {
        terminals = PSession::sessionCap(qint64(limit.rlim_max));
        std::printf("%d terminals, the most the service serves at once under a hard limit of %lld open files\n",
                    terminals, static_cast<long long>(limit.rlim_max));
    }

    // The service keeps its settings beside its executable: it runs from a folder of its own.
    QTemporaryDir home;
    const QString binary = home.filePath(QStringLiteral("VorelService"));
    if (!QFile::copy(serverBinary, binary)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(serverBinary));
        return 2;
    }
    const quint16 port = freeTcpPort();
    PSettings serverSettings;
    serverSettings.setDefaults();
    serverSettings.networkPort = port;
    serverSettings.save(home.filePath(QStringLiteral("VorelServer_settings.xml")));

    Totals totals;
    std::vector<std::unique_ptr<Terminal>> all;
    for (int i = 0; i < terminals; ++i) {
        all.emplace_back(new Terminal(i, home.filePath(QStringLiteral("terminal%1").arg(i)), port, totals));
        if (!all.back()->prepare()) {
            std::fprintf(stderr, "cannot prepare the files of terminal %d\n", i);
            return 2;
        }
    }

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedChannels);
    server.start(binary, {QStringLiteral("-e")});
    if (!server.waitForStarted() || !waitForPort(port)) {
        std::fprintf(stderr, "the server did not start\n");
        return 2;
    }
    const qint64 pid = server.processId();
    const ServerSample idle = sample(pid);
    std::printf("%s server %lld on port %u; %d terminals for %d minutes\n",
                qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)), pid, port, terminals, minutes);
    std::printf("idle: %s\n", qPrintable(formatSample(idle)));
    std::fflush(stdout);

    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (auto &terminal : all)
        threads.emplace_back([&terminal, &stop]() { terminal->run(stop); });

    QElapsedTimer clock;
    clock.start();
    ServerSample first;
    ServerSample last;
    const qint64 end = qint64(minutes) * 60000;
    while (clock.elapsed() < end) {
        QThread::msleep(10000);
        last = sample(pid);
        // The first minute lets the heap and the thread stacks reach their working size.
        if (first.rssKiB < 0 && clock.elapsed() >= 60000)
            first = last;
        std::printf("%4llds requests %ld failed %ld sessions %ld; %s\n", clock.elapsed() / 1000, totals.requests.load(),
                    totals.failed.load(), totals.sessions.load(), qPrintable(formatSample(last)));
        std::fflush(stdout);
    }
    stop = true;
    for (std::thread &t : threads)
        t.join();

    // With every terminal gone, the sessions end and their threads and links go with them.
    QThread::msleep(2000);
    const ServerSample after = sample(pid);
    ::kill(pid_t(pid), SIGTERM);
    const bool ended = server.waitForFinished(30000) && server.exitStatus() == QProcess::NormalExit && server.exitCode() == 0;

    std::printf("\nrequests %ld, failed %ld, sessions %ld\n", totals.requests.load(), totals.failed.load(),
                totals.sessions.load());
    std::printf("memory at start (after the first minute): %lld KiB; at the end: %lld KiB\n", first.rssKiB, last.rssKiB);
    std::printf("idle before: %s\nidle after:  %s\n", qPrintable(formatSample(idle)), qPrintable(formatSample(after)));
    std::printf("server ended cleanly: %s\n", ended ? "yes" : "no");
    return totals.failed.load() == 0 && ended ? 0 : 1;
}
