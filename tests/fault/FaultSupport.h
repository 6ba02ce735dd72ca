#pragma once

#include "PNetServer.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QString>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

// What a server holds for its terminals: leaks show as more of these after they have gone.
struct Resources
{
    int descriptors = 0;
    int threads = 0;
    qint64 heapBytes = 0;
};
Resources currentResources();
// Bytes allocated on the heap now (by the sanitizer's allocator in sanitizer builds).
qint64 allocatedHeapBytes();

// The TCP listener of the engine on a port of its own, for terminals that misbehave.
class CountingServer : public PNetServer
{
public:
    CountingServer() : PNetServer(nullptr) {}
    int sessionsMade() const { return made; }
    int sessionsAlive() const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    int made = 0;
};

// Every case: a listener, its first session already served and gone (what Qt makes once per
// process is no leak), and the resources of the process at that moment.
class FaultTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Turns the event loop until every session has ended and been deleted.
    bool sessionsGone(int timeoutMs = 10000);
    // Sessions not yet deleted, once the deletions already asked for are done.
    int alive();
    // From here on, what the case itself holds (its files' contents, its requests) counts as
    // there before; the session count must be 0.
    void markBaseline() { before = currentResources(); }
    // Descriptors back where they were at the baseline, threads no more, and the heap within
    // `heapSlack` bytes of it; a session's buffers alone are 7 MiB.
    void expectNothingLeft(qint64 heapSlack = 1 << 20);
    // A client that was connected before the fault gets its answers.
    static bool answers(Client &client);

    TempDir dir{true};
    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 10; }};
    TestFrontEnd front;
    std::unique_ptr<CountingServer> server;
    quint16 port = 0;
    Resources before;
};

// Ends a client's connection with a reset (RST) instead of an orderly close.
void resetConnection(Client &client);
// Makes the client's receive buffer small before it connects, so that a large reply cannot be
// taken by the kernel on the client's behalf.
bool connectWithSmallReceiveBuffer(Client &client, quint16 port);

// A tmpfs of a given size mounted in a private mount namespace of this test process; nobody
// else sees it and it goes with the process.
class SmallDisk
{
public:
    explicit SmallDisk(int kibibytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    // False with the reason when no private mount could be made (not root, no namespaces).
    bool isMounted(QString &why) const;
    QString path() const { return folder.path(); }
    QString file(const QString &name) const { return folder.file(name); }
    // Writes a file of filler bytes until the disk is full; true when it filled up.
    bool fill(const QString &name);

private:
    TempDir folder;
    bool mounted = false;
    QString reason;
};

// Payload bytes that tell their position: a lost or moved block shows.
QByteArray patternBytes(int size, char seed);

// The header of a V4 goods table: name (text), price (hundredths, 2 decimals), weight (decimal);
// every field imported and exported.
QByteArray goodsHeader();

// A new SQL base with the table GOODS(N, NAME, PRICE, WEIGHT) and one row, 'stored before'.
bool makeGoodsBase(const QString &base);
// The records of a V4 goods table filled with "item0", "item1", ..., each whole and with its index
// entry; -1 when the table does not open or a record is not whole.
qint64 wholeV4Records(const QString &table);
// The rows of the table GOODS of an SQL base that passes its integrity check; -1 otherwise.
int wholeBaseRows(const QString &base);
