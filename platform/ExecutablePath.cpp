#include "ExecutablePath.h"

#include <QFile>

#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// The target of /proc/self/exe, however long: readlink does not say when it had to cut, so the
// buffer grows until the text fits with room to spare.
QByteArray executablePath()
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return QByteArray();
        if (size_t(n) < buffer.size())
            return QByteArray(buffer.data(), int(n));
        if (buffer.size() > (size_t(1) << 24))
            return QByteArray();
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

QString executableDir()
{
    const QString path = QFile::decodeName(executablePath());
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return path.left(slash + 1);
}

} // namespace platform
