#pragma once

#include <QString>

namespace platform {

// The folder of the running executable, ending with '/'. Without /proc (a container or chroot that
// has none) it is the folder of the name the program was started by: that name itself when it is
// absolute, else taken from the working folder or found through PATH, links resolved. Empty (the
// working folder) when neither tells. Needs no application object, so static objects may use it.
QString executableDir();

} // namespace platform
