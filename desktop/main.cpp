#include "DesktopResources.h"
#include "PDebugLog.h"
#include "PLanguages.h"
#include "PSettings.h"
#include "ResourceLimits.h"
#include "VorelServer.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    // Every terminal's session holds descriptors: as many as this process may have.
    platform::raiseOpenFileLimit();
    QApplication app(argc, argv);
    initDesktopResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/VorelServer/Resources/pellamor2.png")));
    // Hiding the window into the tray must not end the program; only the confirmed close does.
    QApplication::setQuitOnLastWindowClosed(false);

    // Each step reads what the one before prepared: the catalogue decides the default language,
    // the settings the log and the language, and the translator must stand before any text.
    languages.scan();
    loadSettings();
    const PSettings loaded = settings.snapshot();
    if (loaded.createDebug == 1)
        debugLog.start();
    languages.setLanguage(loaded.language);

    VorelServer window;
    if (loaded.runAtStartup == 1)
        window.startButton();
    window.showAtStartup();
    const int result = QApplication::exec();
    // The application object still exists: the sessions still running end here, or the
    // program leaves without them once the wait is over.
    if (!window.teardown()) {
        debugLog.stop();
        platform::leaveProcess(result);
    }
    return result;
}
