// The descriptors kept free for the server itself: requests that open at the same moment never
// open into the reserve together, and a system without /proc, where descriptors cannot be
// counted, still serves its terminals, says once that the reserve goes unchecked and finds the
// program's folder from the name it was started by.

#include "ExecutablePath.h"
#include "PDebugLog.h"
#include "PNetServer.h"
#include "ResourceLimits.h"
#include "TempDir.h"
#include "TestSeams.h"
#include "TransportSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The soft limit of open files lowered for the scope, the hard one kept.
class ScopedOpenFileLimit
{
public:
    explicit ScopedOpenFileLimit(int soft)
    {
        set = ::getrlimit(RLIMIT_NOFILE, &saved) == 0;
        rlimit lowered = saved;
        lowered.rlim_cur = rlim_t(soft);
        set = set && ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~ScopedOpenFileLimit()
    {
        if (set)
            ::setrlimit(RLIMIT_NOFILE, &saved);
    }
    ScopedOpenFileLimit(const ScopedOpenFileLimit &) = delete;
    ScopedOpenFileLimit &operator=(const ScopedOpenFileLimit &) = delete;

    bool isSet() const { return set; }

private:
    rlimit saved{};
    bool set = false;
};

struct PromiseRow
{
    const char *name;
    // Descriptors each request promises, as OpenFile, ExecuteCommand and a conversion do.
    int each;
    int requests;
};

class ConcurrentPromises : public ::testing::TestWithParam<PromiseRow>
{
};

// Every request checks before any of them opens: the moment at which checks that do not see each
// other's promises let all of them in.
TEST_P(ConcurrentPromises, NeverOpenIntoTheReserve)
{
    const PromiseRow row = GetParam();
    // Room for this many beyond what is open now and the reserve.
    constexpr int kRoom = 8;
    const int open = platform::openDescriptorCount();
    ASSERT_GT(open, 0);
    const int limit = open + platform::kDescriptorReserve + kRoom;
    const ScopedOpenFileLimit lowered(limit);
    ASSERT_TRUE(lowered.isSet());

    std::atomic<int> granted{0};
    std::atomic<int> checked{0};
    std::vector<std::vector<int>> opened(size_t(row.requests));
    std::vector<std::thread> requests;
    for (int r = 0; r < row.requests; ++r) {
        requests.emplace_back([&, r]() {
            auto claim = std::make_unique<platform::DescriptorClaim>(row.each);
            if (*claim)
                ++granted;
            ++checked;
            while (checked.load() < row.requests)
                std::this_thread::yield();
            for (int i = 0; *claim && i < row.each; ++i) {
                const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                if (fd >= 0)
                    opened[size_t(r)].push_back(fd);
            }
            claim.reset();
        });
    }
    for (std::thread &request : requests)
        request.join();
    const int free = limit - platform::openDescriptorCount();
    for (const std::vector<int> &fds : opened) {
        for (const int fd : fds)
            ::close(fd);
    }

    EXPECT_GE(free, platform::kDescriptorReserve);
    EXPECT_EQ(granted.load(), kRoom / row.each) << "every request that fits is let in";
    // Given back: the next request finds the room again.
    EXPECT_TRUE(bool(platform::DescriptorClaim(kRoom)));
    EXPECT_FALSE(bool(platform::DescriptorClaim(kRoom + 1)));
}

INSTANTIATE_TEST_SUITE_P(Requests, ConcurrentPromises,
                         ::testing::Values(PromiseRow{"FortyFiles", 1, 40}, PromiseRow{"TwelvePrograms", 3, 12},
                                           PromiseRow{"TwelveConversions", 5, 12}),
                         [](const ::testing::TestParamInfo<PromiseRow> &info) { return std::string(info.param.name); });

// A system without /proc, for the scope: the kernel's process folders are looked for where there
// are none.
class ScopedNoProc
{
public:
    explicit ScopedNoProc(const QString &missing) : previous(platform::setProcFolderForTesting(missing)) {}
    ~ScopedNoProc() { platform::setProcFolderForTesting(previous); }
    ScopedNoProc(const ScopedNoProc &) = delete;
    ScopedNoProc &operator=(const ScopedNoProc &) = delete;

private:
    const QString previous;
};

TEST(WithoutProc, TerminalsAndTheirFileRequestsAreServedAndTheOperatorIsToldOnce)
{
    TempDir dir{true};
    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 5; }};
    const ScopedNoProc noProc(dir.file(QStringLiteral("no-proc")));
    ASSERT_EQ(platform::openDescriptorCount(), -1);
    QStringList warnings;
    const auto savedReport = debugLog.report;
    debugLog.report = [&warnings](const QString &line) { warnings << line; };

    TestFrontEnd front;
    PNetServer server(nullptr);
    front.netServer = &server;
    for (int attempt = 0; attempt < 5 && !server.running; ++attempt) {
        server.port = freeTcpPort();
        server.start();
    }
    ASSERT_TRUE(server.running);
    const quint16 port = quint16(server.port);
    const QString file = dir.file(QStringLiteral("data.txt"));
    ASSERT_TRUE(writeAll(file, "data"));
    const QByteArray path = terminalPath(file).toLatin1();
    const QByteArray pattern = terminalPath(dir.file(QStringLiteral("*.txt"))).toLatin1();

    QList<QByteArray> replies;
    ASSERT_TRUE(runBeside([&]() {
        Client client;
        if (!client.connectTo(port))
            return;
        replies << client.call(Request("CONNECT"));
        replies << client.call(Request("OpenFile").str(path));
        replies << client.call(Request("ReadFile").word(1).word(4));
        replies << client.call(Request("FindFirstFile").str(pattern)).left(4);
        replies << client.call(Request("CreateFile").str(terminalPath(dir.file(QStringLiteral("new.txt"))).toLatin1()));
        // A second terminal is admitted as well, and the operator is not told again.
        Client second;
        if (second.connectTo(port))
            replies << second.call(Request("CONNECT"));
    }));
    front.teardown();
    front.netServer = nullptr;
    debugLog.report = savedReport;

    const QList<QByteArray> served = {"OK", hex("00000001 00000001"), hex("00000001 00000004") + "data",
                                      hex("00000001"), hex("00000001"), "OK"};
    EXPECT_EQ(replies, served);
    ASSERT_EQ(warnings.size(), 1) << warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(warnings.first().startsWith(QStringLiteral("The open descriptors cannot be counted")))
        << warnings.first().toStdString();
}

