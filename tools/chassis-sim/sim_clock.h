#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace chassis_sim {

// The millisecond clock every chassis of one simulator stamps its packets with. Tick k is due
// at epoch + k ms; pacing by this absolute schedule keeps the stream free of drift. The epoch
// is a steady-clock instant; its wall-clock time is kept too, for processes that want to
// know how old a sample is.
class SimClock {
public:
    using Clock = std::chrono::steady_clock;

    SimClock();

    // Makes now tick 0.
    void restart();
    // The epoch in Unix milliseconds (rounded), as the system clock saw it at restart().
    std::int64_t epochUnixMs() const { return _epochUnixMs.load(); }
    // Number of whole milliseconds since the epoch at `when` (0 before the epoch).
    std::uint64_t tickAt(Clock::time_point when) const;
    Clock::time_point dueTime(std::uint64_t tick) const;
    // The wire timestamp of the current millisecond.
    std::uint32_t currentTimestamp() const;

private:
    Clock::time_point epoch() const;

    // Nanoseconds of the steady clock; atomic so that restart never races a reader.
    std::atomic<Clock::rep> _epochNanos;
    std::atomic<std::int64_t> _epochUnixMs;
};

}  // namespace chassis_sim
