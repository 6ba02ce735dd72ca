#pragma once

#include "Request.h"

#include "PSettings.h"
#include "TempDir.h"
#include "VorelProtocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// A request payload built the way a terminal packs one: the name, NUL, then the arguments.
struct Reply
{
    bool known = false;
    QByteArray bytes;
};

// Hands the first `length` bytes of `payload` to the layer from a heap buffer of exactly that
// size, so that AddressSanitizer reports any read past the payload.
Reply sendExact(VorelProtocol &protocol, const QByteArray &payload, int length = -1);
// Hands the layer the whole of `buffer` but says it is `length` bytes long: what follows stands
// for the earlier requests still in a session's receive buffer.
Reply sendWithStale(VorelProtocol &protocol, const QByteArray &buffer, int length);


// Puts the default settings in place for its lifetime, as a program does at start-up.
class DefaultSettings
{
public:
    DefaultSettings();
    ~DefaultSettings();
    DefaultSettings(const DefaultSettings &) = delete;
    DefaultSettings &operator=(const DefaultSettings &) = delete;

private:
    PSettings saved;
};

// Every case runs in a fresh working folder with the debug log started there and the default
// settings in place.
class ProtocolTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    Reply send(const Request &request) { return sendExact(protocol, request.bytes()); }
    // The reply bytes of a request that must be known.
    QByteArray call(const Request &request);
    // The texts of the log entries so far, oldest first.
    QStringList logEntries() const;
    QString lastEntry() const;
    // Empties the log (a stop and a new start).
    void resetLog();
    QString local(const QString &name) const { return dir.file(name); }
    QString terminal(const QString &name) const { return terminalPath(dir.file(name)); }

    TempDir dir{true};
    DefaultSettings defaults;
    VorelProtocol protocol;
};
