#include "DesktopResources.h"
#include "PDebugLog.h"
#include "PLanguages.h"
#include "PSettings.h"
#include "PStopSignals.h"
#include "ResourceLimits.h"
#include "VorelServer.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace {

// One line on standard error, as the service program writes its own.
void warn(const QString &text)
{
    const QByteArray line = (QLatin1String("VorelServer: warning: ") + text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char **argv)
{
    // Every terminal's session holds descriptors: as many as this process may have.
    platform::raiseOpenFileLimit();
    QApplication app(argc, argv);
    // SIGTERM, SIGINT and SIGHUP (a logout, a session manager's stop, Ctrl+C) end the program as
    // the confirmed close does, without asking. Open boxes and dialogs are left first, unconfirmed.
    PStopSignals stopSignals;
    bool stopRequested = false;
    QObject::connect(&stopSignals, &PStopSignals::stopRequested, [&stopRequested]() {
        stopRequested = true;
        QApplication::exit(0);
    });
    initDesktopResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/VorelServer/Resources/pellamor2.png")));
    // Hiding the window into the tray must not end the program; only the confirmed close does.
    QApplication::setQuitOnLastWindowClosed(false);

    // Each step reads what the one before prepared: the catalogue decides the default language,
    // the settings the log and the language, and the translator must stand before any text.
    languages.scan();
    loadSettings(QString::fromLatin1(kSettingsFileName), warn);
    const PSettings loaded = settings.snapshot();
    debugLog.report = warn;
    if (loaded.createDebug == 1)
        debugLog.start();
    languages.setLanguage(loaded.language);

    VorelServer window;
    if (loaded.runAtStartup == 1)
        window.startButton();
    window.showAtStartup();
    // A request that came while a box of the start-up was open has already ended its loop.
    const int result = stopRequested ? 0 : QApplication::exec();
    if (stopRequested)
        window.endServing();
    // The application object still exists: the sessions still running end here, or the
    // program leaves without them once the wait is over.
    if (!window.teardown()) {
        debugLog.stop();
        platform::leaveProcess(result);
    }
    return result;
}
