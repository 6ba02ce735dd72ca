#pragma once

#include <QString>

namespace platform {

// The folder that every terminal path of the fuzz build leads into; an absolute path.
extern QString confinedRoot;

} // namespace platform
