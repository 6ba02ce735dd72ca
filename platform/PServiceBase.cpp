#include "PServiceBase.h"

#include "PStopSignals.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString usage(const QString &program)
{
    return QStringLiteral(
               "Usage: %1 [option]\n"
               "  (none), -e, -exec  run the service in the foreground until SIGTERM, SIGINT or SIGHUP\n"
               "  -v, -version       show the version\n"
               "  -h, -help          show this text\n"
               "Installing, starting, stopping, pausing and resuming the service are the work of\n"
               "the process manager (for example a systemd unit that runs \"%1 -e\").\n")
        .arg(program);
}

} // namespace

PServiceBase::PServiceBase(int argc, char **argv, const QString &name)
    : argc(argc), argv(argv), name(name)
{
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    invocation = modeFor(arguments);
}

PServiceBase::~PServiceBase() = default;

PServiceBase::Mode PServiceBase::modeFor(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return Mode::Run;
    const QString option = arguments.at(1);
    auto is = [&option](const char *shortForm, const char *longForm) {
        return option == QLatin1String(shortForm) || option == QLatin1String(longForm);
    };
    if (is("-e", "-exec"))
        return Mode::Run;
    if (is("-v", "-version"))
        return Mode::Version;
    if (is("-h", "-help"))
        return Mode::Help;
    if (is("-i", "-install") || is("-u", "-uninstall") || is("-s", "-start")
        || is("-t", "-terminate") || is("-p", "-pause") || is("-r", "-resume")
        || is("-c", "-command"))
        return Mode::Unsupported;
    return Mode::Unknown;
}

void PServiceBase::logMessage(const QString &message, MessageType type)
{
    static const char *const kinds[] = {"", "error: ", "warning: ", "information: "};
    print(stderr, name + QLatin1String(": ") + QLatin1String(kinds[type]) + message + QLatin1Char('\n'));
}

int PServiceBase::exec()
{
    const QString program = arguments.isEmpty() ? name : arguments.first();
    switch (invocation) {
    case Mode::Run:
        return run();
    case Mode::Version: {
        QString text = name;
        if (!description.isEmpty())
            text += QLatin1String(" - ") + description;
        const QString version = QCoreApplication::applicationVersion();
        if (!version.isEmpty())
            text += QLatin1String("\nVersion ") + version;
        print(stdout, text + QLatin1String("\nRuns in the foreground under a process manager.\n"));
        return 0;
    }
    case Mode::Help:
        print(stdout, usage(program));
        return 0;
    case Mode::Unsupported:
        print(stderr, QStringLiteral("%1: the option %2 is not available: on this platform the service "
                                     "runs under its process manager, which installs, starts and "
                                     "stops it.\n")
                          .arg(program, arguments.at(1)));
        return 1;
    case Mode::Unknown:
        print(stderr, usage(program));
        return 2;
    }
    return 2;
}

int PServiceBase::run()
{
    createApplication(argc, argv);
    PStopSignals stopSignals;
    if (!stopSignals.isArmed()) {
        logMessage(QStringLiteral("cannot watch for stop signals"), Error);
        return 1;
    }
    bool stopped = false;
    QObject::connect(&stopSignals, &PStopSignals::stopRequested, [this, &stopped]() {
        if (!stopped) {
            stopped = true;
            stop();
        }
        QCoreApplication::exit(0);
    });
    start();
    const int result = executeApplication();
    // The loop may have ended for another reason than a stop signal.
    if (!stopped) {
        stopped = true;
        stop();
    }
    return result;
}
