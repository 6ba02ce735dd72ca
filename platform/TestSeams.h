#pragma once

#include "NativeSocket.h"

#include <QString>
#include <QtGlobal>

#include <cstdint>

// The switches that exist only for tests and the fuzz build, declared here together so that a
// reader sees them all in one place; the values they set live in TestSeams.cpp. The programs never
// set them: product code only reads each value through its plain accessor.
namespace platform {

// Programs: executeCommand hands its calls to the runner in place, with the same contract, and
// starts none. Null, the default: programs start. Returns the one in place before.
using ProgramRunner = bool (*)(const QString &program, const QString &parameters, bool wait, qint32 &exitCode);
ProgramRunner setProgramRunnerForTesting(ProgramRunner runner);
ProgramRunner programRunner();

// The folder that stands for the root of every terminal path, as the fuzz targets confine their
// terminals; a relative path starts there too, and ".." stops there. `folder` is absolute; empty,
// the default: the whole machine. Returns the one set before.
QString setTerminalRootForTesting(const QString &folder);
QString terminalRoot();

// The pause of a cradle session before it opens its port and after it closes it: 4000 ms unless
// shortened. Returns the one set before.
int setUsbPauseForTesting(int milliseconds);
int usbPauseMs();

// Bounds the session threads at once by `cap` instead of by the descriptor limit; 0, the default:
// by the limit.
void setSessionCapForTesting(int cap);
int fixedSessionCap();

// The send of the Bluetooth and IrDA links, taken by each port as it opens: sendSome, unless a
// stand-in radio link over local sockets put in its own, which charges each send as the radio's
// kernel does. Null puts sendSome back; ports already open keep theirs.
void setRadioSendForTesting(SendFunction send);
SendFunction radioSend();

// A system without memory: the nth session buffer asked for from now (1 = the next one) comes
// back empty; 0 disarms. One shot. Each buffer takes the fault, if it is the one, as it is made.
void armZeroPagesFaultForTesting(int nth);
bool takeZeroPagesFault();

// File writes that must never report a failed write as success: the nth guarded write from now
// (1 = the next one) writes only its first `bytesBeforeFailure` bytes and then fails as a full
// disk would (ENOSPC); 0 disarms. One shot. A guarded write path asks takeWriteFault() before
// every write: true when this one must fail, with the bytes it writes first.
void armWriteFaultForTesting(int nth, std::int64_t bytesBeforeFailure = 0);
bool takeWriteFault(std::int64_t &bytesBeforeFailure);

// A table file another program holds, or another conversion writes, may come free shortly: a
// failed open sleeps this long before its next try. Tests shorten it so that a refused open does
// not cost ten seconds.
constexpr int kDefaultTableOpenRetryDelayMs = 1000;
void setTableOpenRetryDelayForTesting(int milliseconds);
int tableOpenRetryDelay();

// A system without /proc (a container or chroot that has none): the kernel's process folders are
// looked for under `folder` instead, which a test gives as one that does not exist. Empty, the
// default: /proc itself. Returns the one set before.
QString setProcFolderForTesting(const QString &folder);
// The path the program reads for `procPath`, a path that begins with "/proc/": the path itself
// unless the folder was moved. Takes no lock and no allocation while it was not.
QByteArray procPath(const char *procPath);

} // namespace platform
