#include "ExecutablePath.h"
#include "PDebugLog.h"
#include "Version.h"

// The service keeps its files beside its executable, wherever it is started from.
QString versionText = QStringLiteral("2.05");
PDebugLog debugLog(platform::executableDir() + QStringLiteral("VorelServer_debug.txt"));
