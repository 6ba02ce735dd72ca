#include "PDebugLog.h"
#include "Version.h"

// The desktop program keeps its debug log in the working folder.
QString versionText = QStringLiteral("2.04");
PDebugLog debugLog(QStringLiteral("VorelServer_debug.txt"));
