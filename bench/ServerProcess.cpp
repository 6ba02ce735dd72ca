#include "ServerProcess.h"

#include "BenchTerminal.h"
#include "PSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStartMs = 10000;

} // namespace

quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

ServerProcess::~ServerProcess()
{
    stop();
}

bool ServerProcess::start(Kind kind, const QString &folder, int networkTimeout, QString &error)
{
    stop();
    const bool started = kind == Kind::Engine ? startEngine(folder, networkTimeout, error) : startReference(error);
    if (!started)
        stop();
    return started;
}

bool ServerProcess::startEngine(const QString &folder, int networkTimeout, QString &error)
{
    const QString program = QDir(folder).filePath(QStringLiteral("VorelService"));
    QFile::remove(program);
    if (!QFile::copy(QStringLiteral(VOREL_SERVICE_BINARY), program)) {
        error = QStringLiteral("cannot copy %1 to %2").arg(QStringLiteral(VOREL_SERVICE_BINARY), program);
        return false;
    }
    PSettings chosen;
    chosen.setDefaults();
    listenPort = freeLoopbackPort();
    chosen.networkPort = listenPort;
    chosen.networkTimeout = networkTimeout;
    chosen.createDebug = 0;
    if (!chosen.save(QDir(folder).filePath(QString::fromLatin1(kSettingsFileName)))) {
        error = QStringLiteral("cannot write the settings file in %1").arg(folder);
        return false;
    }
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Nobody reads it: a full pipe must not stop the server.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setWorkingDirectory(folder);
    process.start(program, {QStringLiteral("-e")});
    if (!process.waitForStarted(kStartMs)) {
        error = QStringLiteral("VorelService did not start: ") + process.errorString();
        return false;
    }
    // Listening once a terminal gets its CONNECT answered.
    QElapsedTimer timer;
    timer.start();
    std::vector<char> reply;
    while (timer.elapsed() < kStartMs) {
        BenchTerminal probe;
        quint32 length = 0;
        if (probe.connectTo(listenPort) && probe.call(BenchRequest("CONNECT"), reply, length) && length == 2)
            return true;
        if (process.state() != QProcess::Running)
            break;
        QThread::msleep(20);
    }
    error = QStringLiteral("VorelService does not answer on port %1").arg(listenPort);
    return false;
}

bool ServerProcess::startReference(QString &error)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--raw-server")});
    if (!process.waitForStarted(kStartMs)) {
        error = QStringLiteral("the reference server did not start: ") + process.errorString();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStartMs && !process.canReadLine())
        process.waitForReadyRead(100);
    const QByteArray line = process.readLine().trimmed();
    bool ok = false;
    if (line.startsWith("PORT "))
        listenPort = quint16(line.mid(5).toUInt(&ok));
    if (!ok || listenPort == 0) {
        error = QStringLiteral("the reference server named no port");
        return false;
    }
    return true;
}

void ServerProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    // The service ends its sessions on SIGTERM; the reference ends when its input closes.
    process.closeWriteChannel();
    process.terminate();
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

qint64 ServerProcess::statusValue(const char *key) const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (pid() <= 0 || !status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            const QList<QByteArray> parts = line.mid(prefix.size()).simplified().split(' ');
            return parts.isEmpty() ? -1 : parts.first().toLongLong();
        }
    }
    return -1;
}

qint64 ServerProcess::residentBytes() const
{
    const qint64 kib = statusValue("VmRSS");
    return kib < 0 ? -1 : kib * 1024;
}

int ServerProcess::threadCount() const
{
    return int(statusValue("Threads"));
}

double ServerProcess::cpuSeconds() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
    if (pid() <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    // The name in parentheses may hold blanks: the fields are counted after its closing one.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    if (fields.size() < 13)
        return -1;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

double ServerProcess::threadCpuSeconds() const
{
    if (pid() <= 0)
        return -1;
    qint64 nanoseconds = 0;
    QDirIterator threads(QStringLiteral("/proc/%1/task").arg(pid()), QDir::Dirs | QDir::NoDotAndDotDot);
    while (threads.hasNext()) {
        // The first field of schedstat: nanoseconds on a processor.
        QFile stat(threads.next() + QStringLiteral("/schedstat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue; // the thread has just ended
        bool ok = false;
        const qint64 value = stat.readLine().split(' ').value(0).toLongLong(&ok);
        if (!ok)
            return -1;
        nanoseconds += value;
    }
    return nanoseconds > 0 ? nanoseconds / 1e9 : -1;
}
