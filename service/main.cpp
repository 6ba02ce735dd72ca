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
    loadSettings(platform::executableDir() + QLatin1String(kSettingsFileName));
    if (mode != PServiceBase::Mode::Run)
        return service.exec();

    if (settings.snapshot().createDebug == 1)
        debugLog.start();
    VorelServer server;
    const int result = service.exec();
    // The application object still exists: the sessions still running end here, or the
    // program leaves without them once the wait is over.
    const bool ended = server.teardown();
    debugLog.stop();
    if (!ended)
        platform::leaveProcess(result);
    return result;
}
