#pragma once

#include <QtGlobal>

// Native socket handles that Qt does not own (yet, or any more).
namespace platform {

// Closes an accepted socket that no Qt object took over; the peer sees the connection end.
void closeSocket(qintptr descriptor);

// A second handle on the same socket, not inherited by child programs; -1 when none could be
// had. Shutting it down ends the connection for every handle on it.
qintptr duplicateSocket(qintptr descriptor);

// Ends both directions of the connection: a thread waiting on the socket wakes at once and
// sees the link gone.
void shutdownSocket(qintptr descriptor);

} // namespace platform