// The name the program was started by, as a shell would have found it, stands in for /proc/self/exe.
TEST(WithoutProc, TheProgramsFolderComesFromTheNameItWasStartedBy)
{
    const QFileInfo self(QCoreApplication::applicationFilePath());
    const QString folder = self.absolutePath() + QLatin1Char('/');
    TempDir links;
    const QString link = links.file(QStringLiteral("linked-program"));
    ASSERT_TRUE(QFile::link(self.absoluteFilePath(), link));

    struct Row
    {
        const char *name;
        QString startedAs;
        QString workingFolder;
        QByteArray searchPath;
        QString expected;
    };
    const Row rows[] = {
        {"absolute", self.absoluteFilePath(), QString(), QByteArray(), folder},
        {"relative to the working folder", QStringLiteral("./") + self.fileName(), self.absolutePath(), QByteArray(),
         folder},
        {"through a link, resolved", link, QString(), QByteArray(), folder},
        {"bare, found through PATH", self.fileName(), QDir::rootPath(),
         QFile::encodeName(links.path()) + ":" + QFile::encodeName(self.absolutePath()), folder},
        {"bare and nowhere in PATH", self.fileName(), QDir::rootPath(), QFile::encodeName(links.path()), QString()},
    };

    char *const startedName = program_invocation_name;
    const QByteArray savedPath = qgetenv("PATH");
    const QString savedFolder = QDir::currentPath();
    const ScopedNoProc noProc(links.file(QStringLiteral("no-proc")));
    for (const Row &row : rows) {
        QByteArray name = QFile::encodeName(row.startedAs);
        program_invocation_name = name.data();
        if (!row.workingFolder.isEmpty())
            QDir::setCurrent(row.workingFolder);
        if (!row.searchPath.isEmpty())
            qputenv("PATH", row.searchPath);
        const QString found = platform::executableDir();
        program_invocation_name = startedName;
        qputenv("PATH", savedPath);
        QDir::setCurrent(savedFolder);
        EXPECT_EQ(found.toStdString(), row.expected.toStdString()) << row.name;
    }
}

} // namespace
