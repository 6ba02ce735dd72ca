#include "IrdaLinuxStack.h"

#include "IrdaDeviceList.h"

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// The kernel's IrDA names, kept here: the headers left the kernel with the protocol.
constexpr int kAfIrda = 23;
constexpr int kSolIrlmp = 266;
constexpr int kIrlmpEnumDevices = 1;
constexpr int kIrlmpIasSet = 2;
constexpr unsigned kIasOctetSequence = 2;

struct IrdaAddress
{
    sa_family_t family;
    quint8 lsapSelector;
    quint32 device;
    char serviceName[25];
};

struct IasEntry
{
    char className[64];
    char attributeName[256];
    unsigned int attributeType;
    union {
        unsigned int integer;
        struct
        {
            unsigned short length;
            quint8 octets[1024];
        } sequence;
        struct
        {
            quint8 length;
            quint8 charset;
            quint8 text[256];
        } string;
    } attribute;
    quint32 device;
};

// What makes the server an IrCOMM port to a terminal: its IAS "Parameters" entry.
bool announceIrcomm(int fd)
{
    IasEntry entry{};
    std::strcpy(entry.className, "IrDA:IrCOMM");
    std::strcpy(entry.attributeName, "Parameters");
    entry.attributeType = kIasOctetSequence;
    static const quint8 parameters[6] = {0x00, 0x01, 0x06, 0x01, 0x01, 0x01};
    entry.attribute.sequence.length = sizeof parameters;
    std::memcpy(entry.attribute.sequence.octets, parameters, sizeof parameters);
    return ::setsockopt(fd, kSolIrlmp, kIrlmpIasSet, &entry, sizeof entry) == 0;
}

} // namespace

IrdaLinuxStack::IrdaLinuxStack() = default;
IrdaLinuxStack::~IrdaLinuxStack() = default;

bool IrdaLinuxStack::listen(qintptr &socket, bool ircomm)
{
    socket = -1;
    const int fd = ::socket(kAfIrda, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    IrdaAddress address{};
    address.family = kAfIrda;
    std::strcpy(address.serviceName, ircomm ? "IrDA:IrCOMM" : "VOREL Server v1.00");
    const bool ok = (!ircomm || announceIrcomm(fd))
        && ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
        && ::listen(fd, 10) == 0;
    if (!ok) {
        ::close(fd);
        return false;
    }
    socket = fd;
    return true;
}

bool IrdaLinuxStack::deviceList(qintptr socket, QByteArray &list)
{
    if (socket < 0)
        return false;
    QByteArray bytes(irda::kListHeader + irda::kMaxDevices * irda::kDeviceRecord, '\0');
    socklen_t size = socklen_t(bytes.size());
    if (::getsockopt(int(socket), kSolIrlmp, kIrlmpEnumDevices, bytes.data(), &size) != 0)
        return false;
    // The kernel says how much it wrote; only that much is the list.
    bytes.truncate(int(qMin(size, socklen_t(bytes.size()))));
    list = bytes;
    return true;
}

} // namespace platform
