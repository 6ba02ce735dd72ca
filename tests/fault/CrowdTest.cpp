// Two hundred terminals that connect at the same moment and drop again, each in its own way,
// while one more terminal keeps working.

#include "FaultSupport.h"

#include "Helpers.h"

#include <QFile>

#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kCrowd = 200;

// Holds every client until all are ready, then lets them go at once.
class StartingGate
{
public:
    explicit StartingGate(int count) : waiting(count) {}
    void arriveAndWait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (--waiting == 0)
            opened.notify_all();
        opened.wait(lock, [this]() { return waiting <= 0; });
    }

private:
    std::mutex mutex;
    std::condition_variable opened;
    int waiting;
};

TEST_F(FaultTest, TwoHundredTerminalsConnectAndDropAtOnce)
{
    QStringList temporaries;
    for (int i = 0; i < kCrowd; ++i) {
        temporaries << dir.file(QStringLiteral("t%1.tmp").arg(i));
        ASSERT_TRUE(writeAll(temporaries.last(), "x"));
    }
    markBaseline();
    // The listener's own queue must take the whole burst: a connection Linux drops from a full
    // queue is one the server never sees, though its terminal believes it is connected.
    Client steady;
    std::atomic<int> steadyCalls{0};
    std::atomic<int> steadyFailures{0};
    std::atomic<int> connected{0};
    std::atomic<bool> crowdDone{false};
    ASSERT_TRUE(runBeside(
        [&]() {
            if (!steady.connectTo(port))
                return;
            // The steady terminal works all through the crowd's coming and going.
            std::thread worker([&]() {
                do {
                    ++steadyCalls;
                    if (!answers(steady))
                        ++steadyFailures;
                } while (!crowdDone.load());
            });
            StartingGate gate(kCrowd);
            std::vector<std::thread> crowd;
            for (int i = 0; i < kCrowd; ++i) {
                crowd.emplace_back([&, i]() {
                    Client client;
                    gate.arriveAndWait();
                    if (!client.connectTo(port))
                        return;
                    ++connected;
                    switch (i % 5) {
                    case 0: // leaves without a word
                        client.close();
                        break;
                    case 1: // leaves inside its first request
                        client.sendRaw(hex("00000010") + "CONN");
                        client.close();
                        break;
                    case 2: // is answered, then resets the link
                        client.call(Request("CONNECT"));
                        resetConnection(client);
                        break;
                    case 3: // registers a temporary file and leaves before the answer
                        client.sendPacket(Request("SetFuture").str(QByteArray("SetTemporaryFile"))
                                              .str(terminalPath(temporaries[i])));
                        client.close();
                        break;
                    default: // asks for a large reply and resets without reading it
                        client.sendPacket(Request("GetFuture").str(QByteArray("ServerVersion")));
                        client.sendRaw(hex("00100000"));
                        resetConnection(client);
                        break;
                    }
                });
            }
            for (std::thread &t : crowd)
                t.join();
            crowdDone = true;
            worker.join();
        },
        110000));
    EXPECT_EQ(connected.load(), kCrowd);
    EXPECT_GT(steadyCalls.load(), 0);
    EXPECT_EQ(steadyFailures.load(), 0);
    // Connections still in the listen queue have no session yet: wait for all to come and go.
    ASSERT_TRUE(waitFor([this]() { return server->sessionsMade() == 1 + kCrowd + 1 && alive() == 1; }, 30000))
        << server->sessionsMade() << " sessions made, " << alive() << " left";

    int left = 0;
    for (int i = 3; i < kCrowd; i += 5)
        left += QFile::exists(temporaries[i]) ? 1 : 0;
    // Each of them left after its whole request was sent: the file was registered and removed.
    EXPECT_EQ(left, 0);

    bool served = false;
    ASSERT_TRUE(runBeside([&]() {
        served = answers(steady);
        steady.close();
    }));
    EXPECT_TRUE(served);
    ASSERT_TRUE(sessionsGone());
    expectNothingLeft();
}

} // namespace
