#include "ZeroPages.h"

#include <atomic>
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

std::atomic<int> faultCountdown{0};

bool takeFault()
{
    int left = faultCountdown.load();
    while (left > 0) {
        if (faultCountdown.compare_exchange_weak(left, left - 1))
            return left == 1;
    }
    return false;
}

char *allocate(std::size_t size)
{
    if (takeFault())
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

void armZeroPagesFault(int nth)
{
    faultCountdown = nth > 0 ? nth : 0;
}

void disarmZeroPagesFault()
{
    faultCountdown = 0;
}

} // namespace platform
