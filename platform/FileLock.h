#pragma once

// An advisory lock that tells two running copies of the server apart when they share a file.
namespace platform {

// Takes the exclusive advisory lock of the open file behind `fd`, without waiting. It is held
// until the last descriptor of that open file is closed. False when another open file holds it
// (errno EWOULDBLOCK) or the file system cannot lock (errno says which).
bool lockExclusively(int fd);

} // namespace platform
