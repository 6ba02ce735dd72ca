#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The largest request payload a terminal may send. Every session buffer is sized from it: the
// receive buffer, the command layer's reply and work buffers and the hex text of a radio link.
constexpr std::uint32_t kMaxRequest = 0x100000;

// One large per-session buffer straight from the system: its pages stay untouched zero pages,
// which cost no memory, until something is written into them, and they go back to the system as
// soon as the owner goes. From the C library's heap they would not: a block reused there is
// cleared in full by calloc, so every session would soon hold all of its megabytes.
class ZeroPages
{
public:
    ZeroPages() = default;
    // `size` zero bytes; empty (false) when the system has no room.
    explicit ZeroPages(std::size_t size);
    ~ZeroPages() { reset(); }
    ZeroPages(ZeroPages &&other) noexcept;
    ZeroPages &operator=(ZeroPages &&other) noexcept;
    ZeroPages(const ZeroPages &) = delete;
    ZeroPages &operator=(const ZeroPages &) = delete;

    char *get() const { return pages; }
    std::size_t size() const { return length; }
    explicit operator bool() const { return pages != nullptr; }
    void reset();

private:
    char *pages = nullptr;
    std::size_t length = 0;
};

} // namespace platform
