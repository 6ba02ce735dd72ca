#pragma once

#include <QString>

namespace platform {

// The folder of the running executable, ending with '/'; empty (the working folder) when the
// system cannot tell. Needs no application object, so static objects may use it.
QString executableDir();

} // namespace platform
