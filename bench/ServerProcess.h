#pragma once

#include <QProcess>
#include <QString>
#include <QtGlobal>

// A server under measurement in a process of its own: the engine as it ships (the VorelService
// program, copied into a folder with a settings file of its own so it listens on a free port), or
// the reference server (this program in its --raw-server mode). Its memory and threads are read
// from /proc. The process is stopped when the object goes.
class ServerProcess
{
public:
    enum class Kind { Engine, Reference };

    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // `folder` receives the engine's program and settings; `networkTimeout` is the engine's
    // setting in seconds. False with `error` set when the server does not answer in time.
    bool start(Kind kind, const QString &folder, int networkTimeout, QString &error);
    void stop();

    quint16 port() const { return listenPort; }
    qint64 pid() const { return process.processId(); }
    // VmRSS of the process in bytes; -1 when it cannot be read.
    qint64 residentBytes() const;
    int threadCount() const;
    // User and system time the process has used so far, in seconds; -1 when it cannot be read.
    double cpuSeconds() const;
    // The time its threads now running have spent on a processor, in seconds, to the
    // nanosecond (cpuSeconds() counts in ticks of 10 ms); -1 when it cannot be read. Threads
    // that have ended are not counted, so it measures spans in which none ends.
    double threadCpuSeconds() const;
    static const char *name(Kind kind) { return kind == Kind::Engine ? "engine" : "reference"; }

private:
    bool startEngine(const QString &folder, int networkTimeout, QString &error);
    bool startReference(QString &error);
    qint64 statusValue(const char *key) const;

    QProcess process;
    quint16 listenPort = 0;
};

// A loopback TCP port that was free a moment ago.
quint16 freeLoopbackPort();
