// The command layer on arbitrary requests: each input is a run of request payloads, separated by
// fuzz::kSeparator, answered one after the other by one command layer, as one session would.
// The files a terminal names are those of the scratch folder, fresh for every input.

#include "FuzzSupport.h"

#include "PProgressSink.h"
#include "VorelProtocol.h"

#include <cstring>
#include <memory>

namespace {

// Enough requests to open, write, seek, read, convert and close within one input.
constexpr std::size_t kMaxRequests = 64;

class Sink : public PProgressSink
{
public:
    void setIndicator(int) override {}
    void setMessage(const QString &) override {}
    void setType(const QString &) override {}
};

void checkReply(const VorelProtocol &protocol, const QByteArray &request)
{
    const quint32 size = protocol.replySize();
    fuzz::check(size <= VorelProtocol::kBufferSize, "a reply fits its buffer");
    // The name ends at its NUL, or with the request when that comes first.
    const int nameEnd = request.indexOf('\0');
    if (request.left(nameEnd < 0 ? request.size() : nameEnd) == "CONNECT") {
        fuzz::check(size == 2 && std::memcmp(protocol.reply(), "OK", 2) == 0, "CONNECT answers OK");
        return;
    }
    // Every other reply begins with its result word, 0 or 1.
    fuzz::check(size >= 4, "a reply holds its result word");
    const char *reply = protocol.reply();
    fuzz::check(reply[0] == 0 && reply[1] == 0 && reply[2] == 0 && (reply[3] == 0 || reply[3] == 1),
                "the result word is 0 or 1");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::resetScratchWithFixtures();
    Sink sink;
    VorelProtocol protocol;
    fuzz::check(protocol.isReady(), "the command layer has its buffers");
    protocol.setSession(&sink);
    for (const QByteArray &request : fuzz::splitInput(data, size, kMaxRequests)) {
        // Exactly the request's bytes on the heap: a read past them is an AddressSanitizer report.
        const std::size_t length = std::size_t(request.size());
        std::unique_ptr<char[]> bytes(new char[length ? length : 1]);
        std::memcpy(bytes.get(), request.constData(), length);
        if (!protocol.processCommand(bytes.get(), quint32(length)))
            break; // no command: the session would end here
        checkReply(protocol, request);
    }
    protocol.cleanup();
    return 0;
}
