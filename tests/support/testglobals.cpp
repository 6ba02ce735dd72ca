#include "PDebugLog.h"
#include "Version.h"

// The per-program globals, as the desktop program defines them; tests change versionText to
// stand for the other program.
QString versionText = QStringLiteral("2.04");
PDebugLog debugLog(QStringLiteral("VorelServer_debug.txt"));
