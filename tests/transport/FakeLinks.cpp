#include "FakeLinks.h"

#include "IrdaDeviceList.h"
#include "NativeSocket.h"
#include "TestSeams.h"

#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kFirstNumber = 256;

std::atomic<int> largestSend{0};

platform::SocketTransfer chargedSend(qintptr descriptor, const char *head, int headLength, const char *data, int length,
                                     bool mayWait, int &count)
{
    const int bytes = headLength + length;
    int largest = largestSend.load();
    while (bytes > largest && !largestSend.compare_exchange_weak(largest, bytes)) {
    }
    if (radioCharge(bytes) > platform::sendBufferSize(descriptor)) {
        count = 0;
        return platform::SocketTransfer::WouldWait;
    }
    return platform::sendSome(descriptor, head, headLength, data, length, mayWait, count);
}

// Stand-in stacks alive; the radio's sends last as long as any of them (main thread only).
int strictStacks = 0;

void strictStackMade()
{
    largestSend = 0;
    if (strictStacks++ == 0)
        platform::setRadioSendForTesting(chargedSend);
}

void strictStackGone()
{
    if (--strictStacks == 0)
        platform::setRadioSendForTesting(nullptr);
}

socklen_t abstractAddress(const QByteArray &name, sockaddr_un &address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    // Abstract: a leading NUL, no file to clean up.
    const int size = qMin(name.size(), int(sizeof address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, name.constData(), size_t(size));
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(size));
}

} // namespace

int listenLocal(QByteArray &name)
{
    static std::atomic<int> counter{0};
    name = "vorel-link-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(++counter);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address;
    const socklen_t size = abstractAddress(name, address);
    int high = -1;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), size) == 0 && ::listen(fd, 10) == 0)
        high = ::fcntl(fd, F_DUPFD_CLOEXEC, kFirstNumber);
    ::close(fd);
    return high;
}

int connectLocal(const QByteArray &name)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_un address;
    const socklen_t size = abstractAddress(name, address);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), size) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isOpen(int fd)
{
    return fd >= 0 && ::fcntl(fd, F_GETFD) != -1;
}

qint64 radioCharge(qint64 bytes)
{
    const qint64 frames = (bytes + kRadioFrame - 1) / kRadioFrame;
    return bytes + frames * kRadioFrameOverhead;
}

int makeRadioStrict(qintptr socket, int asked)
{
    if (socket < 0)
        return -1;
    ::setsockopt(int(socket), SOL_SOCKET, SO_SNDBUF, &asked, sizeof asked);
    return platform::sendBufferSize(socket);
}

int largestRadioSend()
{
    return largestSend.load();
}

FakeBluetoothStack::FakeBluetoothStack()
    : previous(platform::setBluetoothStack(this))
{
    strictStackMade();
}

FakeBluetoothStack::~FakeBluetoothStack()
{
    strictStackGone();
    platform::setBluetoothStack(previous);
    if (sentinel >= 0)
        ::close(sentinel);
}

bool FakeBluetoothStack::listen(qintptr &socket)
{
    socket = -1;
    if (noRadio)
        return false;
    if (deadDescriptor) {
        // Beyond any descriptor limit: nothing can own this number.
        handedOut = 1 << 30;
    } else {
        handedOut = listenLocal(name);
        if (handedOut < 0)
            return false;
    }
    socket = handedOut;
    ++registrations;
    published = true;
    return true;
}

void FakeBluetoothStack::withdraw()
{
    ++withdrawals;
    published = false;
    if (sentinel >= 0)
        ::close(sentinel);
    sentinel = -1;
    if (handedOut < 0 || handedOut >= (1 << 30))
        return;
    const int placeholder = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (placeholder < 0)
        return;
    const int number = ::fcntl(placeholder, F_DUPFD_CLOEXEC, handedOut);
    ::close(placeholder);
    if (number == handedOut)
        sentinel = number;
    else if (number >= 0)
        ::close(number);
}

bool FakeBluetoothStack::peerAddress(qintptr socket, quint64 &address)
{
    sendBuffer = makeRadioStrict(socket, askedSendBuffer);
    if (!knowsPeer)
        return false;
    address = peer;
    return true;
}

