#pragma once

#include <cstddef>

// Large per-session buffers straight from the system: their pages stay untouched zero pages,
// which cost no memory, until something is written into them, and they go back to the system as
// soon as they are freed. From the C library's heap they would not: a block reused there is
// cleared in full by calloc, so every session would soon hold all of its megabytes.
namespace platform {

// `size` zero bytes, or null when the system has no room.
char *allocateZeroPages(std::size_t size);
// Frees what allocateZeroPages(size) gave; null is ignored.
void freeZeroPages(char *pages, std::size_t size);

} // namespace platform
