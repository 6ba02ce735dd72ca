#include "ProtocolFixture.h"

#include "Helpers.h"
#include "PDebugLog.h"
#include "TestSeams.h"

#include <QDir>
#include <QRegularExpression>

#include <cstring>
#include <memory>

Reply sendExact(VorelProtocol &protocol, const QByteArray &payload, int length)
{
    if (length < 0)
        length = payload.size();
    // new char[0] still gives a distinct pointer that may not be read.
    std::unique_ptr<char[]> exact(new char[size_t(length)]);
    std::memcpy(exact.get(), payload.constData(), size_t(length));
    Reply reply;
    reply.known = protocol.processCommand(exact.get(), quint32(length));
    if (reply.known)
        reply.bytes = QByteArray(protocol.reply(), int(protocol.replySize()));
    return reply;
}

Reply sendWithStale(VorelProtocol &protocol, const QByteArray &buffer, int length)
{
    Reply reply;
    reply.known = protocol.processCommand(buffer.constData(), quint32(length));
    if (reply.known)
        reply.bytes = QByteArray(protocol.reply(), int(protocol.replySize()));
    return reply;
}

DefaultSettings::DefaultSettings()
    : saved(settings.snapshot())
{
    PSettings defaults;
    defaults.setDefaults();
    settings.store(defaults);
}

DefaultSettings::~DefaultSettings()
{
    settings.store(saved);
}

void ProtocolTest::SetUp()
{
    // A table that cannot be opened (busy, read-only) is tried ten times: not ten seconds here.
    platform::setTableOpenRetryDelayForTesting(1);
    ASSERT_TRUE(debugLog.start());
    ASSERT_TRUE(protocol.isReady());
}

void ProtocolTest::TearDown()
{
    debugLog.stop();
    platform::setTableOpenRetryDelayForTesting(platform::kDefaultTableOpenRetryDelayMs);
}

QByteArray ProtocolTest::call(const Request &request)
{
    const Reply reply = send(request);
    EXPECT_TRUE(reply.known) << request.bytes().constData();
    return reply.bytes;
}

QStringList ProtocolTest::logEntries() const
{
    const QString text = QString::fromUtf8(readAll(dir.file(QStringLiteral("VorelServer_debug.txt"))));
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

QString ProtocolTest::lastEntry() const
{
    const QStringList entries = logEntries();
    return entries.isEmpty() ? QString() : entries.last();
}

void ProtocolTest::resetLog()
{
    debugLog.stop();
    debugLog.start();
}
