#include "TransportSupport.h"

#include "Helpers.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kClientWaitSeconds = 10;

void setWaits(int fd)
{
    timeval tv{kClientWaitSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int countEntries(const char *folder)
{
    return int(QDir(QString::fromLatin1(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

} // namespace

Client::~Client()
{
    close();
}

bool Client::connectTo(quint16 port)
{
    close();
    sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return false;
    setWaits(sock);
    const sockaddr_in address = loopback(port);
    return ::connect(sock, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

bool Client::sendRaw(const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(sock, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool Client::sendPacket(const QByteArray &payload)
{
    char head[4];
    writeUInt32BE(head, quint32(payload.size()));
    return sendRaw(QByteArray(head, 4) + payload);
}

bool Client::readExact(int count, QByteArray &out)
{
    out.resize(count);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::recv(sock, out.data() + done, size_t(count - done), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

bool Client::readPacket(QByteArray &payload)
{
    QByteArray head;
    if (!readExact(4, head))
        return false;
    return readExact(int(readUInt32BE(head.constData())), payload);
}

bool Client::closedWithoutReply()
{
    char byte;
    ssize_t n;
    do {
        n = ::recv(sock, &byte, 1, 0);
    } while (n < 0 && errno == EINTR);
    // A reset counts as closed as well: the server may drop unread request bytes.
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

QByteArray Client::call(const QByteArray &payload)
{
    QByteArray reply;
    if (!sendPacket(payload) || !readPacket(reply))
        return QByteArray();
    return reply;
}

void Client::close()
{
    if (sock >= 0)
        ::close(sock);
    sock = -1;
}

bool makeTcpPair(int &peer, int &accepted)
{
    peer = accepted = -1;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return false;
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    bool ok = ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::listen(listener, 1) == 0
        && ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) == 0;
    if (ok) {
        peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ok = peer >= 0 && ::connect(peer, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    if (ok) {
        accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ok = accepted >= 0;
    }
    ::close(listener);
    if (peer >= 0)
        setWaits(peer);
    return ok;
}

quint16 freeTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t size = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool runBeside(const std::function<void()> &work, int timeoutMs)
{
    std::atomic<bool> done{false};
    std::thread worker([&]() {
        work();
        done = true;
    });
    const bool inTime = waitFor([&]() { return done.load(); }, timeoutMs);
    // The worker's waits are bounded, so the join ends even after a time-out.
    worker.join();
    return inTime;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

int openDescriptorCount()
{
    return countEntries("/proc/self/fd");
}

int threadCount()
{
    return countEntries("/proc/self/task");
}

ScopedSettings::ScopedSettings(const std::function<void(PSettings &)> &change)
    : saved(settings.snapshot())
{
    PSettings value;
    value.setDefaults();
    if (change)
        change(value);
    settings.store(value);
}

ScopedSettings::~ScopedSettings()
{
    settings.store(saved);
}

QStringList logEntries(const QString &path)
{
    const QString text = QString::fromUtf8(readAll(path));
    static const QRegularExpression header(QStringLiteral(
        "\n\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d Session: [0-9A-F]+\n"));
    QList<QPair<int, int>> spans;
    QRegularExpressionMatchIterator it = header.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        spans.append({match.capturedStart(), match.capturedEnd()});
    }
    QStringList entries;
    for (int i = 0; i < spans.size(); ++i) {
        const int end = i + 1 < spans.size() ? spans[i + 1].first : text.size();
        QString entry = text.mid(spans[i].second, end - spans[i].second);
        if (entry.endsWith(QLatin1Char('\n')))
            entry.chop(1);
        entries.append(entry);
    }
    return entries;
}

TestFrontEnd::TestFrontEnd(Rows rows)
    : rows(rows)
{
    vorelServer = this;
}

TestFrontEnd::~TestFrontEnd()
{
    qDeleteAll(added);
}

QObject *TestFrontEnd::addWidget()
{
    if (rows != Rows::Made)
        return nullptr;
    added.append(new TestRow);
    return added.last();
}

void TestFrontEnd::removeWidget(QObject *row)
{
    removed.append(row);
}
