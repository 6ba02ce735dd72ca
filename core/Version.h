#pragma once

#include <QString>

// The program's version text ("2.04" desktop, "2.05" service). Each program defines and sets it
// in its own sources; core reads it for the settings file and the debug log banner.
extern QString versionText;
