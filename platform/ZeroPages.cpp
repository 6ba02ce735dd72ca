#include "ZeroPages.h"

#include <cstdlib>
#include <sys/mman.h>

// AddressSanitizer watches the heap only: under it the buffers come from there, so that an
// overrun of a session buffer is still caught.
#if defined(__SANITIZE_ADDRESS__)
#define VOREL_ZERO_PAGES_FROM_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOREL_ZERO_PAGES_FROM_HEAP 1
#endif
#endif

namespace platform {

char *allocateZeroPages(std::size_t size)
{
#ifdef VOREL_ZERO_PAGES_FROM_HEAP
    return static_cast<char *>(std::calloc(size, 1));
#else
    void *pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<char *>(pages);
#endif
}

void freeZeroPages(char *pages, std::size_t size)
{
    if (!pages)
        return;
#ifdef VOREL_ZERO_PAGES_FROM_HEAP
    (void)size;
    std::free(pages);
#else
    ::munmap(pages, size);
#endif
}

} // namespace platform
