#pragma once

#include "Request.h"

#include "PFrontEnd.h"
#include "PSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// A terminal on a blocking TCP socket; every wait is bounded, so a server that hangs fails the
// test instead of stopping the suite.
class Client
{
public:
    Client() = default;
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool connectTo(quint16 port);
    void adopt(int fd) { sock = fd; }
    bool sendRaw(const QByteArray &bytes);
    // The 4-byte length and the payload.
    bool sendPacket(const QByteArray &payload);
    bool readExact(int count, QByteArray &out);
    // One binary reply packet; false when the link ends first.
    bool readPacket(QByteArray &payload);
    // True when the server closed the link without sending anything more.
    bool closedWithoutReply();
    // sendPacket + readPacket; an empty array when either fails.
    QByteArray call(const QByteArray &payload);
    void close();
    int fd() const { return sock; }

private:
    int sock = -1;
};


// A connected loopback TCP pair: `peer` for the test, `accepted` to hand to a port.
bool makeTcpPair(int &peer, int &accepted);
// A port that was free a moment ago.
quint16 freeTcpPort();

// Runs `work` on a thread of its own while the main thread keeps its event loop turning;
// false when it did not end within the time.
bool runBeside(const std::function<void()> &work, int timeoutMs = 20000);
// Turns the event loop until the condition holds; false after the time.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000);

int openDescriptorCount();
int threadCount();

// The settings in place for its lifetime: the defaults with the given changes.
class ScopedSettings
{
public:
    explicit ScopedSettings(const std::function<void(PSettings &)> &change = {});
    ~ScopedSettings();
    ScopedSettings(const ScopedSettings &) = delete;
    ScopedSettings &operator=(const ScopedSettings &) = delete;

private:
    PSettings saved;
};

// The entries of the debug log file, oldest first, without their time and thread line.
QStringList logEntries(const QString &path);

// A session row as the desktop program's would receive it.
class TestRow : public QObject
{
    Q_OBJECT
public:
    QStringList types;
    QStringList messages;
    QList<int> indicators;

public slots:
    void setIndicator(int value) { indicators.append(value); }
    void setMessage(const QString &text) { messages.append(text); }
    void setType(const QString &text) { types.append(text); }
};

// A front-end for the engine: with or without rows, or one that cannot make a row.
class TestFrontEnd : public PFrontEnd
{
public:
    enum class Rows { None, Made, Refused };
    explicit TestFrontEnd(Rows rows = Rows::None);
    ~TestFrontEnd() override;

    bool hasRows() const override { return rows != Rows::None; }
    QObject *addWidget() override;
    void removeWidget(QObject *row) override;

    Rows rows;
    QList<TestRow *> added;
    QList<QObject *> removed;
};
