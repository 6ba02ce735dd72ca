#pragma once

// The switches that exist only for tests and the fuzz build, declared here together so that a
// reader sees them all in one place; the values they set live in TestSeams.cpp. The programs never
// set them: product code only reads each value through its plain accessor.

namespace platform {

// A table file another program holds, or another conversion writes, may come free shortly: a
// failed open sleeps this long before its next try. Tests shorten it so that a refused open does
// not cost ten seconds.
constexpr int kDefaultTableOpenRetryDelayMs = 1000;
void setTableOpenRetryDelayForTesting(int milliseconds);
int tableOpenRetryDelay();

} // namespace platform
