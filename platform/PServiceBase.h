#pragma once

#include <QFlags>
#include <QString>
#include <QStringList>

// A service program's frame: reads the command line, runs the service in the foreground under
// a process manager (systemd or the like), and turns the manager's stop signal into stop().
// Installing, starting and stopping the service belong to the manager, not to the program.
//
//   (none), -e, -exec   run: build the application, start(), event loop until SIGTERM, SIGINT
//                       or SIGHUP, stop() once on the main thread, exit 0
//   -v, -version        print the name, description and version; exit 0
//   -h, -help           print the options; exit 0
//   -i -u -s -t -p -r -c (and their long forms): say that the process manager does this; exit 1
//   anything else       print the options on stderr; exit 2
// Only the run mode builds the application object.
class PServiceBase
{
public:
    // Under a process manager the service can always be stopped and never paused.
    enum ServiceFlag { Default = 0x0 };
    Q_DECLARE_FLAGS(ServiceFlags, ServiceFlag)
    enum MessageType { Success, Error, Warning, Information };
    enum class Mode { Run, Version, Help, Unsupported, Unknown };

    PServiceBase(int argc, char **argv, const QString &name);
    virtual ~PServiceBase();
    PServiceBase(const PServiceBase &) = delete;
    PServiceBase &operator=(const PServiceBase &) = delete;

    QString serviceName() const { return name; }
    QString serviceDescription() const { return description; }
    void setServiceDescription(const QString &text) { description = text; }
    ServiceFlags serviceFlags() const { return flags; }
    void setServiceFlags(ServiceFlags value) { flags = value; }

    // What this invocation does, read from its first argument; known before exec().
    Mode mode() const { return invocation; }
    static Mode modeFor(const QStringList &arguments);

    // Runs the invocation; the result is the process exit code.
    int exec();

    // One line on stderr, where the process manager's journal collects it.
    void logMessage(const QString &message, MessageType type = Success);

protected:
    virtual void start() = 0;
    virtual void stop() {}
    // No manager request reaches these on this platform; they stay for services that share
    // code with platforms where one does.
    virtual void pause() {}
    virtual void resume() {}
    virtual void processCommand(int /*code*/) {}

    virtual void createApplication(int &argc, char **argv) = 0;
    virtual int executeApplication() = 0;

private:
    int run();

    int argc;
    char **argv;
    QStringList arguments;
    QString name;
    QString description;
    ServiceFlags flags = Default;
    Mode invocation;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(PServiceBase::ServiceFlags)
