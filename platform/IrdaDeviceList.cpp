#include "IrdaDeviceList.h"

#include <QBluetoothAddress>

#include <cstring>

namespace platform::irda {

namespace {
constexpr int kRemoteAddressAt = 4;
constexpr int kNameAt = 8;
} // namespace

bool firstDevice(const char *list, int size, Device &device)
{
    if (!list || size < kListHeader)
        return false;
    quint32 count = 0;
    std::memcpy(&count, list, sizeof count);
    // The count says how many devices the system knew, not how many the buffer got.
    if (count == 0 || size < kListHeader + kDeviceRecord)
        return false;
    const char *record = list + kListHeader;
    std::memcpy(&device.address, record + kRemoteAddressAt, sizeof device.address);
    const char *name = record + kNameAt;
    const void *end = std::memchr(name, '\0', kNameSize);
    const int length = end ? int(static_cast<const char *>(end) - name) : kNameSize;
    device.name = QString::fromUtf8(name, length);
    return true;
}

QString deviceText(const Device &device)
{
    QString text;
    if (!device.name.isEmpty())
        text = QLatin1Char('(') + device.name + QLatin1String(") ");
    const quint64 widened = quint64(qint64(qint32(device.address)));
    return text + QLatin1Char('[') + QBluetoothAddress(widened).toString() + QLatin1Char(']');
}

} // namespace platform::irda
