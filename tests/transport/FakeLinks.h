#pragma once

#include "BluetoothRadio.h"
#include "BluetoothStack.h"
#include "IrdaStack.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QThread>

#include <atomic>

class QDBusVirtualObject;

// Stand-ins for the system's Bluetooth and IrDA layers. Each puts itself in place while it lives.
// The listening sockets are AF_UNIX stream sockets under a fresh abstract name, so that the real
// listener, QTcpServer, session and data port run end to end; terminals connect with
// connectLocal().

// A listening socket as a fake stack makes it, at a descriptor number of 256 or more (so that a
// closed number is not at once handed out again elsewhere); -1 when it cannot be made.
int listenLocal(QByteArray &name);
// A terminal's end of a connection to `name`, with bounded waits; -1 when refused.
int connectLocal(const QByteArray &name);
// True while `fd` is an open descriptor.
bool isOpen(int fd);

// The send buffer the stand-ins give each accepted socket by default, as asked of the kernel
// (which doubles it): small, as a radio link's is next to a 1 MiB reply.
constexpr int kRadioSendBuffer = 4096;
// The stand-in radio's frame, RFCOMM's default, and what its kernel charges a frame on top of the
// frame's bytes: about 770 bytes for a full one.
constexpr int kRadioFrame = 127;
constexpr int kRadioFrameOverhead = 643;
// What one send of `bytes` costs the send buffer of the stand-in radio.
qint64 radioCharge(qint64 bytes);
// Gives an accepted socket the send buffer `asked` of the kernel; the stacks do it where they
// first see the socket (the listener asks them for the peer's name before the session starts).
// Gives the buffer's size in the kernel's count; -1 for no socket.
int makeRadioStrict(qintptr socket, int asked);
// While any stand-in stack lives, radio ports send as the radio's kernel takes a send: whole or
// not at all. A send whose charge exceeds the socket's send buffer never leaves; the stand-in
// refuses it at once, where the kernel would wait out the time-out first. The largest send asked
// for since the last stand-in stack was made.
int largestRadioSend();

class FakeBluetoothStack : public platform::BluetoothStack
{
public:
    FakeBluetoothStack();
    ~FakeBluetoothStack() override;

    bool listen(qintptr &socket) override;
    void withdraw() override;
    bool peerAddress(qintptr socket, quint64 &address) override;

    // Knobs: no radio (listen fails); a descriptor that QTcpServer refuses; an unknown peer.
    bool noRadio = false;
    bool deadDescriptor = false;
    bool knowsPeer = true;
    quint64 peer = 0x0011223344AAull;

    // What happened: records published and taken back, the name terminals reach.
    int registrations = 0;
    int withdrawals = 0;
    bool published = false;
    QByteArray name;
    int handedOut = -1;
    // Opened by withdraw() at the number last handed out when that number is free again (the
    // listener closed it before taking the record back). A listener that closed the number once
    // more afterwards would close this instead: the test checks it is still open.
    int sentinel = -1;
    // The send buffer asked for each accepted socket, and the last one's in the kernel's count
    // (-1 before any).
    int askedSendBuffer = kRadioSendBuffer;
    int sendBuffer = -1;

private:
    platform::BluetoothStack *previous;
};

class FakeIrdaStack : public platform::IrdaStack
{
public:
    FakeIrdaStack();
    ~FakeIrdaStack() override;

    bool listen(qintptr &socket, bool ircomm) override;
    bool deviceList(qintptr socket, QByteArray &list) override;

    bool noDevice = false;
    bool listFails = false;
    QByteArray list;
    QByteArray name;
    QList<bool> listens;
    int askedSendBuffer = kRadioSendBuffer;
    int sendBuffer = -1;

private:
    platform::IrdaStack *previous;
};

class FakeRadio : public platform::BluetoothRadio
{
public:
    FakeRadio();
    ~FakeRadio() override;

    bool info(QString &name, quint64 &address) override;
    bool isDiscoverable() override { return discoverable; }
    bool setDiscoverable(bool on) override;

    bool present = true;
    bool discoverable = false;
    QString radioName = QStringLiteral("OFFICE-PC");
    quint64 address = 0x001A7DDA7113ull;

private:
    platform::BluetoothRadio *previous;
};

// A discovery list in the kernel's layout with one record per device given.
struct IrdaDevice
{
    quint32 address;
    QByteArray name;
};
QByteArray irdaList(quint32 count, const QList<IrdaDevice> &devices);

// A message bus of the test's own with a stand-in for the Bluetooth daemon on it, holding the
// daemon's name and served from a thread of its own: the calls under test block the main thread
// until they are answered. The stand-in object moves to that thread.
class FakeBluezBus
{
    // Connects the stand-in, serves it until told to quit, then drops its connection. What it
    // needs is set before it starts, so it shares nothing else with the test's thread.
    class DaemonThread : public QThread
    {
    public:
        explicit DaemonThread(QDBusVirtualObject &fake) : fake(fake) {}
        void run() override;

        QDBusVirtualObject &fake;
        QString address;
        // 0 while connecting, then 1 when served, -1 when the bus refused.
        std::atomic<int> served{0};
    };

public:
    explicit FakeBluezBus(QDBusVirtualObject &fake);
    ~FakeBluezBus();
    FakeBluezBus(const FakeBluezBus &) = delete;
    FakeBluezBus &operator=(const FakeBluezBus &) = delete;

    // False when dbus-daemon is not installed: the caller skips.
    static bool available();
    // Starts the bus and serves the stand-in; false when either fails.
    bool start();

    // The test's own connection to the bus.
    QDBusConnection client{QString()};

private:
    QProcess daemon;
    DaemonThread server;
};
