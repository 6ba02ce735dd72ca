#include "ExecutablePath.h"

#include "TestSeams.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The target of /proc/self/exe, however long: readlink does not say when it had to cut, so the
// buffer grows until the text fits with room to spare.
QByteArray linkedPath()
{
    const QByteArray link = procPath("/proc/self/exe");
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink(link.constData(), buffer.data(), buffer.size());
        if (n < 0)
            return QByteArray();
        if (size_t(n) < buffer.size())
            return QByteArray(buffer.data(), int(n));
        if (buffer.size() > (size_t(1) << 24))
            return QByteArray();
        buffer.resize(buffer.size() * 2);
    }
}

bool isExecutableFile(const QByteArray &path)
{
    struct stat info;
    return ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.constData(), X_OK) == 0;
}

// Where the name the program was started by leads, without /proc: itself when absolute, from
// the working folder when it has a folder part, else the first match in PATH, as a shell found
// it. The real path, links resolved; empty when it leads to no file.
QByteArray startedPath()
{
    const QByteArray name = program_invocation_name ? QByteArray(program_invocation_name) : QByteArray();
    if (name.isEmpty())
        return QByteArray();
    QByteArray found;
    if (name.contains('/')) {
        found = name;
    } else {
        const char *searchPath = ::getenv("PATH");
        for (const QByteArray &folder : QByteArray(searchPath ? searchPath : "").split(':')) {
            // An empty entry stands for the working folder.
            const QByteArray candidate = (folder.isEmpty() ? QByteArray(".") : folder) + '/' + name;
            if (isExecutableFile(candidate)) {
                found = candidate;
                break;
            }
        }
    }
    char resolved[PATH_MAX];
    if (found.isEmpty() || !::realpath(found.constData(), resolved))
        return QByteArray();
    return QByteArray(resolved);
}

} // namespace

QString executableDir()
{
    QByteArray path = linkedPath();
    if (path.isEmpty())
        path = startedPath();
    const QString text = QFile::decodeName(path);
    const int slash = text.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return text.left(slash + 1);
}

} // namespace platform
