#pragma once

#include <utility>

namespace platform {

// Owns one descriptor: closes it when it goes, unless release() has handed it on. -1 is none.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return fd; }
    bool isValid() const { return fd >= 0; }
    // The descriptor is the caller's from now on.
    int release() { return std::exchange(fd, -1); }
    // Closes the one held (if any) and holds `other` instead.
    void reset(int other = -1);

private:
    int fd = -1;
};

} // namespace platform
