#pragma once

#include <atomic>
#include <memory>

// A manual-reset event that ends waits across threads: once set it stays set, and every poll()
// that watches fd() wakes at once and keeps waking. It is never reset; a new run makes a new
// event, so sessions of the old run still see theirs set. Shared through std::shared_ptr by all
// who wait on it, so it is never closed while one of them still does.
class PStopEvent
{
public:
    PStopEvent();
    ~PStopEvent();
    PStopEvent(const PStopEvent &) = delete;
    PStopEvent &operator=(const PStopEvent &) = delete;

    static std::shared_ptr<PStopEvent> create() { return std::make_shared<PStopEvent>(); }

    // False when the system gave no descriptor: such an event can end nothing.
    bool isValid() const { return fd_ >= 0; }
    // Any thread.
    void set();
    bool isSet() const { return signalled.load(std::memory_order_acquire); }
    // Readable from the moment set() runs.
    int fd() const { return fd_; }

    // Waits up to `timeoutMs` (-1: no limit) for either event (either may be null); true when
    // one of them is set, false when the time ran out.
    static bool waitAny(const PStopEvent *first, const PStopEvent *second, int timeoutMs);

private:
    int fd_ = -1;
    std::atomic<bool> signalled{false};
};
