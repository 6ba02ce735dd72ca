#include "FaultSupport.h"

#include "Helpers.h"
#include "PDebugLog.h"
#include "PRow.h"
#include "PSession.h"
#include "PTableV4.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <malloc.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VOREL_SANITIZED_HEAP 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VOREL_SANITIZED_HEAP 1
#endif
#endif
#ifdef VOREL_SANITIZED_HEAP
// The sanitizer runtimes keep their own heap; gcc does not ship their headers.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// The mount namespace must be made while the process has a single thread: before main, and
// before any object of this file is built, so only plain values record how it went.
const char *mountNamespaceStep = "not tried";
int mountNamespaceErrno = 0;

__attribute__((constructor)) void enterPrivateMountNamespace()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        mountNamespaceStep = "no mount namespace of its own";
        mountNamespaceErrno = errno;
        return;
    }
    // Mounts made here must not reach the rest of the system, nor theirs reach here.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        mountNamespaceStep = "mounts cannot be made private";
        mountNamespaceErrno = errno;
        return;
    }
    mountNamespaceStep = nullptr;
}

} // namespace

qint64 allocatedHeapBytes()
{
#ifdef VOREL_SANITIZED_HEAP
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

Resources currentResources()
{
    Resources r;
    r.descriptors = openDescriptorCount();
    r.threads = threadCount();
    r.heapBytes = allocatedHeapBytes();
    return r;
}

int CountingServer::sessionsAlive() const
{
    return findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly).size();
}

void CountingServer::incomingConnection(qintptr descriptor)
{
    ++made;
    PNetServer::incomingConnection(descriptor);
}

void FaultTest::SetUp()
{
    server.reset(new CountingServer);
    front.netServer = server.get();
    // The listener refuses port 0, so take one that was free a moment ago.
    for (int attempt = 0; attempt < 5 && !server->running; ++attempt) {
        server->port = freeTcpPort();
        server->start();
    }
    ASSERT_TRUE(server->running);
    port = quint16(server->port);
    bool served = false;
    ASSERT_TRUE(runBeside([&]() {
        Client warmUp;
        served = warmUp.connectTo(port) && warmUp.call(Request("CONNECT")) == "OK";
    }));
    ASSERT_TRUE(served);
    ASSERT_TRUE(sessionsGone());
    before = currentResources();
}

void FaultTest::TearDown()
{
    front.teardown();
    EXPECT_EQ(server->sessionsAlive(), 0);
    front.netServer = nullptr;
    server.reset();
}

int FaultTest::alive()
{
    // Deferred deletions wait for an event loop that waitFor does not run; deliver them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return server->sessionsAlive();
}

bool FaultTest::sessionsGone(int timeoutMs)
{
    return waitFor([this]() { return alive() == 0; }, timeoutMs);
}

void FaultTest::expectNothingLeft(qint64 heapSlack)
{
    // Finished threads leave the task list a moment after they report it, and one that was
    // still leaving at the baseline may have gone since: fewer is no leak.
    const bool back = waitFor([this]() {
        const Resources now = currentResources();
        return now.descriptors == before.descriptors && now.threads <= before.threads;
    }, 5000);
    const Resources now = currentResources();
    EXPECT_TRUE(back) << "descriptors " << now.descriptors << " (were " << before.descriptors << "), threads "
                      << now.threads << " (were " << before.threads << ")";
    EXPECT_LT(now.heapBytes - before.heapBytes, heapSlack)
        << "heap " << now.heapBytes << " bytes, was " << before.heapBytes;
}

bool FaultTest::answers(Client &client)
{
    return client.call(Request("CONNECT")) == "OK"
        && client.call(Request("GetFuture").str(QByteArray("ServerName"))) == hex("00000001 0000000B") + "VorelServer";
}

void resetConnection(Client &client)
{
    const linger abortive{1, 0};
    ::setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    client.close();
}

bool connectWithSmallReceiveBuffer(Client &client, quint16 port)
{
    // The option must be set before the connection exists to bound the window it offers.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    timeval wait{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    client.adopt(fd);
    return ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

SmallDisk::SmallDisk(int kibibytes)
{
    if (mountNamespaceStep) {
        reason = QStringLiteral("%1: %2").arg(QLatin1String(mountNamespaceStep),
                                              QString::fromLocal8Bit(std::strerror(mountNamespaceErrno)));
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(kibibytes) + "k,mode=0700";
    if (::mount("vorel-fault", QFile::encodeName(folder.path()).constData(), "tmpfs", 0, options.constData()) != 0) {
        reason = QStringLiteral("tmpfs cannot be mounted: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    mounted = true;
}

SmallDisk::~SmallDisk()
{
    if (mounted)
        ::umount2(QFile::encodeName(folder.path()).constData(), MNT_DETACH);
}

bool SmallDisk::isMounted(QString &why) const
{
    why = reason;
    return mounted;
}

bool SmallDisk::fill(const QString &name)
{
    QFile filler(file(name));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'F');
    while (filler.write(block) == block.size()) {
    }
    // A last short piece fills the page that is left.
    filler.write(block.constData(), 1);
    return filler.error() == QFileDevice::ResourceError || filler.error() == QFileDevice::WriteError;
}

QByteArray patternBytes(int size, char seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed + (i >> 12)) & 0xFF);
    return bytes;
}

QByteArray goodsHeader()
{
    QByteArray header("PLDB");
    for (quint32 value : {100u, 95u, 3u, 0u}) {
        char bytes[4];
        writeUInt32BE(bytes, value);
        header += QByteArray(bytes, 4);
    }
    for (int kind : {1, 3, 2}) {
        QByteArray descriptor(21, '\0');
        descriptor += char(kind);
        descriptor += char(kind == 3 ? 2 : 0);
        descriptor += char(1);
        descriptor += char(1);
        header += descriptor;
    }
    return header;
}

qint64 wholeV4Records(const QString &table)
{
    PTableV4 v4;
    if (!v4.open(table, PTableV4::fileNames(table), nullptr, {}, TableUse::Read)
        || v4.indFile.size() != v4.recordCount * 8)
        return -1;
    PRow row;
    for (qint64 n = 0; n < v4.recordCount; ++n) {
        if (!v4.readRecord(n, row) || row.text(0) != QStringLiteral("item%1").arg(n))
            return -1;
    }
    return v4.recordCount;
}

bool makeGoodsBase(const QString &base)
{
    sqlite3 *db = nullptr;
    const bool made = sqlite3_open(QFile::encodeName(base).constData(), &db) == SQLITE_OK
        && sqlite3_exec(db, "CREATE TABLE GOODS(N INTEGER PRIMARY KEY AUTOINCREMENT, NAME, PRICE, WEIGHT);"
                            "INSERT INTO GOODS(NAME) VALUES ('stored before');",
                        nullptr, nullptr, nullptr)
            == SQLITE_OK;
    sqlite3_close(db);
    return made;
}

int wholeBaseRows(const QString &base)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    int rows = -1;
    if (sqlite3_open(QFile::encodeName(base).constData(), &db) == SQLITE_OK
        && sqlite3_prepare_v2(db, "SELECT CASE (SELECT integrity_check FROM pragma_integrity_check) WHEN 'ok' "
                                  "THEN (SELECT count(*) FROM GOODS) ELSE -1 END",
                              -1, &statement, nullptr)
            == SQLITE_OK
        && sqlite3_step(statement) == SQLITE_ROW)
        rows = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}
