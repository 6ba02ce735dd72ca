#include "ExecutablePath.h"
#include "PDebugLog.h"
#include "PSettings.h"
#include "ResourceLimits.h"
#include "Version.h"
#include "VorelServer.h"
#include "VorelService.h"

int main(int argc, char **argv)
{
    // Every terminal's session holds descriptors: as many as this process may have.
    platform::raiseOpenFileLimit();
    QCoreApplication::setApplicationName(QStringLiteral("VorelService"));
    QCoreApplication::setApplicationVersion(versionText);
    VorelService service(argc, argv);
    // Printing the version or the options touches no file. Every other invocation loads the
    // settings (writing the defaults when there are none), but only one that runs the service
    // starts the log: starting it truncates the log of a service that may be running.
    const PServiceBase::Mode mode = service.mode();
    if (mode == PServiceBase::Mode::Version || mode == PServiceBase::Mode::Help)
        return service.exec();
    // A damaged settings file or a log taken by another copy: one line in the journal.
    const auto warn = [&service](const QString &text) { service.logMessage(text, PServiceBase::Warning); };
    loadSettings(platform::executableDir() + QLatin1String(kSettingsFileName), warn);
    if (mode != PServiceBase::Mode::Run)
        return service.exec();

    debugLog.report = warn;
    if (settings.snapshot().createDebug == 1)
        debugLog.start();
    VorelServer server;
    const int result = service.exec();
    // The application object still exists: the sessions still running end here, or the
    // program leaves without them once the wait is over. The service's log has no stop line: it
    // ends with its last entry.
    const bool ended = server.teardown();
    if (!ended)
        platform::leaveProcess(result);
    return result;
}
