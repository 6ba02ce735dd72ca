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

// True when the peer has reset the connection or ended its sending side, as far as the kernel
// knows now. Reads nothing and does not wait: bytes not yet read stay where they are.
bool peerHasClosed(qintptr descriptor);

// Lengthens the kernel's queue of connections not yet accepted on a listening socket to the
// system's maximum. Qt asks for 50, and Linux drops the connections of a larger burst unseen
// while their terminals believe they are connected. False when the kernel refused.
bool widenListenQueue(qintptr descriptor);

// Blocking mode for a connected socket that Qt adopted (Qt makes it non-blocking): every wait
// then happens inside the receive or send itself, one system call instead of a failed try, a
// poll and a retry. False when the mode cannot be set.
bool makeBlocking(qintptr descriptor);

// The longest time one receive or send waits without any progress, in milliseconds: -1 without
// a limit; 0 is left to the calls' own `noWait`. False when the socket refuses it.
bool setSocketWait(qintptr descriptor, int milliseconds);

// The socket's send buffer in bytes as the kernel counts it; -1 when it cannot be read.
int sendBufferSize(qintptr descriptor);

// The outcome of one receive or send on a blocking socket.
enum class SocketTransfer {
    Moved,     // `count` bytes, at least one when there was anything to move
    WouldWait, // nothing moved: nothing was there (no wait asked), or the wait ran out
    Closed,    // receive only: the peer has closed, or the link was shut down
    Failed,
};

// One receive of up to `length` bytes; with `mayWait` it waits (up to the socket's time-out)
// when nothing is there, otherwise it only takes what is there.
SocketTransfer receiveSome(qintptr descriptor, char *buffer, int length, bool mayWait, int &count);

// One send of `headLength` bytes of `head` followed by `length` bytes of `data`, handed to the
// kernel together so that they can leave in one segment; `count` is the number of bytes of the
// two that went. Waiting as for receiveSome.
SocketTransfer sendSome(qintptr descriptor, const char *head, int headLength, const char *data, int length,
                        bool mayWait, int &count);
// A send of that shape: sendSome, or a stand-in's (TestSeams.h).
using SendFunction = SocketTransfer (*)(qintptr descriptor, const char *head, int headLength, const char *data,
                                        int length, bool mayWait, int &count);

} // namespace platform
