#pragma once

// Registers the icons compiled into the desktop library; a static library's resources are
// registered only when a program asks for them.
void initDesktopResources();
