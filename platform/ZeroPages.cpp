#include "ZeroPages.h"

#include "TestSeams.h"

#include <cstdlib>
#include <utility>

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

namespace {

char *allocate(std::size_t size)
{
    if (takeZeroPagesFault())
        return nullptr;
#ifdef VOREL_ZERO_PAGES_FROM_HEAP
    return static_cast<char *>(std::calloc(size, 1));
#else
    void *pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<char *>(pages);
#endif
}

} // namespace

ZeroPages::ZeroPages(std::size_t size)
    : pages(size ? allocate(size) : nullptr), length(pages ? size : 0)
{
}

ZeroPages::ZeroPages(ZeroPages &&other) noexcept
    : pages(std::exchange(other.pages, nullptr)), length(std::exchange(other.length, 0))
{
}

ZeroPages &ZeroPages::operator=(ZeroPages &&other) noexcept
{
    if (this != &other) {
        reset();
        pages = std::exchange(other.pages, nullptr);
        length = std::exchange(other.length, 0);
    }
    return *this;
}

void ZeroPages::reset()
{
    if (!pages)
        return;
#ifdef VOREL_ZERO_PAGES_FROM_HEAP
    std::free(pages);
#else
    ::munmap(pages, length);
#endif
    pages = nullptr;
    length = 0;
}

} // namespace platform