FakeIrdaStack::FakeIrdaStack()
    : previous(platform::setIrdaStack(this))
{
    strictStackMade();
}

FakeIrdaStack::~FakeIrdaStack()
{
    strictStackGone();
    platform::setIrdaStack(previous);
}

bool FakeIrdaStack::listen(qintptr &socket, bool ircomm)
{
    socket = -1;
    listens.append(ircomm);
    if (noDevice)
        return false;
    socket = listenLocal(name);
    return socket >= 0;
}

bool FakeIrdaStack::deviceList(qintptr socket, QByteArray &bytes)
{
    sendBuffer = makeRadioStrict(socket, askedSendBuffer);
    if (listFails)
        return false;
    bytes = list;
    return true;
}

FakeRadio::FakeRadio()
    : previous(platform::setBluetoothRadio(this))
{
}

FakeRadio::~FakeRadio()
{
    platform::setBluetoothRadio(previous);
}

bool FakeRadio::info(QString &name, quint64 &number)
{
    if (!present)
        return false;
    name = radioName;
    number = address;
    return true;
}

bool FakeRadio::setDiscoverable(bool on)
{
    if (!present)
        return false;
    discoverable = on;
    return true;
}

QByteArray irdaList(quint32 count, const QList<IrdaDevice> &devices)
{
    using namespace platform::irda;
    QByteArray bytes(kListHeader + devices.size() * kDeviceRecord, '\0');
    std::memcpy(bytes.data(), &count, sizeof count);
    for (int i = 0; i < devices.size(); ++i) {
        const int at = kListHeader + i * kDeviceRecord;
        const quint32 local = 0xA5A5A5A5;
        bytes.replace(at, 4, reinterpret_cast<const char *>(&local), 4);
        bytes.replace(at + 4, 4, reinterpret_cast<const char *>(&devices[i].address), 4);
        const QByteArray name = devices[i].name.left(kNameSize);
        bytes.replace(at + 8, name.size(), name);
        // Character set and hints, not part of the name.
        bytes.replace(at + 8 + kNameSize, 3, "ZYX");
    }
    return bytes;
}

namespace {
const QString kDaemonConnection = QStringLiteral("vorel-fake-bluez");
const QString kClientConnection = QStringLiteral("vorel-bluez-client");
} // namespace

FakeBluezBus::FakeBluezBus(QDBusVirtualObject &fake)
    : server(fake)
{
    fake.moveToThread(&server);
}

FakeBluezBus::~FakeBluezBus()
{
    client = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(kClientConnection);
    server.quit();
    server.wait();
    if (daemon.state() != QProcess::NotRunning) {
        daemon.kill();
        daemon.waitForFinished(5000);
    }
}

void FakeBluezBus::DaemonThread::run()
{
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, kDaemonConnection);
        served = bus.registerService(QStringLiteral("org.bluez"))
                && bus.registerVirtualObject(QStringLiteral("/"), &fake, QDBusConnection::SubPath)
            ? 1 : -1;
        // A quit that came before the loop ends it at once.
        if (served == 1)
            exec();
        // Qt's bus thread deletes the connection some time after it is dropped, and then visits
        // every object still registered with it: the stand-in, which the test may have destroyed
        // by then, is taken off here, before the thread ends.
        bus.unregisterObject(QStringLiteral("/"));
    }
    QDBusConnection::disconnectFromBus(kDaemonConnection);
}

bool FakeBluezBus::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty();
}

bool FakeBluezBus::start()
{
    daemon.start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted(5000))
        return false;
    QString address;
    while (address.isEmpty() && daemon.waitForReadyRead(5000))
        address = QString::fromUtf8(daemon.readLine()).trimmed();
    if (address.isEmpty())
        return false;

    // The thread lives until the destructor, so a connection that comes after the wait below
    // gave up still finds everything it uses.
    server.address = address;
    server.start();
    QElapsedTimer timer;
    timer.start();
    while (server.served == 0 && timer.elapsed() < 5000)
        QThread::msleep(5);
    if (server.served != 1)
        return false;
    client = QDBusConnection::connectToBus(address, kClientConnection);
    return client.isConnected();
}
