// vorel_bench: the speed of the engine, each figure beside its reference in the same run.
// Run it through scripts/bench.sh; `--help` lists the options.

#include "BenchGroups.h"
#include "BenchOptions.h"
#include "BenchReport.h"
#include "PDebugLog.h"
#include "RawServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

// The bench is a program of its own: these are its globals. The log is never started.
QString versionText = QStringLiteral("2.05");
PDebugLog debugLog(QStringLiteral("vorel_bench_debug.txt"));

QString terminalPathOf(const QString &localPath)
{
    return QStringLiteral("C:") + QString(localPath).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

namespace {

const char kUsage[] =
    "usage: vorel_bench [--quick] [--only=GROUP,...] [--rounds=N] [--seconds=S] [--transfer-mib=N]\n"
    "                   [--lines=N] [--terminals=N] [--dir=PATH]\n"
    "groups: roundtrips transfer conversions sessions (all by default)\n"
    "--quick: small sizes for a smoke run; the figures of record are the defaults\n";

bool parse(const QStringList &arguments, BenchOptions &options)
{
    for (const QString &argument : arguments.mid(1)) {
        const QString value = argument.section(QLatin1Char('='), 1);
        bool ok = true;
        if (argument == QLatin1String("--quick")) {
            options.rounds = 1;
            options.transferRounds = 1;
            options.seconds = 0.3;
            options.transferBytes = 16LL << 20;
            options.lines = 20000;
            options.terminals = 100;
        } else if (argument.startsWith(QLatin1String("--only="))) {
            options.groups = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        } else if (argument.startsWith(QLatin1String("--rounds="))) {
            options.rounds = qBound(1, value.toInt(&ok), 20);
            options.transferRounds = options.rounds;
        } else if (argument.startsWith(QLatin1String("--seconds="))) {
            options.seconds = qBound(0.1, value.toDouble(&ok), 30.0);
        } else if (argument.startsWith(QLatin1String("--transfer-mib="))) {
            options.transferBytes = qint64(qBound(1, value.toInt(&ok), 2047)) << 20;
        } else if (argument.startsWith(QLatin1String("--lines="))) {
            options.lines = qBound(1, value.toInt(&ok), 20000000);
        } else if (argument.startsWith(QLatin1String("--terminals="))) {
            options.terminals = qBound(1, value.toInt(&ok), 5000);
        } else if (argument.startsWith(QLatin1String("--dir="))) {
            options.folder = value;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "vorel_bench: unknown or bad option %s\n%s", qPrintable(argument), kUsage);
            return false;
        }
    }
    return true;
}

// Every terminal is a descriptor here and two in the engine (its socket and the handle that ends
// it): the soft limit goes up to the hard one, and the servers inherit it.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

QString loadText()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QStringLiteral("?");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--raw-server") == 0)
        return RawServer::run();
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s", kUsage);
        return 0;
    }
    QCoreApplication app(argc, argv);
    BenchOptions options;
    if (!parse(app.arguments(), options))
        return 2;
    raiseDescriptorLimit();

    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/vorel_bench-XXXXXX"));
    const QString folder = options.folder.isEmpty() ? scratch.path() : options.folder;
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "vorel_bench: cannot use the folder %s\n", qPrintable(folder));
        return 2;
    }
    std::printf("vorel_bench %s, %d cores, load average %s, files in %s\n",
                qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)), QThread::idealThreadCount(),
                qPrintable(loadText()), qPrintable(folder));
    std::printf("Other work on this machine moves the figures: run again when one looks off.\n\n");
    std::fflush(stdout);

    BenchReport report;
    if (options.wants("roundtrips"))
        runRoundTrips(options, folder, report);
    if (options.wants("transfer"))
        runTransfer(options, folder, report);
    if (options.wants("conversions"))
        runConversions(options, folder, report);
    if (options.wants("sessions"))
        runSessions(options, folder, report);

    const bool met = report.print();
    std::printf("\nload average at the end: %s\n%s\n", qPrintable(loadText()),
                met ? "every goal met" : "a goal was missed or a figure failed");
    return met ? 0 : 1;
}
